// Every input the fuzzers ever tripped over (fuzz/regressions/), and the job fuzzer's seeds,
// replayed in the normal test suite: decoding, job parsing and metadata reading must survive
// each one quietly and give a consistent answer.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include "embedding/embedding_analysis.h"
#include "image/image_decode.h"
#include "image/image_header.h"
#include "job/job_file.h"
#include "metadata/capture_time.h"
#include "metadata/xmp_sidecar.h"
#include "testing/decode_checks.h"
#include "testing/test_support.h"

namespace velto {
namespace {

using namespace velto::testing;

const std::string kFuzz = VELTO_FUZZ_DIR;

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> paths;
  for (const std::string& name : listFolder(folder)) paths.push_back(folder + "/" + name);
  return paths;
}

TEST(FuzzRegressionTest, ImageFindingsDecodeQuietlyToNothingOrAValidPicture) {
  const std::vector<std::string> files = filesIn(kFuzz + "/regressions/image");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    const std::string bytes = readFile(path);
    CapturedOutput captured;
    const std::optional<cv::Mat> image = decodeImageBytes(bytes, kDecodeMinShortSide);
    EXPECT_EQ(captured.text(), "") << path;
    if (!image) continue;
    EXPECT_EQ(image->type(), CV_8UC3) << path;
    ASSERT_FALSE(image->empty()) << path;
    const cv::Mat input = networkInput(*image);
    EXPECT_EQ(input.size(), cv::Size(224, 224)) << path;
    EXPECT_EQ(input.type(), CV_32FC3) << path;
  }
}

// The job fuzzer's seeds, and whatever it ever found.
TEST(FuzzRegressionTest, JobSeedsAndFindingsParseConsistently) {
  std::vector<std::string> files = filesIn(kFuzz + "/corpus/job");
  ASSERT_FALSE(files.empty());
  if (exists(kFuzz + "/regressions/job")) {
    for (const std::string& path : filesIn(kFuzz + "/regressions/job")) files.push_back(path);
  }
  for (const std::string& path : files) {
    const JobReadResult r = parseJob(readFile(path));
    EXPECT_NE(r.fault, JobFault::kUnreadable) << path;
    if (r.fault == JobFault::kNone) {
      EXPECT_EQ(r.job.photos.size(), r.job.timeGroups.size()) << path;
    }
  }
}

// Each finding as a photo and as a sidecar: the capture time read quietly (or none), and a
// sidecar either refused with a reason or merged into one that a second run leaves unchanged.
TEST(FuzzRegressionTest, MetadataFindingsReadQuietlyAndMergeToAFixedPoint) {
  const std::vector<std::string> files = filesIn(kFuzz + "/regressions/metadata");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    CapturedOutput captured;
    (void)readCaptureTime(path);
    EXPECT_EQ(captured.text(), "") << path;
    for (const std::optional<std::string>& leaf :
         {std::optional<std::string>("2026-12-07 14-03 (5 photos)"), std::optional<std::string>()}) {
      SidecarMerge first, second;
      std::string err;
      if (!mergeSeriesKeyword(readFile(path), leaf, &first, &err)) {
        EXPECT_NE(err, "") << path;
        continue;
      }
      if (!first.changed) continue;
      EXPECT_TRUE(mergeSeriesKeyword(first.bytes, leaf, &second, &err)) << path << ": " << err;
      EXPECT_FALSE(second.changed) << path;
    }
  }
}

// The first finding: a PNG header declaring two sides of almost 2^32 made the pixel count
// overflow 64 bits (tests/data/images/refused holds that file). Sides at the edge of the
// limit, alone and multiplied.
TEST(FuzzRegressionTest, DeclaredSidesNearTwoToThe32AreRefusedWithoutOverflow) {
  constexpr int64_t kSide = 0xFFFFFFFF;
  EXPECT_FALSE(acceptableSize({kSide, kSide}));
  EXPECT_FALSE(acceptableSize({kSide, 1}));
  EXPECT_FALSE(acceptableSize({1, kSide}));
  EXPECT_FALSE(acceptableSize({0xE0E0E0E0, 0xE0E0E0E0}));
  EXPECT_TRUE(acceptableSize({kMaxImagePixels, 1}));
  EXPECT_FALSE(acceptableSize({kMaxImagePixels + 1, 1}));
  EXPECT_TRUE(acceptableSize({16384, 16384}));
  EXPECT_FALSE(acceptableSize({16384, 16385}));
}

}  // namespace
}  // namespace velto
