#pragma once
// The grouping core: from time groups and feature vectors to group numbers. Pure: no I/O, no
// failure, the same input always gives the same output bit for bit.

#include <cstdint>
#include <vector>

#include "core/runs.h"
#include "core/vector_math.h"

namespace velto {

// Every value the grouping computes, kept for tools that show why photos were split.
struct Grouping {
  std::vector<float> D;                  // boundary score of each gap
  std::vector<Run> runs;                 // stretches of one positive time group
  std::vector<int64_t> cutDistanceGaps;  // time-group changes between touching runs
  std::vector<float> cutDistances;       // the scores of those gaps: what the threshold comes from
  bool tSplitIsDefault = true;           // too few cut distances for a median
  float tSplit = 0.0f;                   // the split threshold
  std::vector<int64_t> cutsAt;           // accepted cuts, ascending gap indices
  std::vector<int64_t> groups;           // the result, one number per photo
};

// Requires vectors.size() == timeGroups.size(); dims as fixed by the feature-print step.
Grouping groupPhotos(const std::vector<int64_t>& timeGroups,
                     const std::vector<FeatureVector>& vectors, int64_t dims);

}  // namespace velto
