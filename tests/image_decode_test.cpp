// The image decoder on well-formed files: every format, orientation, reduced decoding, pixel
// conversions. Pictures are made here; the decoder is only seen through its public functions.
#include "image/image_decode.h"

#include <gtest/gtest.h>
#include <png.h>

#include <limits>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "decode_test_images.h"
#include "quiet_decode.h"
#include "testing/test_support.h"

namespace velto {
namespace {

using namespace velto::testing;

cv::Vec3b pixel(const cv::Mat& rgb, int x, int y) { return rgb.at<cv::Vec3b>(y, x); }

TEST(DecodeFormatsTest, EveryFormatGivesTheUprightPictureInRgb) {
  const cv::Mat picture = quadrantPicture(64, 48);
  struct Case {
    std::string name;
    std::string bytes;
    double tolerance;  // lossy formats blur the edges and shift colours a little
  };
  const std::vector<Case> cases = {
      {"jpeg", encode(picture, ".jpg", {cv::IMWRITE_JPEG_QUALITY, 95}), 8},
      {"progressive jpeg", encode(picture, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}), 12},
      {"png", encode(picture, ".png"), 0},
      {"webp lossless", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}), 0},
      {"webp lossy", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 90}), 12},
      {"tiff", encode(picture, ".tiff"), 0},
      {"tiff written by hand", rawTiff(picture, 0), 0},
      {"bmp", encode(picture, ".bmp"), 0},
      {"cmyk jpeg, adobe", cmykJpeg(picture, true), 8},
      {"cmyk jpeg, plain", cmykJpeg(picture, false), 8},
  };
  for (const Case& c : cases) {
    const auto image = quietDecode(c.bytes);
    ASSERT_TRUE(image) << c.name;
    EXPECT_EQ(image->size(), cv::Size(64, 48)) << c.name;
    EXPECT_LE(quadrantError(*image), c.tolerance) << c.name;
  }
}

// A damaged ancillary chunk makes libpng warn and go on; stray bytes between JPEG markers make
// libjpeg warn and go on; an unknown tag makes libtiff warn and go on. None of it is printed.
TEST(DecodeFormatsTest, LibraryWarningsAreNotPrinted) {
  const cv::Mat picture = quadrantPicture(64, 48);
  const std::string png =
      insertPngChunk(encode(picture, ".png"), "tEXt", std::string("Comment\0hi", 10), true);
  const std::string jpeg = insertAfterSoi(encode(picture, ".jpg"), exifApp1(1) + "xyz");
  std::string tiff = rawTiff(picture, 1);
  // Entry 8 is RowsPerStrip (278), which may be left out; make it an unknown tag 0x7000.
  tiff[10 + 12 * 8] = '\x00';
  tiff[10 + 12 * 8 + 1] = '\x70';
  const auto tiffImage = quietDecode(tiff);  // checks that nothing was printed
  if (tiffImage) {
    EXPECT_FALSE(tiffImage->empty());
  }
  EXPECT_TRUE(quietDecode(png));
  EXPECT_TRUE(quietDecode(jpeg));
}

TEST(DecodeFormatsTest, GreyBecomesThreeEqualChannels) {
  cv::Mat grey(24, 32, CV_8UC1);
  for (int y = 0; y < grey.rows; ++y) {
    for (int x = 0; x < grey.cols; ++x) grey.at<uint8_t>(y, x) = uint8_t(x * 8);
  }
  for (const std::string ext : {".png", ".jpg", ".tiff", ".bmp"}) {
    const auto image = quietDecode(encode(grey, ext));
    ASSERT_TRUE(image) << ext;
    std::vector<cv::Mat> planes;
    cv::split(*image, planes);
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[1]), 0) << ext;
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[2]), 0) << ext;
    EXPECT_NEAR(planes[0].at<uint8_t>(5, 20), 160, ext == std::string(".jpg") ? 6 : 0) << ext;
  }
}

// One row of pixels per case, written as a PNG of the given type, and the RGB expected back:
// alpha composited on white as a*c + (1-a)*255, 16-bit values over 257, rounded to nearest.
TEST(DecodeFormatsTest, PngAlphaAndBitDepthsBecomeRgb) {
  struct Case {
    std::string name;
    int colorType, bitDepth;
    std::vector<uint16_t> samples;
    std::vector<cv::Vec3b> expected;
    std::vector<uint8_t> palette = {}, transparency = {};
  };
  const std::vector<Case> cases = {
      {"rgba",
       PNG_COLOR_TYPE_RGBA,
       8,
       {200, 100, 0, 128, 10, 20, 30, 0, 10, 20, 30, 255, 255, 0, 1, 1},
       // 128/255*200 + 127 = 227.4; alpha 0 is white; alpha 255 is the colour itself;
       // alpha 1 over white: 255, 254.0, 254.004.
       {{227, 177, 127}, {255, 255, 255}, {10, 20, 30}, {255, 254, 254}}},
      {"grey+alpha",
       PNG_COLOR_TYPE_GRAY_ALPHA,
       8,
       {0, 255, 0, 0, 100, 51, 254, 254},
       {{0, 0, 0}, {255, 255, 255}, {224, 224, 224}, {254, 254, 254}}},
      {"grey 16",
       PNG_COLOR_TYPE_GRAY,
       16,
       {0, 128, 129, 65535, 25828, 25829},
       // 128/257 = 0.498 down, 129/257 = 0.502 up; 25828/257 = 100.498, 25829/257 = 100.502
       {{0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {255, 255, 255}, {100, 100, 100}, {101, 101, 101}}},
      {"rgb 16",
       PNG_COLOR_TYPE_RGB,
       16,
       {65535, 32896, 0, 257, 514, 771},
       {{255, 128, 0}, {1, 2, 3}}},
      {"rgba 16",
       PNG_COLOR_TYPE_RGBA,
       16,
       {65535, 0, 32768, 32768, 0, 0, 0, 65535},
       // alpha 32768/65535 over white: 255; 32767/257 = 127.498; 191.25
       {{255, 127, 191}, {0, 0, 0}}},
      {"grey+alpha 16",
       PNG_COLOR_TYPE_GRAY_ALPHA,
       16,
       {0, 0, 65535, 65535},
       {{255, 255, 255}, {255, 255, 255}}},
      {"grey 1 bit",
       PNG_COLOR_TYPE_GRAY,
       1,
       {0, 1, 1, 0},
       {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}}},
      {"palette with transparency",
       PNG_COLOR_TYPE_PALETTE,
       8,
       {0, 1, 2},
       {{9, 8, 7}, {255, 255, 255}, {255, 128, 128}},
       {9, 8, 7, 1, 2, 3, 255, 1, 1},
       {255, 0, 128}},
      {"grey with transparent value", PNG_COLOR_TYPE_GRAY, 8, {7, 8}, {{255, 255, 255}, {8, 8, 8}}},
  };
  for (const Case& c : cases) {
    const int width = static_cast<int>(c.expected.size());
    std::string png;
    if (c.name == "grey with transparent value") {
      // tRNS for grey names one transparent grey value rather than a table.
      png = writePng(width, 1, c.colorType, c.bitDepth, c.samples);
      const std::string trns("\0\x07", 2);
      png = insertPngChunk(png, "tRNS", trns);
    } else {
      png = writePng(width, 1, c.colorType, c.bitDepth, c.samples, c.palette, c.transparency);
    }
    const auto image = quietDecode(png);
    ASSERT_TRUE(image) << c.name;
    ASSERT_EQ(image->size(), cv::Size(width, 1)) << c.name;
    for (int x = 0; x < width; ++x) {
      EXPECT_EQ(pixel(*image, x, 0), c.expected[x]) << c.name << " pixel " << x;
    }
  }
}

// The same conversions through libtiff (which premultiplies alpha itself) and libwebp.
TEST(DecodeFormatsTest, AlphaAndSixteenBitsInTiffAndWebp) {
  cv::Mat rgba(1, 3, CV_8UC4);
  rgba.at<cv::Vec4b>(0, 0) = {200, 100, 0, 128};
  rgba.at<cv::Vec4b>(0, 1) = {10, 20, 30, 0};
  rgba.at<cv::Vec4b>(0, 2) = {10, 20, 30, 255};
  const std::vector<cv::Vec3b> composited = {{227, 177, 127}, {255, 255, 255}, {10, 20, 30}};
  // OpenCV writes a fourth TIFF sample without ExtraSamples, which makes it plain data.
  const std::vector<cv::Vec3b> opaque = {{200, 100, 0}, {10, 20, 30}, {10, 20, 30}};
  const std::vector<std::tuple<std::string, std::string, std::vector<cv::Vec3b>>> cases = {
      {"tiff, unassociated alpha", rawTiff(rgba, 1), composited},
      {"tiff, unspecified extra sample", encode(rgba, ".tiff"), opaque},
      {"webp", encode(rgba, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}), composited},
  };
  for (const auto& [name, bytes, expected] : cases) {
    const auto image = quietDecode(bytes);
    ASSERT_TRUE(image) << name;
    for (int x = 0; x < 3; ++x) EXPECT_EQ(pixel(*image, x, 0), expected[x]) << name << x;
  }
  cv::Mat rgb16(1, 3, CV_16UC3);
  rgb16.at<cv::Vec3w>(0, 0) = {65535, 32896, 0};
  rgb16.at<cv::Vec3w>(0, 1) = {257, 514, 771};
  rgb16.at<cv::Vec3w>(0, 2) = {128, 129, 25829};  // 0.498, 0.502, 100.502 times 257
  const auto image = quietDecode(encode(rgb16, ".tiff"));
  ASSERT_TRUE(image);
  EXPECT_EQ(pixel(*image, 0, 0), cv::Vec3b(255, 128, 0));
  EXPECT_EQ(pixel(*image, 1, 0), cv::Vec3b(1, 2, 3));
  EXPECT_EQ(pixel(*image, 2, 0), cv::Vec3b(0, 1, 101));
}

// Each Exif orientation, written the way a camera does (stored pixels plus tag), must come
// back as the same upright picture, in every format that can carry the tag.
TEST(DecodeOrientationTest, AllEightOrientationsComeBackUpright) {
  const cv::Mat upright = quadrantPicture(64, 48);
  for (int o = 1; o <= 8; ++o) {
    const cv::Mat stored = storedForOrientation(upright, o);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"jpeg, big-endian exif", insertAfterSoi(encode(stored, ".jpg"), exifApp1(o, true))},
        {"jpeg, little-endian exif", insertAfterSoi(encode(stored, ".jpg"), exifApp1(o, false))},
        {"png eXIf", insertPngChunk(encode(stored, ".png"), "eXIf", exifApp1(o).substr(4 + 6))},
        {"webp EXIF", webpWithExif(stored, o)},
        {"tiff", rawTiff(stored, o)},
    };
    for (const auto& [name, bytes] : files) {
      const auto image = quietDecode(bytes);
      ASSERT_TRUE(image) << name << " orientation " << o;
      EXPECT_EQ(image->size(), cv::Size(64, 48)) << name << " orientation " << o;
      EXPECT_LE(quadrantError(*image), 10) << name << " orientation " << o;
    }
  }
}

TEST(DecodeOrientationTest, InvalidOrientationValuesLeaveThePixelsAsStored) {
  const cv::Mat upright = quadrantPicture(64, 48);
  for (const int o : {0, 9, 255}) {
    const auto image = quietDecode(insertAfterSoi(encode(upright, ".jpg"), exifApp1(o)));
    ASSERT_TRUE(image) << o;
    EXPECT_LE(quadrantError(*image), 10) << o;
  }
}

// A 4000 x 3000 JPEG decodes at the smallest n/8 scale whose short side still reaches the
// asked one, then shrinks by whole factors while the short side stays at least that large.
TEST(DecodeScalingTest, JpegPicksTheSmallestSufficientDctScale) {
  static const std::string big = encode(quadrantPicture(4000, 3000), ".jpg");
  static const std::string odd = encode(quadrantPicture(4001, 3001), ".jpg");
  struct Case {
    const std::string* bytes;
    int64_t minShortSide;
    cv::Size expected;
  };
  const std::vector<Case> cases = {
      {&big, 256, {500, 375}},     // 1/8
      {&big, 375, {500, 375}},     // 1/8 exactly reaches it
      {&big, 376, {1000, 750}},    // 2/8; a factor of 750/376 = 1 leaves it
      {&big, 751, {1500, 1125}},   // 3/8
      {&big, 1500, {2000, 1500}},  // 4/8
      {&big, 2626, {4000, 3000}},  // 7/8 gives 2625, one short: 8/8
      {&big, 3000, {4000, 3000}},  // 8/8
      {&big, 3001, {4000, 3000}},  // larger than the image: full size
      {&big, 100, {166, 125}},     // 1/8, then shrunk by 375/100 = 3
      {&big, 0, {1, 1}},           // below 1 counts as 1
      {&odd, 256, {501, 376}},     // libjpeg rounds scaled sides up
  };
  for (const Case& c : cases) {
    const auto image = quietDecode(*c.bytes, c.minShortSide);
    ASSERT_TRUE(image) << c.minShortSide;
    EXPECT_EQ(image->size(), c.expected) << c.minShortSide;
    if (c.expected.height >= 16) {
      EXPECT_LE(quadrantError(*image), 8) << c.minShortSide;
    }
  }
}

// PNG shrinks after decoding, WebP while libwebp decodes: the same whole factors either way.
TEST(DecodeScalingTest, OtherFormatsShrinkByWholeFactors) {
  const cv::Mat picture = quadrantPicture(1000, 800);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"png", encode(picture, ".png")},
      {"webp", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101})}};
  const std::vector<std::pair<int64_t, cv::Size>> cases = {
      {256, {333, 266}},   // 800/256 = 3
      {400, {500, 400}},   // exactly 2
      {401, {1000, 800}},  // 800/401 = 1: unchanged
      {kFullSize, {1000, 800}},
  };
  for (const auto& [format, bytes] : files) {
    for (const auto& [minShortSide, expected] : cases) {
      const auto image = quietDecode(bytes, minShortSide);
      ASSERT_TRUE(image) << format << minShortSide;
      EXPECT_EQ(image->size(), expected) << format << minShortSide;
      EXPECT_LT(quadrantError(*image), format == "png" ? 1e-9 : 3) << format << minShortSide;
    }
  }
  // Alpha is averaged with its colour when libwebp scales: a half-transparent colour stays the
  // same colour on white.
  const cv::Mat translucent(800, 1000, CV_8UC4, cv::Scalar(200, 100, 0, 128));
  const auto scaled =
      quietDecode(encode(translucent, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}), 256);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->size(), cv::Size(333, 266));
  const cv::Vec3b centre = pixel(*scaled, 166, 133);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre[c], cv::Vec3b(227, 177, 127)[c], 2) << c;
  // The short side is the same before and after turning.
  const std::string turned = insertAfterSoi(
      encode(storedForOrientation(quadrantPicture(1000, 800), 6), ".jpg"), exifApp1(6));
  const auto image = quietDecode(turned, 256);
  ASSERT_TRUE(image);
  // Stored 800 x 1000: 3/8 gives 300 x 375, which is then turned.
  EXPECT_EQ(image->size(), cv::Size(375, 300));
  EXPECT_LE(quadrantError(*image), 8);
}

}  // namespace
}  // namespace velto
