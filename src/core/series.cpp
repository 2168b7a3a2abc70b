#include "core/series.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "core/boundary_scores.h"
#include "core/constants.h"
#include "core/numbering.h"
#include "core/series_weights.h"
#include "core/threshold.h"
#include "core/window_scores.h"

namespace velto {

namespace {

// How far the score of gap i stands above the larger of its neighbours' (0 with none).
double prominence(const std::vector<float>& D, int64_t i) {
  const auto size = static_cast<int64_t>(D.size());
  bool any = false;
  float neighbour = 0.0f;
  for (const int64_t j : {i - 1, i + 1}) {
    if (j < 0 || j >= size) continue;
    neighbour = any ? std::max(neighbour, D[j]) : D[j];
    any = true;
  }
  return any ? static_cast<double>(D[i]) - neighbour : 0.0;
}

double gapEvidence(const SeriesGrouping& s, const std::vector<char>& fixedCut, int64_t i) {
  const Grouping& f = s.fixed;
  const bool fixedPeak = f.D[i] >= f.tSplit && isPeak(f.D, i);
  double z = SERIES_W_BIAS;
  z += SERIES_W_FIXED_CUT * (fixedCut[i] ? 1.0 : 0.0);
  z += SERIES_W_FIXED_PEAK * (fixedPeak ? 1.0 : 0.0);
  for (int64_t w = 0; w < SERIES_WINDOWS; ++w) {
    const std::vector<float>& D = s.scores[w];
    const double t = s.thresholds[w];
    z += SERIES_W_WINDOW[w][0] * (D[i] / t);
    z += SERIES_W_WINDOW[w][1] * (prominence(D, i) / t);
    z += SERIES_W_WINDOW[w][2] * D[i];
  }
  return z;
}

// Candidates of one run: evidence enough, and no stronger gap next to it inside the run.
std::vector<int64_t> runCandidates(const Run& run, const std::vector<double>& z) {
  std::vector<int64_t> candidates;
  for (int64_t i = run.lo; i < run.hi; ++i) {
    // '>=' is false for NaN, so a NaN evidence is never a candidate.
    if (!(z[i] >= SERIES_MIN_EVIDENCE)) continue;
    const bool left = i - 1 < run.lo || !(z[i - 1] > z[i]);
    const bool right = i + 1 >= run.hi || !(z[i + 1] > z[i]);
    if (left && right) candidates.push_back(i);
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](int64_t a, int64_t b) { return z[a] > z[b]; });
  return candidates;
}

}  // namespace

double evidenceProbability(double logOdds) { return 1.0 / (1.0 + std::exp(-logOdds)); }

SeriesGrouping groupSeries(const std::vector<int64_t>& timeGroups,
                           const std::vector<FeatureVector>& vectors, int64_t dims) {
  SeriesGrouping s;
  // The fixed rules' verdict is part of the evidence, and their scores are the widest window.
  s.fixed = groupPhotos(timeGroups, vectors, dims);
  // The same job seen at narrower windows, each calibrated by the time-group changes.
  for (int64_t w = 0; w < SERIES_WINDOWS; ++w) {
    s.scores[w] = w + 1 == WINDOW ? s.fixed.D : windowScores(timeGroups, vectors, dims, w + 1);
    s.thresholds[w] = medianThreshold(collectCutDistances(s.scores[w], s.fixed.runs),
                                      SERIES_T_FALLBACK, SERIES_T_FLOOR, SERIES_T_CEIL);
  }
  // Evidence of a scene change at every gap inside a run.
  std::vector<char> fixedCut(s.fixed.D.size(), 0);
  for (const int64_t c : s.fixed.cutsAt) fixedCut[c] = 1;
  s.evidence.assign(s.fixed.D.size(), 0.0);
  for (const Run& run : s.fixed.runs) {
    for (int64_t i = run.lo; i < run.hi; ++i) s.evidence[i] = gapEvidence(s, fixedCut, i);
  }
  // Cut strongest first, never leaving a piece of one photo.
  for (const Run& run : s.fixed.runs) {
    std::vector<int64_t> bounds = {run.lo - 1, run.hi};
    for (const int64_t c : runCandidates(run, s.evidence)) {
      const auto next = std::upper_bound(bounds.begin(), bounds.end(), c);
      if (c - *std::prev(next) >= MIN_GROUP_SIZE && *next - c >= MIN_GROUP_SIZE) {
        bounds.insert(next, c);
      }
    }
    s.cutsAt.insert(s.cutsAt.end(), bounds.begin() + 1, bounds.end() - 1);
  }
  s.groups = numberGroups(timeGroups, s.cutsAt);
  return s;
}

}  // namespace velto
