// The image decoder keeps the image libraries quiet. Broken and hostile files are covered end
// to end (e2e_hostile_test) and by the fuzzers' regression files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <opencv2/imgcodecs.hpp>

#include "decode_test_images.h"
#include "fprint/image_decode.h"
#include "testing/test_support.h"

namespace velto {
namespace {

using namespace velto::testing;

constexpr int64_t kFullSize = std::numeric_limits<int64_t>::max();

std::optional<cv::Mat> quietDecode(const std::string& bytes, int64_t minShortSide = kFullSize) {
  CapturedOutput captured;
  std::optional<cv::Mat> image = decodeImageBytes(bytes, minShortSide);
  EXPECT_EQ(captured.text(), "");
  return image;
}

void expectNothingOrValid(const std::optional<cv::Mat>& image, const std::string& what) {
  if (!image) return;
  EXPECT_EQ(image->type(), CV_8UC3) << what;
  EXPECT_FALSE(image->empty()) << what;
}

TEST(DecodeHostileFilesTest, LibraryWarningsAreNotPrinted) {
  const cv::Mat picture = quadrantPicture(64, 48);
  // A damaged ancillary chunk makes libpng warn and go on; stray bytes between JPEG markers
  // make libjpeg warn and go on; an unknown tag makes libtiff warn and go on.
  const std::string png =
      insertPngChunk(encode(picture, ".png"), "tEXt", std::string("Comment\0hi", 10), true);
  const std::string jpeg = insertAfterSoi(encode(picture, ".jpg"), exifApp1(1) + "xyz");
  std::string tiff = rawTiff(picture, 1);
  // Entry 8 is RowsPerStrip (278), which may be left out; make it an unknown tag 0x7000.
  tiff[10 + 12 * 8] = '\x00';
  tiff[10 + 12 * 8 + 1] = '\x70';
  for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"png", png}, {"jpeg", jpeg}, {"tiff", tiff}}) {
    const auto image = quietDecode(bytes);  // checks that nothing was printed
    expectNothingOrValid(image, name);
  }
  EXPECT_TRUE(quietDecode(png));
  EXPECT_TRUE(quietDecode(jpeg));
}

}  // namespace
}  // namespace velto
