#include "core/window_scores.h"

#include <algorithm>
#include <span>

#include "core/usable_vectors.h"

namespace velto {

std::vector<float> windowScores(const std::vector<int64_t>& timeGroups,
                                const std::vector<FeatureVector>& vectors, int64_t dims,
                                int64_t window) {
  const auto n = static_cast<int64_t>(timeGroups.size());
  std::vector<float> D(static_cast<size_t>(std::max<int64_t>(n - 1, 0)), 0.0f);
  std::vector<char> usable(timeGroups.size());
  for (int64_t p = 0; p < n; ++p) usable[p] = usableVector(p, timeGroups, vectors, dims);

  std::vector<std::span<const float>> members;
  auto meanOf = [&](int64_t lo, int64_t hi) -> FeatureVector {
    members.clear();
    for (int64_t p = lo; p <= hi; ++p) {
      if (usable[p]) members.emplace_back(vectors[p]);
    }
    if (members.empty()) return {};
    return normalized(*meanVector(members));
  };
  for (int64_t i = 0; i + 1 < n; ++i) {
    const FeatureVector before = meanOf(std::max<int64_t>(0, i - window + 1), i);
    const FeatureVector after = meanOf(i + 1, std::min(n - 1, i + window));
    if (before.empty() || after.empty()) continue;
    D[i] = distance(before, after);
  }
  return D;
}

}  // namespace velto
