#pragma once
// Cut selection: where each run is split, strongest peaks first.

#include <cstdint>
#include <vector>

#include "core/runs.h"

namespace velto {

// The gaps at which runs are cut, ascending: inside each run, the peaks of D that reach
// tSplit, strongest first (equal scores in gap order), each accepted only when both pieces it
// leaves between its neighbouring bounds keep MIN_GROUP_SIZE photos. Runs never constrain
// each other.
std::vector<int64_t> selectCuts(const std::vector<Run>& runs, const std::vector<float>& D,
                                float tSplit);

}  // namespace velto
