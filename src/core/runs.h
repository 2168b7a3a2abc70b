#pragma once
// Runs: maximal stretches of consecutive photos of one positive time group.

#include <cstdint>
#include <vector>

namespace velto {

// A maximal stretch of consecutive photos lo..hi (inclusive) that share one positive
// time-group number.
struct Run {
  Run(int64_t first, int64_t last, int64_t number) : lo(first), hi(last), timeGroup(number) {}
  const int64_t lo;
  const int64_t hi;
  const int64_t timeGroup;
};

// The runs of `timeGroups` in photo order. Undated photos (<= 0) belong to none, and runs are
// never merged across them.
std::vector<Run> buildRuns(const std::vector<int64_t>& timeGroups);

}  // namespace velto
