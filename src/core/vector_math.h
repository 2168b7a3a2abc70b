#pragma once
// Single-precision vector arithmetic with a fixed order of operations: every sum is one running
// sum in index order and every product is rounded before it is added, so a score comes out
// bit for bit the same on every machine and with every compiler setting we allow.

#include <optional>
#include <span>
#include <vector>

namespace velto {

using FeatureVector = std::vector<float>;

// v divided element by element by its Euclidean norm. Returns v itself when it is empty or its
// norm is zero; a NaN element makes every element NaN.
FeatureVector normalized(std::span<const float> v);

// The element-wise mean of `vs`, as long as the first vector; nothing when `vs` is empty or its
// first vector is. Requires every vector to be at least as long as the first one.
std::optional<FeatureVector> meanVector(std::span<const std::span<const float>> vs);

// Euclidean distance over the common prefix of a and b; 0 when either is empty.
float distance(std::span<const float> a, std::span<const float> b);

}  // namespace velto
