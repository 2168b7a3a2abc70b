#pragma once
// Which photos have a usable vector, and whether a job can be grouped by looks at all.

#include <cstdint>
#include <vector>

#include "core/vector_math.h"

namespace velto {

// A photo takes part in the scores when it is dated, some photo got a print (dims >= 1) and its
// own vector has exactly dims elements. Requires 0 <= i < timeGroups.size() == vectors.size().
bool usableVector(int64_t i, const std::vector<int64_t>& timeGroups,
                  const std::vector<FeatureVector>& vectors, int64_t dims);

struct UsableCheck {
  bool anyUsable = false;
  bool anyDated = false;
  // A job with dated photos needs at least one usable print to be grouped at all.
  bool fails() const { return anyDated && !anyUsable; }
};

UsableCheck checkUsable(const std::vector<int64_t>& timeGroups,
                        const std::vector<FeatureVector>& vectors, int64_t dims);

}  // namespace velto
