// Time-group numbers beyond the 64-bit range, at the exact boundaries. The order of the checks
// and the conversion table are shown end to end (e2e_job_test).
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

TEST(JobFileTest, NumbersOutsideTheRangeSaturate) {
  EXPECT_EQ(groupsOf("[1e300, -1e300, 18446744073709551616, 18446744073709551615, "
                     "9223372036854775807, -9223372036854775808, 9223372036854775808]",
                     7),
            (std::vector<int64_t>{kMax, kMin, kMax, kMax, kMax, kMin, kMax}));
  EXPECT_EQ(saturatingTruncate(9223372036854775807.0), kMax);  // rounds to 2^63
  EXPECT_EQ(saturatingTruncate(-9223372036854775808.0), kMin);
  EXPECT_EQ(saturatingTruncate(std::nan("")), 0);
}

}  // namespace
}  // namespace velto
