#include "core/cuts.h"

#include <algorithm>
#include <iterator>

#include "core/boundary_scores.h"
#include "core/constants.h"

namespace velto {

namespace {

void cutRun(const Run& run, const std::vector<float>& D, float tSplit,
            std::vector<int64_t>* cutsAt) {
  std::vector<int64_t> candidates;
  for (int64_t i = run.lo; i < run.hi; ++i) {
    // '>=' is false for NaN, so a NaN score never becomes a candidate.
    if (D[i] >= tSplit && isPeak(D, i)) candidates.push_back(i);
  }
  // No candidate is NaN, so '>' is a proper ordering here.
  std::stable_sort(candidates.begin(), candidates.end(),
                   [&](int64_t a, int64_t b) { return D[a] > D[b]; });
  // The bounds kept sorted: the gap before the run, the accepted cuts, the gap after it.
  std::vector<int64_t> bounds = {run.lo - 1, run.hi};
  for (const int64_t c : candidates) {
    const auto next = std::upper_bound(bounds.begin(), bounds.end(), c);
    const int64_t prev = *std::prev(next);
    if (c - prev >= MIN_GROUP_SIZE && *next - c >= MIN_GROUP_SIZE) {
      bounds.insert(next, c);
    }
  }
  cutsAt->insert(cutsAt->end(), bounds.begin() + 1, bounds.end() - 1);
}

}  // namespace

std::vector<int64_t> selectCuts(const std::vector<Run>& runs, const std::vector<float>& D,
                                float tSplit) {
  std::vector<int64_t> cutsAt;
  for (const Run& run : runs) {
    if (run.lo >= run.hi) continue;
    cutRun(run, D, tSplit, &cutsAt);
  }
  return cutsAt;
}

}  // namespace velto
