// Boundary scores against a slow, direct reference, and the peak rule.
#include "core/boundary_scores.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "core/usable_vectors.h"

namespace velto {
namespace {

// Every gap scored from scratch, straight from the definition of its two windows.
std::vector<float> referenceScores(const std::vector<int64_t>& tg,
                                   const std::vector<FeatureVector>& vectors, int64_t dims) {
  const auto n = static_cast<int64_t>(tg.size());
  std::vector<float> D(n > 1 ? n - 1 : 0, 0.0f);
  for (int64_t i = 0; i + 1 < n; ++i) {
    std::vector<std::span<const float>> before, after;
    for (int64_t p = std::max<int64_t>(0, i - 2); p <= i; ++p) {
      if (usableVector(p, tg, vectors, dims)) before.push_back(vectors[p]);
    }
    for (int64_t p = i + 1; p <= std::min(n - 1, i + 3); ++p) {
      if (usableVector(p, tg, vectors, dims)) after.push_back(vectors[p]);
    }
    if (before.empty() || after.empty()) continue;
    D[i] = distance(normalized(*meanVector(before)), normalized(*meanVector(after)));
  }
  return D;
}

TEST(BoundaryScoresTest, MatchesTheDirectDefinitionBitForBit) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (int trial = 0; trial < 500; ++trial) {
    const int64_t n = std::uniform_int_distribution<int64_t>(0, 14)(rng);
    const int64_t dims = std::uniform_int_distribution<int64_t>(1, 6)(rng);
    std::vector<int64_t> tg(n);
    std::vector<FeatureVector> vectors(n);
    for (int64_t i = 0; i < n; ++i) {
      tg[i] = std::uniform_int_distribution<int64_t>(-1, 2)(rng);
      const int kind = std::uniform_int_distribution<int>(0, 5)(rng);
      const int64_t len = kind == 0 ? 0 : kind == 1 ? dims + 1 : dims;
      vectors[i].resize(len);
      for (float& x : vectors[i]) x = kind == 2 ? 0.0f : value(rng);
    }
    const std::vector<float> got = boundaryScores(tg, vectors, dims);
    const std::vector<float> want = referenceScores(tg, vectors, dims);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(std::bit_cast<uint32_t>(got[i]), std::bit_cast<uint32_t>(want[i]))
          << "trial " << trial << " gap " << i;
    }
  }
}

TEST(IsPeakTest, Cases) {
  const std::vector<float> D = {0.2f, 0.5f, 0.5f, 0.1f};
  EXPECT_FALSE(isPeak(D, 0));
  EXPECT_TRUE(isPeak(D, 1));
  EXPECT_TRUE(isPeak(D, 2));
  EXPECT_FALSE(isPeak(D, 3));
  EXPECT_TRUE(isPeak({0.3f}, 0));
  // Radius 2: gap 0 lies outside the window of gap 3.
  EXPECT_TRUE(isPeak({0.7f, 0, 0, 0.3f, 0}, 3));
  EXPECT_FALSE(isPeak({0.7f, 0, 0.3f, 0, 0}, 2));
  // The window is cut at both ends only.
  EXPECT_FALSE(isPeak({0.1f, 0.2f, 0.3f}, 0));
  EXPECT_TRUE(isPeak({0.1f, 0.2f, 0.3f}, 2));
  const float nan = std::nanf("");
  EXPECT_TRUE(isPeak({0.9f, nan, 0.9f}, 1));
  EXPECT_TRUE(isPeak({nan, 0.5f, nan}, 1));
}

}  // namespace
}  // namespace velto
