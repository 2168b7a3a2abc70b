#pragma once
// The result file's text: one group number per photo.

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

// The compact result text {"groups":[1,1,2,0,3]}: no spaces, no line feed at the end.
std::string encodeGroups(const std::vector<int64_t>& groups);

}  // namespace velto
