#include "core/vector_math.h"

#include <algorithm>
#include <cmath>

namespace velto {

FeatureVector normalized(std::span<const float> v) {
  FeatureVector out(v.begin(), v.end());
  if (v.empty()) return out;
  float s = 0.0f;
  for (const float x : v) s = s + x * x;
  const float norm = std::sqrt(s);
  if (norm <= 0.0f) return out;
  // A division per element, not a multiplication by 1/norm: the two round differently.
  for (float& x : out) x = x / norm;
  return out;
}

std::optional<FeatureVector> meanVector(std::span<const std::span<const float>> vs) {
  if (vs.empty() || vs[0].empty()) return std::nullopt;
  const size_t d = vs[0].size();
  FeatureVector sum(d, 0.0f);
  for (const auto u : vs) {
    // A shorter vector is never passed; reading only what it has keeps a misuse harmless.
    const size_t m = std::min(d, u.size());
    for (size_t k = 0; k < m; ++k) sum[k] = sum[k] + u[k];
  }
  const auto c = static_cast<float>(vs.size());
  for (float& x : sum) x = x / c;
  return sum;
}

float distance(std::span<const float> a, std::span<const float> b) {
  const size_t m = std::min(a.size(), b.size());
  if (m == 0) return 0.0f;
  float s = 0.0f;
  for (size_t k = 0; k < m; ++k) {
    const float t = a[k] - b[k];
    s = s + t * t;
  }
  return std::sqrt(s);
}

}  // namespace velto
