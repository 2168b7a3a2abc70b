#pragma once
// The weights of the series grouping's evidence: a logistic regression of "is this gap a scene
// change" fitted on one half of the developer photo sets (by source) and their long-series
// set, and confirmed on the other half (tools/quality/series_study.py, tools/quality/README.md).
// Changing any of them means measuring again there.

#include <cmath>

namespace velto {

// Cut where the fitted probability of a scene change reaches 0.4: ln(0.4 / 0.6).
inline const double SERIES_MIN_EVIDENCE = std::log(0.4 / 0.6);

// The fixed rules' cut at the gap, and their candidate (a peak reaching their threshold).
inline constexpr double SERIES_W_FIXED_CUT = 0.80533;
inline constexpr double SERIES_W_FIXED_PEAK = 0.0219598;
// Per window width 1, 2, 3: score / threshold, prominence / threshold, score.
inline constexpr double SERIES_W_WINDOW[3][3] = {
    {1.09701, 0.283983, 3.17727},
    {0.521553, 3.87129, 1.55784},
    {-0.979771, -0.554747, -0.382882},
};
inline constexpr double SERIES_W_BIAS = -5.20711;

// A window's threshold: the median score at the time-group changes, kept within these bounds,
// or the fallback when the job has fewer than three changes.
inline constexpr float SERIES_T_FLOOR = 0.3f;
inline constexpr float SERIES_T_CEIL = 0.9f;
inline constexpr float SERIES_T_FALLBACK = 0.54f;

}  // namespace velto
