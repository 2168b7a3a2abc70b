#pragma once
// Group numbers from time groups and accepted cuts.

#include <cstdint>
#include <vector>

namespace velto {

// Group numbers 1, 2, 3 ... in photo order, 0 for undated photos. A new group opens at every
// change of time group, after every undated photo and after every gap in `cutsAt` (ascending).
std::vector<int64_t> numberGroups(const std::vector<int64_t>& timeGroups,
                                  const std::vector<int64_t>& cutsAt);

}  // namespace velto
