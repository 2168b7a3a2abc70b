// The image decoder on files that are not photos, broken photos, and hostile ones: nothing
// may crash, hang, print or allocate without bound; the answer is nothing or a valid image.
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

std::optional<cv::Mat> quietDecodeFile(const std::string& path) {
  CapturedOutput captured;
  std::optional<cv::Mat> image = decodeImage(path, 256);
  EXPECT_EQ(captured.text(), "") << path;
  return image;
}

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

TEST(DecodeHostileFilesTest, WhatIsNoRegularReadableImageFileGivesNothing) {
  TempDir dir;
  writeFile(dir.file("empty.jpg"), "");
  writeFile(dir.file("text.jpg"), "This is not a photo.\n");
  writeFile(dir.file("almost-bmp.jpg"), "BM, said the text file");
  std::filesystem::create_directory(dir.file("folder.jpg"));
  ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);  // no writer: must not block
  std::filesystem::create_symlink(dir.file("loop-b.jpg"), dir.file("loop-a.jpg"));
  std::filesystem::create_symlink(dir.file("loop-a.jpg"), dir.file("loop-b.jpg"));
  const std::vector<std::string> paths = {
      dir.file("empty.jpg"),
      dir.file("text.jpg"),
      dir.file("almost-bmp.jpg"),
      dir.file("folder.jpg"),
      dir.file("fifo.jpg"),
      dir.file("loop-a.jpg"),
      dir.file("missing"),
      "/dev/zero",
      "/dev/null",
      "",
  };
  for (const std::string& path : paths) EXPECT_FALSE(quietDecodeFile(path)) << path;
}

TEST(DecodeHostileFilesTest, UnreadableFileGivesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  writeFile(dir.file("locked.png"), encode(quadrantPicture(32, 24), ".png"));
  ::chmod(dir.file("locked.png").c_str(), 0);
  EXPECT_FALSE(quietDecodeFile(dir.file("locked.png")));
}

// A file cut short anywhere gives nothing, rather than a picture padded with grey.
TEST(DecodeHostileFilesTest, TruncatedFilesGiveNothing) {
  const cv::Mat picture = quadrantPicture(96, 64);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"baseline jpeg", encode(picture, ".jpg")},
      {"progressive jpeg", encode(picture, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1})},
      {"png", encode(picture, ".png")},
  };
  for (const auto& [name, bytes] : files) {
    ASSERT_TRUE(quietDecode(bytes)) << name;
    // Into the header, into the data, and at the very end (only the end marker missing).
    for (const size_t cut :
         {size_t{1}, size_t{2}, size_t{3}, size_t{10}, size_t{100}, bytes.size() / 3,
          bytes.size() / 2, bytes.size() - 12, bytes.size() - 2, bytes.size() - 1}) {
      EXPECT_FALSE(quietDecode(bytes.substr(0, cut))) << name << " cut at " << cut;
    }
  }
  // Other formats may or may not recover part of the picture; they must just survive.
  for (const std::string ext : {".webp", ".tiff", ".bmp"}) {
    const std::string bytes = encode(picture, ext);
    for (size_t cut = 1; cut < bytes.size(); cut += bytes.size() / 23 + 1) {
      expectNothingOrValid(quietDecode(bytes.substr(0, cut)), ext + " cut");
    }
  }
}

TEST(DecodeHostileFilesTest, GarbageAfterHeadersNeverCrashes) {
  const cv::Mat picture = quadrantPicture(96, 64);
  for (const std::string ext : {".jpg", ".png", ".webp", ".tiff", ".bmp"}) {
    const std::string good = encode(picture, ext);
    for (int seed = 0; seed < 30; ++seed) {
      cv::RNG rng(static_cast<uint64_t>(seed));
      // The header kept, the rest noise; or the whole file with a few bytes overwritten.
      std::string noise = good.substr(0, 40);
      for (size_t i = 40; i < good.size(); ++i) noise += static_cast<char>(rng.uniform(0, 256));
      std::string mutated = good;
      for (int k = 0; k < 10; ++k) {
        mutated[static_cast<size_t>(rng.uniform(2, static_cast<int>(good.size())))] =
            static_cast<char>(rng.uniform(0, 256));
      }
      expectNothingOrValid(quietDecode(noise), ext + " noise " + std::to_string(seed));
      expectNothingOrValid(quietDecode(mutated), ext + " mutated " + std::to_string(seed));
    }
  }
}

// Files whose headers claim enormous pictures are refused from the header alone: they are
// tiny, so any attempt to allocate the declared size would be the only slow thing here.
TEST(DecodeHostileFilesTest, DecompressionBombsAreRefusedFromTheHeader) {
  const cv::Mat tiny = quadrantPicture(16, 16);
  std::string jpeg = encode(tiny, ".jpg");
  // SOF0 follows the quantisation tables; its height and width sit 5 and 7 bytes in.
  const size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  jpeg[sof + 5] = jpeg[sof + 7] = '\xFF';  // 65296 x 65296
  jpeg[sof + 6] = jpeg[sof + 8] = '\x10';
  std::string webp = webpWithExif(tiny, 1);
  for (const size_t at : {size_t{24}, size_t{27}}) webp.replace(at, 3, "\xFF\xFF\xFF");
  std::string bmp = encode(tiny, ".bmp");
  bmp.replace(18, 8, std::string("\0\0\1\0\0\0\1\0", 8));  // 65536 x 65536
  const std::vector<std::pair<std::string, std::string>> bombs = {
      {"png 100000 x 100000", pngHeaderOnly(100000, 100000)},
      {"png one pixel over the limit", pngHeaderOnly(16384, 16385)},
      {"png 2^31-1 square", pngHeaderOnly(0x7FFFFFFF, 0x7FFFFFFF)},
      {"png zero wide", pngHeaderOnly(0, 100)},
      {"tiff 1000000 x 1000000", rawTiff(tiny, 1, 1000000, 1000000)},
      {"tiff 4294967295 x 2", rawTiff(tiny, 1, 0xFFFFFFFF, 2)},
      {"tiff zero high", rawTiff(tiny, 1, 16, 0)},
      {"jpeg 65296 x 65296", jpeg},
      {"webp 16777216 x 16777216", webp},
      {"bmp 65536 x 65536", bmp},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [name, bytes] : bombs) EXPECT_FALSE(quietDecode(bytes, 256)) << name;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
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
