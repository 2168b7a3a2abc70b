#include "core/runs.h"

namespace velto {

std::vector<Run> buildRuns(const std::vector<int64_t>& timeGroups) {
  std::vector<Run> runs;
  const auto n = static_cast<int64_t>(timeGroups.size());
  int64_t p = 0;
  while (p < n) {
    if (timeGroups[p] <= 0) {
      ++p;
      continue;
    }
    int64_t q = p;
    while (q + 1 < n && timeGroups[q + 1] == timeGroups[p]) ++q;
    runs.emplace_back(p, q, timeGroups[p]);
    p = q + 1;
  }
  return runs;
}

}  // namespace velto
