#pragma once
// The weights of the series grouping's evidence: a logistic regression of "is this gap a scene
// change" fitted on one half of the developer photo sets (by source) and their long-series
// set, and confirmed on the other half (tools/quality/series_study.py, tools/quality/README.md).
// Changing any of them means measuring again there.

#include <cmath>

namespace velto {

// Cut where the fitted probability of a scene change reaches 0.45: ln(0.45 / 0.55). On half A
// 0.4 to 0.55 score alike on the worst set (in-run F1 0.755 to 0.770); 0.3 and 0.35 fall off.
inline const double SERIES_MIN_EVIDENCE = std::log(0.45 / 0.55);

// The fixed rules' cut at the gap, and their candidate (a peak reaching their threshold).
inline constexpr double SERIES_W_FIXED_CUT = 0.532614;
inline constexpr double SERIES_W_FIXED_PEAK = 0.326428;
// Per window width 1, 2, 3: score / threshold, prominence / threshold, score.
inline constexpr double SERIES_W_WINDOW[3][3] = {
    {1.328, 1.18707, 3.43315},
    {0.0182742, 3.2531, 1.22065},
    {-0.660194, 0.13299, -0.400749},
};
inline constexpr double SERIES_W_BIAS = -5.26456;

// A window's threshold: the median score at the time-group changes, kept within these bounds,
// or the fallback when the job has fewer than three changes.
inline constexpr float SERIES_T_FLOOR = 0.3f;
inline constexpr float SERIES_T_CEIL = 0.9f;
inline constexpr float SERIES_T_FALLBACK = 0.54f;

}  // namespace velto
