#pragma once
#include <vector>

#include "scoring/runs.h"

namespace velto {

// The scores of the gaps where one run ends and the next begins right after it (a change of
// time group between two dated photos), in gap order. Runs parted by undated photos add none.
std::vector<float> collectCutDistances(const std::vector<float>& D, const std::vector<Run>& runs);

// The split threshold: T_SPLIT_DEFAULT for fewer than MIN_CUTS_FOR_STATS scores, else their
// median kept within [T_SPLIT_FLOOR, T_SPLIT_CEIL]; a NaN median gives the floor.
float splitThreshold(const std::vector<float>& cutDistances);

}  // namespace velto
