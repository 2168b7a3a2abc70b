// Single-precision arithmetic pinned to the bit where another order of operations differs.
#include "core/vector_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace velto {
namespace {

using Vs = std::vector<std::span<const float>>;

TEST(NormalizedTest, AddsSquaresInIndexOrder) {
  // 4096^2 = 2^24 swallows each later 1 on its own; any other order adds 4 first and the norm
  // grows past 4096, so the first element would fall below 1.
  const FeatureVector v = {4096.0f, 1.0f, 1.0f, 1.0f, 1.0f};
  EXPECT_EQ(normalized(v)[0], 1.0f);
  const FeatureVector reversed = {1.0f, 1.0f, 1.0f, 1.0f, 4096.0f};
  EXPECT_LT(normalized(reversed)[4], 1.0f);
}

TEST(NormalizedTest, DividesEachElementRatherThanMultiplyingByTheReciprocal) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-3.0f, 3.0f);
  int reciprocalWouldDiffer = 0;
  for (int trial = 0; trial < 200; ++trial) {
    FeatureVector v(17);
    for (float& x : v) x = value(rng);
    float s = 0.0f;
    for (const float x : v) s = s + x * x;
    const float norm = std::sqrt(s);
    const FeatureVector out = normalized(v);
    for (size_t k = 0; k < v.size(); ++k) {
      ASSERT_EQ(std::bit_cast<uint32_t>(out[k]), std::bit_cast<uint32_t>(v[k] / norm));
      if (v[k] * (1.0f / norm) != v[k] / norm) ++reciprocalWouldDiffer;
    }
  }
  EXPECT_GT(reciprocalWouldDiffer, 0) << "the cases must tell division from multiplication";
}

TEST(NormalizedTest, EdgeVectors) {
  EXPECT_TRUE(normalized(FeatureVector{}).empty());
  EXPECT_EQ(normalized(FeatureVector{0.0f, 0.0f, 0.0f}), (FeatureVector{0.0f, 0.0f, 0.0f}));
  // Squares that underflow to zero leave the vector as it is.
  EXPECT_EQ(normalized(FeatureVector{1e-30f, -1e-30f}), (FeatureVector{1e-30f, -1e-30f}));
  const FeatureVector withNan = normalized(FeatureVector{1.0f, std::nanf(""), 2.0f});
  for (const float x : withNan) EXPECT_TRUE(std::isnan(x));
}

TEST(MeanVectorTest, AddsVectorsInListOrderThenDivides) {
  const FeatureVector a = {1e8f}, b = {1.0f}, c = {-1e8f};
  // (1e8 + 1) rounds back to 1e8, so the list order gives exactly 0; other orders give 1/3.
  EXPECT_EQ((*meanVector(Vs{a, b, c}))[0], 0.0f);
  EXPECT_EQ((*meanVector(Vs{a, c, b}))[0], 1.0f / 3.0f);
}

TEST(MeanVectorTest, LengthFollowsTheFirstVector) {
  const FeatureVector a = {1, 2}, b = {3, 4, 5}, empty = {};
  EXPECT_EQ(*meanVector(Vs{a, b}), (FeatureVector{2, 3}));
  EXPECT_FALSE(meanVector(Vs{}).has_value());
  EXPECT_FALSE(meanVector(Vs{empty, a}).has_value());
  // A shorter later vector is never passed by the program; it must still not be overread.
  EXPECT_EQ(meanVector(Vs{b, a})->size(), 3u);
}

TEST(DistanceTest, CommonPrefixAndOrder) {
  const FeatureVector zero2 = {0, 0}, v34 = {3, 4}, v123 = {1, 2, 3}, v12 = {1, 2};
  EXPECT_EQ(distance(zero2, v34), 5.0f);
  EXPECT_EQ(distance(v123, v12), 0.0f);
  EXPECT_EQ(distance(FeatureVector{}, v34), 0.0f);
  const FeatureVector big = {4096, 1, 1, 1, 1}, zero5 = {0, 0, 0, 0, 0};
  EXPECT_EQ(distance(big, zero5), 4096.0f);
  EXPECT_TRUE(std::isnan(distance(FeatureVector{std::nanf("")}, FeatureVector{1})));
}

}  // namespace
}  // namespace velto
