// Runs, threshold, cuts and numbering on the cases where an off-by-one or a comparison slip
// changes the result, and invariants of the whole core over many random jobs.
#include "core/grouping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "core/boundary_scores.h"
#include "core/constants.h"
#include "core/cuts.h"
#include "core/numbering.h"
#include "core/threshold.h"

namespace velto {
namespace {

using Cuts = std::vector<int64_t>;
using Scores = std::vector<float>;

std::vector<int64_t> triples(const std::vector<Run>& runs) {
  std::vector<int64_t> out;
  for (const Run& r : runs) out.insert(out.end(), {r.lo, r.hi, r.timeGroup});
  return out;
}

TEST(RunsTest, Cases) {  // each run as lo, hi, time group
  EXPECT_EQ(triples(buildRuns({5, 5, 0, 5})), (std::vector<int64_t>{0, 1, 5, 3, 3, 5}));
  EXPECT_EQ(triples(buildRuns({5, 7, 7})), (std::vector<int64_t>{0, 0, 5, 1, 2, 7}));
  EXPECT_EQ(triples(buildRuns({3, 3, 3})), (std::vector<int64_t>{0, 2, 3}));
  EXPECT_EQ(triples(buildRuns({-1, 4})), (std::vector<int64_t>{1, 1, 4}));
  EXPECT_TRUE(buildRuns({0, 0}).empty());
  EXPECT_TRUE(buildRuns({}).empty());
}

TEST(ThresholdTest, CollectsOnlyChangesBetweenTouchingRuns) {
  const Scores D = {0.1f, 0.2f, 0.3f, 0.4f};
  EXPECT_TRUE(collectCutDistances(D, buildRuns({1, 1, 0, 2, 2})).empty());
  EXPECT_EQ(collectCutDistances(D, buildRuns({1, 2, 2, 3, 0})), (Scores{0.1f, 0.3f}));
  EXPECT_TRUE(collectCutDistances(D, buildRuns({4, 4, 4, 4, 4})).empty());
}

TEST(ThresholdTest, MedianClampAndDefault) {
  struct Case {
    Scores sample;
    float want;
  };
  const float nan = std::nanf("");
  for (const Case& c : std::vector<Case>{
           {{}, T_SPLIT_DEFAULT},
           {{0.9f, 0.9f}, T_SPLIT_DEFAULT},
           {{0.75f, 0.25f, 0.5f}, 0.5f},
           {{0.75f, 0.25f, 0.5f, 0.5625f}, 0.53125f},
           {{0.25f, 0.25f, 0.25f}, T_SPLIT_FLOOR},
           {{0.75f, 0.75f, 0.1f}, T_SPLIT_CEIL},
           {{T_SPLIT_FLOOR, 0.1f, 0.9f}, T_SPLIT_FLOOR},
           {{T_SPLIT_CEIL, 0.1f, 0.9f}, T_SPLIT_CEIL},
           {{0.0f, 0.0f, 0.5f}, T_SPLIT_FLOOR},  // windows without usable photos pull down
           {{nan, nan, nan}, T_SPLIT_FLOOR},
           {{nan, 0.5f, 0.55f, nan, 0.52f}, 0.55f},  // NaNs sort last
       }) {
    EXPECT_EQ(splitThreshold(c.sample), c.want);
  }
}

Cuts cutsOfOneRun(const Scores& D, float tSplit = T_SPLIT_DEFAULT) {
  const auto n = static_cast<int64_t>(D.size()) + 1;
  return selectCuts(buildRuns(std::vector<int64_t>(n, 1)), D, tSplit);
}

TEST(CutsTest, Cases) {
  struct Case {
    Scores D;
    Cuts want;
  };
  for (const Case& c : std::vector<Case>{
           {{0.1f, 0.9f}, {}},                    // 3 photos: the piece after would hold one
           {{0.1f, 0.9f, 0.1f}, {1}},             // 4 photos: two pieces of two
           {{0.1f, 0.5f, 0.1f}, {}},              // a peak below the threshold
           {{0.9f, 0.1f, 0.1f, 0.1f, 0.9f}, {}},  // peaks at both ends leave single photos
           {{0.1f, 0.2f, 0.3f, 0.9f, 0.9f, 0.3f, 0.2f, 0.1f, 0.1f}, {3}},     // equal peaks
           {{0.1f, 0.2f, 0.3f, 0.9f, 0.5f, 0.9f, 0.2f, 0.1f, 0.1f}, {3, 5}},  // piece of two
           {{0.1f, 0.54f, 0.1f}, {1}},                                        // score == tSplit
           {{0.1f, std::nextafter(0.54f, 0.0f), 0.1f}, {}},
           {{0.1f, std::nanf(""), 0.1f}, {}},
           // A higher score two gaps away takes the peak from gap 1.
           {{0.1f, 0.7f, 0.1f, 0.8f, 0.1f, 0.1f, 0.1f}, {3}},
           // Equal peaks: gap 0 comes first but is dropped, so gap 1 is still free to be cut.
           {{0.9f, 0.9f, 0.1f, 0.1f, 0.1f}, {1}},
       }) {
    EXPECT_EQ(cutsOfOneRun(c.D), c.want);
  }
  EXPECT_TRUE(cutsOfOneRun({}).empty());
}

TEST(CutsTest, PeaksLookAcrossRunsButCutsStayInside) {
  // Runs 0..3 and 4..7. Gap 3 (the time-group change) is the highest score and blocks the
  // peak at gap 1 (within radius 2) but is never a cut itself.
  const Scores D = {0.1f, 0.8f, 0.1f, 0.95f, 0.1f, 0.96f, 0.1f};
  const auto runs = buildRuns({1, 1, 1, 1, 2, 2, 2, 2});
  EXPECT_EQ(selectCuts(runs, D, T_SPLIT_DEFAULT), (Cuts{5}));
}

TEST(NumberingTest, Cases) {
  struct Case {
    std::vector<int64_t> tg;
    Cuts cuts;
    std::vector<int64_t> want;
  };
  for (const Case& c : std::vector<Case>{
           // Without cuts, the runs of time groups (more in velto-fprint-replay's test).
           {{0, 0, 7, 7, 3, 0, 3}, {}, {0, 0, 1, 1, 2, 0, 3}},
           {{1, 1, 1, 1}, {1}, {1, 1, 2, 2}},
           {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {3, 5}, {1, 1, 1, 1, 2, 2, 3, 3, 3, 3}},
           {{1, 1, 2, 2}, {1}, {1, 1, 2, 2}},
       }) {
    EXPECT_EQ(numberGroups(c.tg, c.cuts), c.want);
  }
}

// Over many random jobs: every group lies in one run and holds at least MIN_GROUP_SIZE photos
// unless its whole run is smaller, every cut is a peak that reaches tSplit, numbers rise by 1,
// and the same input gives the same output.
TEST(GroupingInvariantsTest, RandomJobs) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (int trial = 0; trial < 2000; ++trial) {
    const int64_t n = std::uniform_int_distribution<int64_t>(0, 30)(rng);
    std::vector<int64_t> tg(n);
    std::vector<FeatureVector> vectors(n);
    int64_t t = 1;
    for (int64_t i = 0; i < n; ++i) {
      const int step = std::uniform_int_distribution<int>(0, 9)(rng);
      if (step == 0) t++;
      tg[i] = step == 1 ? 0 : t;
      vectors[i] = {value(rng), value(rng), value(rng)};
    }
    const Grouping g = groupPhotos(tg, vectors, 3);
    ASSERT_EQ(g.groups, groupPhotos(tg, vectors, 3).groups);
    const std::set<int64_t> cutSet(g.cutsAt.begin(), g.cutsAt.end());
    for (const velto::Run& run : g.runs) {
      int64_t pieceStart = run.lo;
      for (int64_t i = run.lo; i <= run.hi; ++i) {
        if (i < run.hi && !cutSet.count(i)) continue;
        if (i < run.hi) {
          EXPECT_TRUE(isPeak(g.D, i));
          EXPECT_GE(g.D[i], g.tSplit);
        }
        EXPECT_GE(i - pieceStart + 1, std::min<int64_t>(MIN_GROUP_SIZE, run.hi - run.lo + 1));
        pieceStart = i + 1;
      }
    }
    for (int64_t i = 0, last = 0; i < n; ++i) {  // undated: 0; dated: the last group or one more
      ASSERT_TRUE(tg[i] <= 0 ? g.groups[i] == 0 : g.groups[i] == last || g.groups[i] == last + 1);
      if (tg[i] > 0) last = g.groups[i];
    }
  }
}

}  // namespace
}  // namespace velto
