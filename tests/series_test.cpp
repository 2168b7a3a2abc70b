// The series grouping on hand-made sequences where narrow and wide windows disagree, its
// invariants over many random jobs, and the window scores it is built from.
#include "core/series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/boundary_scores.h"
#include "core/constants.h"
#include "core/series_weights.h"
#include "core/window_scores.h"

namespace velto {
namespace {

constexpr int64_t kDims = 24;

// A print looking at scene `scene` (a direction of its own), turned by `drift` (0..1) towards
// scene `towards`, with the constant the real prints end in.
FeatureVector look(int scene, float drift = 0.0f, int towards = 0) {
  FeatureVector v(kDims, 0.0f);
  v[scene] += std::cos(drift * 1.5707964f);
  v[towards] += std::sin(drift * 1.5707964f);
  v[kDims - 1] = 1.0f;
  return v;
}

std::vector<FeatureVector> scenes(const std::vector<int>& sceneOfPhoto) {
  std::vector<FeatureVector> out;
  for (const int s : sceneOfPhoto) out.push_back(look(s));
  return out;
}

using Groups = std::vector<int64_t>;

TEST(SeriesTest, TwoPhotoScenesSideBySide) {
  // Three-photo windows mix neighbouring pairs, so the fixed rules cannot cut them all apart.
  const auto v = scenes({1, 1, 2, 2, 3, 3, 4, 4, 5, 5});
  const std::vector<int64_t> tg(v.size(), 1);
  const SeriesGrouping s = groupSeries(tg, v, kDims);
  EXPECT_EQ(s.groups, (Groups{1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
  EXPECT_NE(s.fixed.groups, s.groups);
}

TEST(SeriesTest, LongDriftingSeriesStaysWhole) {
  // Ten frames turning slowly from one view to another, between two other scenes.
  std::vector<FeatureVector> v = {look(1), look(1), look(1)};
  for (int k = 0; k < 10; ++k) v.push_back(look(2, 0.08f * static_cast<float>(k), 3));
  for (int k = 0; k < 3; ++k) v.push_back(look(4));
  const std::vector<int64_t> tg(v.size(), 1);
  EXPECT_EQ(groupSeries(tg, v, kDims).groups,
            (Groups{1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3}));
}

TEST(SeriesTest, SinglePhotoBetweenScenesJoinsANeighbour) {
  // A piece of one photo is never made: the stray photo goes with one side, the scenes part.
  const auto v = scenes({1, 1, 1, 7, 2, 2, 2});
  const SeriesGrouping s = groupSeries(std::vector<int64_t>(v.size(), 1), v, kDims);
  ASSERT_EQ(s.cutsAt.size(), 1u);
  EXPECT_TRUE(s.cutsAt[0] == 2 || s.cutsAt[0] == 3);
}

TEST(SeriesTest, TimeGroupsRunsOfOneAndUndatedPhotos) {
  // Time group 2 holds one photo; undated photos get 0 and part what is around them.
  const auto v = scenes({1, 1, 2, 3, 3, 3, 3, 3, 4, 4, 4});
  const std::vector<int64_t> tg = {1, 1, 2, 3, 3, 0, 3, 3, 3, 3, -4};
  EXPECT_EQ(groupSeries(tg, v, kDims).groups, (Groups{1, 1, 2, 3, 3, 0, 4, 4, 5, 5, 0}));
}

TEST(SeriesTest, PhotosWithoutPrintsAndEmptyJobs) {
  auto v = scenes({1, 1, 1, 2, 2, 2});
  v[1].clear();
  v[4] = {0.5f};  // another length than the others: unused
  EXPECT_EQ(groupSeries(std::vector<int64_t>(6, 1), v, kDims).groups, (Groups{1, 1, 1, 2, 2, 2}));
  EXPECT_TRUE(groupSeries({}, {}, 0).groups.empty());
  EXPECT_EQ(groupSeries({5}, {look(1)}, kDims).groups, (Groups{1}));
}

TEST(SeriesTest, ThresholdsComeFromTheTimeGroupChanges) {
  // Four scenes, each its own time group: three changes give every window its median.
  const auto v = scenes({1, 1, 2, 2, 3, 3, 4, 4});
  const SeriesGrouping s = groupSeries({1, 1, 2, 2, 3, 3, 4, 4}, v, kDims);
  for (int64_t w = 0; w < SERIES_WINDOWS; ++w) {
    EXPECT_GE(s.thresholds[w], SERIES_T_FLOOR);
    EXPECT_LE(s.thresholds[w], SERIES_T_CEIL);
  }
  EXPECT_EQ(s.thresholds[0], std::min(s.scores[0][1], SERIES_T_CEIL));
  const SeriesGrouping none = groupSeries(std::vector<int64_t>(8, 1), v, kDims);
  EXPECT_EQ(none.thresholds[1], SERIES_T_FALLBACK);
}

TEST(WindowScoresTest, WidestWindowIsTheFixedRulesScore) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int trial = 0; trial < 50; ++trial) {
    const int n = 1 + trial % 12;
    std::vector<int64_t> tg;
    std::vector<FeatureVector> v;
    for (int i = 0; i < n; ++i) {
      tg.push_back(static_cast<int64_t>(rng() % 4) - 1);
      FeatureVector x(5);
      for (float& e : x) e = u(rng);
      if (rng() % 5 == 0) x.clear();
      v.push_back(x);
    }
    const auto want = boundaryScores(tg, v, 5);
    const auto got = windowScores(tg, v, 5, WINDOW);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << trial << " gap " << i;
  }
}

TEST(SeriesTest, InvariantsOverRandomJobs) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = static_cast<int>(rng() % 30);
    std::vector<int64_t> tg;
    std::vector<FeatureVector> v;
    int scene = 1;
    int64_t group = 1;
    for (int i = 0; i < n; ++i) {
      if (rng() % 3 == 0) scene = 1 + static_cast<int>(rng() % 20);
      if (rng() % 6 == 0) group += 1;
      tg.push_back(rng() % 10 == 0 ? 0 : group);
      v.push_back(look(scene, static_cast<float>(rng() % 100) / 400.0f, 21));
    }
    const SeriesGrouping a = groupSeries(tg, v, kDims);
    const SeriesGrouping b = groupSeries(tg, v, kDims);
    ASSERT_EQ(a.groups, b.groups);
    ASSERT_EQ(a.evidence, b.evidence);  // bit for bit
    ASSERT_EQ(a.groups.size(), tg.size());
    for (const velto::Run& run : a.fixed.runs) {
      int64_t last = run.lo - 1;
      for (const int64_t c : a.cutsAt) {
        if (c < run.lo || c >= run.hi) continue;
        EXPECT_GE(a.evidence[c], SERIES_MIN_EVIDENCE);
        if (c > run.lo) {
          EXPECT_GE(a.evidence[c], a.evidence[c - 1]);
        }
        if (c + 1 < run.hi) {
          EXPECT_GE(a.evidence[c], a.evidence[c + 1]);
        }
        EXPECT_GE(c - last, MIN_GROUP_SIZE) << "a piece of one photo";
        last = c;
      }
      if (last >= run.lo) {
        EXPECT_GE(run.hi - last, MIN_GROUP_SIZE) << "a piece of one photo";
      }
    }
    for (size_t i = 0; i < tg.size(); ++i) {
      if (tg[i] <= 0) {
        EXPECT_EQ(a.groups[i], 0);
      }
    }
  }
}

}  // namespace
}  // namespace velto
