#pragma once
// Boundary scores at any window width: what the series grouping compares across scales.

#include <cstdint>
#include <vector>

#include "core/vector_math.h"

namespace velto {

// For each gap i, the distance between the normalised means of the usable vectors at positions
// i-window+1..i and i+1..i+window (clipped to the job, across time-group changes as the fixed
// rules' scores are); 0 where either side has none. With window == WINDOW it gives exactly
// boundaryScores. Requires window >= 1 and vectors.size() == timeGroups.size().
std::vector<float> windowScores(const std::vector<int64_t>& timeGroups,
                                const std::vector<FeatureVector>& vectors, int64_t dims,
                                int64_t window);

}  // namespace velto
