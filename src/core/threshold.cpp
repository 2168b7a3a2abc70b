#include "core/threshold.h"

#include <algorithm>
#include <cmath>

#include "core/constants.h"

namespace velto {

std::vector<int64_t> cutDistanceGaps(const std::vector<Run>& runs) {
  std::vector<int64_t> gaps;
  for (size_t k = 0; k + 1 < runs.size(); ++k) {
    if (runs[k].hi + 1 == runs[k + 1].lo) gaps.push_back(runs[k].hi);
  }
  return gaps;
}

std::vector<float> collectCutDistances(const std::vector<float>& D, const std::vector<Run>& runs) {
  std::vector<float> cutDistances;
  for (const int64_t gap : cutDistanceGaps(runs)) cutDistances.push_back(D[gap]);
  return cutDistances;
}

float splitThreshold(const std::vector<float>& cutDistances) {
  return medianThreshold(cutDistances, T_SPLIT_DEFAULT, T_SPLIT_FLOOR, T_SPLIT_CEIL);
}

float medianThreshold(const std::vector<float>& cutDistances, float fallback, float floor,
                      float ceil) {
  if (static_cast<int64_t>(cutDistances.size()) < MIN_CUTS_FOR_STATS) return fallback;
  std::vector<float> sorted = cutDistances;
  // '<' alone is no ordering once a NaN is present; NaNs go last so the sort stays defined.
  std::sort(sorted.begin(), sorted.end(), [](float a, float b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
  });
  const size_t c = sorted.size();
  const size_t h = c / 2;
  const float m = c % 2 == 1 ? sorted[h] : (sorted[h - 1] + sorted[h]) * 0.5f;
  const float m1 = m > floor ? m : floor;
  return m1 < ceil ? m1 : ceil;
}

}  // namespace velto
