#include "core/numbering.h"

#include <algorithm>

namespace velto {

std::vector<int64_t> numberGroups(const std::vector<int64_t>& timeGroups,
                                  const std::vector<int64_t>& cutsAt) {
  const auto n = static_cast<int64_t>(timeGroups.size());
  std::vector<int64_t> groups(timeGroups.size(), 0);
  int64_t g = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (timeGroups[i] <= 0) continue;
    const bool continues = i > 0 && timeGroups[i - 1] == timeGroups[i] &&
                           !std::binary_search(cutsAt.begin(), cutsAt.end(), i - 1);
    if (!continues) ++g;
    groups[i] = g;
  }
  return groups;
}

}  // namespace velto
