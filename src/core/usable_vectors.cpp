#include "core/usable_vectors.h"

namespace velto {

bool usableVector(int64_t i, const std::vector<int64_t>& timeGroups,
                  const std::vector<FeatureVector>& vectors, int64_t dims) {
  return timeGroups[i] >= 1 && dims >= 1 && static_cast<int64_t>(vectors[i].size()) == dims;
}

UsableCheck checkUsable(const std::vector<int64_t>& timeGroups,
                        const std::vector<FeatureVector>& vectors, int64_t dims) {
  UsableCheck check;
  const auto n = static_cast<int64_t>(timeGroups.size());
  for (int64_t i = 0; i < n && !check.anyUsable; ++i) {
    check.anyUsable = usableVector(i, timeGroups, vectors, dims);
  }
  for (int64_t i = 0; i < n && !check.anyDated; ++i) check.anyDated = timeGroups[i] >= 1;
  return check;
}

}  // namespace velto
