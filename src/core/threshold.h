#pragma once
// The split threshold, drawn from the scores at the caller's own time-group changes.

#include <cstdint>
#include <vector>

#include "core/runs.h"

namespace velto {

// The gaps where one run ends and the next begins right after it (a change of time group
// between two dated photos), ascending. Runs parted by undated photos add none.
std::vector<int64_t> cutDistanceGaps(const std::vector<Run>& runs);

// The cut distances: the scores D of those gaps, in gap order.
std::vector<float> collectCutDistances(const std::vector<float>& D, const std::vector<Run>& runs);

// The split threshold: T_SPLIT_DEFAULT for fewer than MIN_CUTS_FOR_STATS scores, else their
// median kept within [T_SPLIT_FLOOR, T_SPLIT_CEIL]; a NaN median gives the floor.
float splitThreshold(const std::vector<float>& cutDistances);

// The same rule with other bounds: `fallback` for fewer than MIN_CUTS_FOR_STATS scores, else
// their median kept within [floor, ceil] (a NaN median gives the floor).
float medianThreshold(const std::vector<float>& cutDistances, float fallback, float floor,
                      float ceil);

}  // namespace velto
