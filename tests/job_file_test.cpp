// Parsing job files: the order of the checks, the conversion of time-group entries, and inputs
// that could crash or exhaust a reader.
#include "job/job_file.h"

#include <gtest/gtest.h>

#include <limits>

#include "job/time_group.h"

namespace velto {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

std::vector<int64_t> groupsOf(const std::string& timeGroups, int count) {
  std::string photos;
  for (int i = 0; i < count; ++i) photos += i ? ",\"p\"" : "\"p\"";
  const JobReadResult r =
      parseJob("{\"photos\":[" + photos + "],\"timeGroups\":" + timeGroups + "}");
  EXPECT_EQ(r.fault, JobFault::kNone) << timeGroups;
  return r.job.timeGroups;
}

TEST(JobFileTest, ConversionTable) {
  EXPECT_EQ(groupsOf(R"([1, 2.9, -1.5, true, false, null, "3", [1], {}, 1e2, -0.0, 7])", 12),
            (std::vector<int64_t>{1, 2, -1, 1, 0, 0, 0, 0, 0, 100, 0, 7}));
}

TEST(JobFileTest, NumbersOutsideTheRangeSaturate) {
  EXPECT_EQ(groupsOf("[1e300, -1e300, 18446744073709551616, 18446744073709551615, "
                     "9223372036854775807, -9223372036854775808, 9223372036854775808]",
                     7),
            (std::vector<int64_t>{kMax, kMin, kMax, kMax, kMax, kMin, kMax}));
  EXPECT_EQ(saturatingTruncate(9223372036854775807.0), kMax);  // rounds to 2^63
  EXPECT_EQ(saturatingTruncate(-9223372036854775808.0), kMin);
  EXPECT_EQ(saturatingTruncate(std::nan("")), 0);
}

TEST(JobFileTest, FirstFailingCheckDecides) {
  struct Case {
    std::string text;
    JobFault want;
  };
  for (const Case& c : std::vector<Case>{
           {"", JobFault::kNotAnObject},
           {"[]", JobFault::kNotAnObject},
           {"{", JobFault::kNotAnObject},
           {"{} {}", JobFault::kNotAnObject},
           {"{}", JobFault::kBadPhotos},
           {R"({"photos":[1],"timeGroups":[1,2]})", JobFault::kBadPhotos},
           {R"({"photos":[],"timeGroups":null})", JobFault::kBadTimeGroups},
           {R"({"photos":[],"timeGroups":[1]})", JobFault::kLengthsDiffer},
           {R"({"photos":[],"timeGroups":[]})", JobFault::kNone},
       }) {
    EXPECT_EQ(parseJob(c.text).fault, c.want) << c.text;
  }
}

}  // namespace
}  // namespace velto
