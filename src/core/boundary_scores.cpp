#include "core/boundary_scores.h"

#include <algorithm>
#include <array>
#include <optional>

#include "core/constants.h"
#include "core/usable_vectors.h"

namespace velto {

namespace {

// The normalised mean of the usable vectors at positions lo..hi, nothing when there is none.
std::optional<FeatureVector> windowMean(int64_t lo, int64_t hi, const std::vector<char>& usable,
                                        const std::vector<FeatureVector>& vectors) {
  std::array<std::span<const float>, WINDOW> members;
  size_t count = 0;
  for (int64_t p = lo; p <= hi; ++p) {
    if (usable[p]) members[count++] = vectors[p];
  }
  if (count == 0) return std::nullopt;
  const auto mean = meanVector(std::span(members.data(), count));
  return normalized(*mean);
}

}  // namespace

std::vector<float> boundaryScores(const std::vector<int64_t>& timeGroups,
                                  const std::vector<FeatureVector>& vectors, int64_t dims) {
  const auto n = static_cast<int64_t>(timeGroups.size());
  std::vector<float> D(static_cast<size_t>(std::max<int64_t>(n - 1, 0)), 0.0f);
  std::vector<char> usable(timeGroups.size());
  for (int64_t p = 0; p < n; ++p) usable[p] = usableVector(p, timeGroups, vectors, dims);

  // The before window of gap i (positions i-2..i) is the after window of gap i-3, so each
  // window ending at position e is averaged once and kept while gaps e..e-3 need it. Only the
  // after windows of the last two gaps are cut short by the end and are computed apart.
  constexpr int64_t kKept = WINDOW + 1;
  std::array<std::optional<FeatureVector>, kKept> endingAt;
  auto windowEndingAt = [&](int64_t e) -> std::optional<FeatureVector>& {
    return endingAt[static_cast<size_t>(e % kKept)];
  };
  for (int64_t e = 0; e < std::min(n, WINDOW); ++e) {
    windowEndingAt(e) = windowMean(std::max<int64_t>(0, e - WINDOW + 1), e, usable, vectors);
  }
  for (int64_t i = 0; i + 1 < n; ++i) {
    const int64_t afterEnd = i + WINDOW;
    std::optional<FeatureVector> tail;
    if (afterEnd <= n - 1) {
      windowEndingAt(afterEnd) = windowMean(afterEnd - WINDOW + 1, afterEnd, usable, vectors);
    } else {
      tail = windowMean(i + 1, n - 1, usable, vectors);
    }
    const std::optional<FeatureVector>& before = windowEndingAt(i);
    const std::optional<FeatureVector>& after = afterEnd <= n - 1 ? windowEndingAt(afterEnd) : tail;
    if (!before || !after) continue;
    D[i] = distance(*before, *after);
  }
  return D;
}

bool isPeak(const std::vector<float>& D, int64_t i) {
  const auto size = static_cast<int64_t>(D.size());
  const int64_t first = std::max<int64_t>(i - PEAK_RADIUS, 0);
  const int64_t last = std::min<int64_t>(i + PEAK_RADIUS, size - 1);
  for (int64_t j = first; j <= last; ++j) {
    if (D[j] > D[i]) return false;
  }
  return true;
}

}  // namespace velto
