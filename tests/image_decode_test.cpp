// The image decoder on the fixture files of tests/data/images (README there says how they were
// made): every format and variant, orientation, pixel conversions, reduced decoding, refusals.
#include "image/image_decode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/decode_checks.h"
#include "testing/test_support.h"

namespace velto {
namespace {

using namespace velto::testing;

std::string fixture(const std::string& name) {
  return readFile(std::string(VELTO_TEST_DATA) + "/images/" + name);
}

std::string nameOf(const std::string& path) { return std::filesystem::path(path).filename(); }

// Every format, orientation (Exif in JPEG, PNG, WebP and TIFF; irot/imir in HEIF), CMYK JPEG,
// and files whose libraries warn and go on: the upright quadrant picture, 4:3, nothing printed.
// Lossy formats blur the edges and shift flat colours by a few levels.
TEST(DecodeFormatsTest, EveryVariantGivesTheUprightPictureInRgb) {
  const auto files = imageFixtures("upright");
  ASSERT_GE(files.size(), 60u);
  for (const std::string& file : files) {
    const auto image = quietDecode(readFile(file));
    ASSERT_TRUE(image) << nameOf(file);
    EXPECT_EQ(image->cols * 3, image->rows * 4) << nameOf(file);
    EXPECT_LE(quadrantError(*image), 12) << nameOf(file);
  }
  // An unknown TIFF tag: libtiff warns; whatever comes of it, nothing is printed.
  quietDecode(fixture("warning/unknown-tag.tif"));
}

TEST(DecodeFormatsTest, GreyBecomesThreeEqualChannels) {
  for (const std::string& file : imageFixtures("grey")) {
    const auto image = quietDecode(readFile(file));
    ASSERT_TRUE(image) << nameOf(file);
    std::vector<cv::Mat> planes;
    cv::split(*image, planes);
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[1]), 0) << nameOf(file);
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[2]), 0) << nameOf(file);
    const bool lossy = file.ends_with(".jpg");
    EXPECT_NEAR(planes[0].at<uint8_t>(5, 20), 160, lossy ? 6 : 0) << nameOf(file);
  }
}

// Pixel by pixel, rows top first: alpha composited on white as a*c + (1-a)*255, 16-bit values
// over 257, rounded to nearest.
TEST(DecodeFormatsTest, AlphaBitDepthsPalettesAndLayoutsBecomeRgb) {
  using Px = cv::Vec3b;
  struct Case {
    std::string file;
    int width;
    std::vector<Px> expected;
  };
  const std::vector<Case> cases = {
      // 128/255*200 + 127 = 227.4; alpha 0 is white; alpha 1 over white: 255, 254.0, 254.004.
      {"rgba.png", 4, {{227, 177, 127}, {255, 255, 255}, {10, 20, 30}, {255, 254, 254}}},
      {"grey-alpha.png", 4, {{0, 0, 0}, {255, 255, 255}, {224, 224, 224}, {254, 254, 254}}},
      // 128/257 = 0.498 down, 129/257 = 0.502 up; 25828/257 = 100.498, 25829/257 = 100.502
      {"grey-16.png",
       6,
       {{0, 0, 0}, {0, 0, 0}, {1, 1, 1}, {255, 255, 255}, {100, 100, 100}, {101, 101, 101}}},
      {"rgb-16.png", 2, {{255, 128, 0}, {1, 2, 3}}},
      // alpha 32768/65535 over white: 255; 32767/257 = 127.498; 191.25
      {"rgba-16.png", 2, {{255, 127, 191}, {0, 0, 0}}},
      {"grey-alpha-16.png", 2, {{255, 255, 255}, {255, 255, 255}}},
      {"grey-1-bit.png", 4, {{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}}},
      {"palette-transparency.png", 3, {{9, 8, 7}, {255, 255, 255}, {255, 128, 128}}},
      {"grey-transparent-value.png", 2, {{255, 255, 255}, {8, 8, 8}}},
      // libtiff premultiplies unassociated alpha itself; an extra sample without ExtraSamples
      // is plain data.
      {"unassociated-alpha.tif", 3, {{227, 177, 127}, {255, 255, 255}, {10, 20, 30}}},
      {"extra-sample-without-meaning.tif", 3, {{200, 100, 0}, {10, 20, 30}, {10, 20, 30}}},
      {"alpha.webp", 3, {{227, 177, 127}, {255, 255, 255}, {10, 20, 30}}},
      {"rgb-16.tif", 3, {{255, 128, 0}, {1, 2, 3}, {0, 1, 101}}},
      {"24-bit-bottom-up.bmp", 2, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}},
      {"24-bit-top-down.bmp", 2, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}},
      {"24-bit-os2.bmp", 2, {{1, 2, 3}, {4, 5, 6}}},
      {"32-bit-unused-byte.bmp", 2, {{1, 2, 3}, {4, 5, 6}}},
      {"32-bit-v5-alpha.bmp", 2, {{227, 177, 127}, {255, 255, 255}, {1, 2, 3}, {255, 255, 255}}},
      {"32-bit-v4-alpha-all-zero.bmp", 2, {{1, 2, 3}, {4, 5, 6}}},  // all zero means opaque
      // 0x8410: 16/31, 32/63, 16/31 of 255
      {"16-bit-565.bmp", 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 130, 132}}},
      {"16-bit-555.bmp", 2, {{255, 0, 0}, {0, 0, 255}}},
      {"8-bit-palette.bmp", 2, {{120, 120, 120}, {40, 40, 40}}},
      {"4-bit-index-past-colours.bmp", 2, {{40, 40, 40}, {0, 0, 0}}},
      {"1-bit-palette.bmp", 2, {{40, 40, 40}, {0, 0, 0}, {0, 0, 0}, {40, 40, 40}}},
      // Bottom row first: a run of index 1, end of row; a literal run of 3 (one past the
      // edge, padded), end of bitmap.
      {"rle8-run-and-literal.bmp", 2, {{120, 120, 120}, {80, 80, 80}, {40, 40, 40}, {40, 40, 40}}},
      // Indices 3 and 1 alternating, end of row, a move one right, a run of one 2, end of
      // bitmap; the pixel moved over keeps index 0.
      {"rle4-alternating-run-and-move.bmp",
       2,
       {{0, 0, 0}, {80, 80, 80}, {120, 120, 120}, {40, 40, 40}}},
  };
  for (const Case& c : cases) {
    const auto image = quietDecode(fixture("pixels/" + c.file));
    ASSERT_TRUE(image) << c.file;
    ASSERT_EQ(image->cols, c.width) << c.file;
    ASSERT_EQ(image->total(), c.expected.size()) << c.file;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(image->at<Px>(static_cast<int>(i) / c.width, static_cast<int>(i) % c.width),
                c.expected[i])
          << c.file << " pixel " << i;
    }
  }
}

// Unsupported variants (2-bit BMP, bit fields at 24 bits), data cut short (RLE without its
// end code too), sides
// beyond the pixel limit (even near 2^32, where products overflow): nothing, quietly.
TEST(DecodeFormatsTest, RefusedFilesGiveNothing) {
  const auto files = imageFixtures("refused");
  ASSERT_GE(files.size(), 9u);
  for (const std::string& file : files) EXPECT_FALSE(quietDecode(readFile(file), 256)) << file;
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
  // The short side is the same before and after turning: stored 800 x 1000, 3/8 gives
  // 300 x 375, which is then turned.
  const auto turned = quietDecode(fixture("scaling/orientation-6-stored-800x1000.jpg"), 256);
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->size(), cv::Size(375, 300));
  EXPECT_LE(quadrantError(*turned), 8);
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
  const auto scaled = quietDecode(fixture("scaling/translucent-1000x800.webp"), 256);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->size(), cv::Size(333, 266));
  const cv::Vec3b centre = scaled->at<cv::Vec3b>(133, 166);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre[c], cv::Vec3b(227, 177, 127)[c], 2) << c;
}

TEST(DecodeHeifTest, ThumbnailIsUsedWhenLargeEnough) {
  const std::string bytes = fixture("heif/512x384-thumbnail-320.heic");
  const std::vector<std::pair<int64_t, cv::Size>> cases = {
      {240, {320, 240}},  // the thumbnail exactly suffices
      {100, {160, 120}},  // thumbnail, then halved
      // Short of the request, but as large as the network input: still the thumbnail.
      {256, {320, 240}},
      {kFullSize, {320, 240}},
  };
  for (const auto& [minShortSide, expected] : cases) {
    const auto image = quietDecode(bytes, minShortSide);
    ASSERT_TRUE(image) << minShortSide;
    EXPECT_EQ(image->size(), expected) << minShortSide;
    EXPECT_LE(quadrantError(*image), 12) << minShortSide;
  }
  // A thumbnail smaller than the network input is never taken for a larger request.
  const auto image = quietDecode(fixture("heif/512x384-thumbnail-200.heic"), 256);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), cv::Size(512, 384));
  // A turned image comes back upright whether the thumbnail or the image is used.
  for (const int64_t minShortSide : {int64_t{200}, kFullSize}) {
    const auto turned = quietDecode(fixture("heif/turned-6-thumbnail-320.heic"), minShortSide);
    ASSERT_TRUE(turned) << minShortSide;
    EXPECT_LT(turned->cols, turned->rows) << minShortSide;
    EXPECT_LE(quadrantError(*turned), 12) << minShortSide;
  }
}

// libheif turns each image by its own properties; a thumbnail turned otherwise than its
// primary image (irot 180) would come out turned, so only one turned alike stands in for it.
TEST(DecodeHeifTest, ThumbnailIsUsedOnlyWhenTurnedLikeThePrimary) {
  const std::vector<std::pair<std::string, cv::Size>> cases = {
      {"3", {320, 240}}, {"1", {512, 384}}, {"2", {512, 384}}};
  for (const auto& [thumbnailOrientation, expected] : cases) {
    const auto image = quietDecode(
        fixture("heif/turned-3-thumbnail-320-turned-" + thumbnailOrientation + ".heic"), 200);
    ASSERT_TRUE(image) << thumbnailOrientation;
    EXPECT_EQ(image->size(), expected) << thumbnailOrientation;
    EXPECT_LE(quadrantError(*image), 12) << thumbnailOrientation;
  }
}

TEST(DecodeHeifTest, CorruptHeifGivesNothing) {
  const std::string good = fixture("upright/plain.heic");
  // A valid ftyp box followed by noise, and the real file cut or overwritten in places.
  cv::RNG rng(7);
  std::vector<std::string> bad;
  std::string noise = good.substr(0, 24);
  for (int i = 0; i < 4000; ++i) noise += static_cast<char>(rng.uniform(0, 256));
  bad.push_back(noise);
  for (const size_t cut : {size_t{30}, good.size() / 3, good.size() / 2, good.size() - 10}) {
    bad.push_back(good.substr(0, cut));
  }
  for (const std::string& bytes : bad) EXPECT_FALSE(quietDecode(bytes)) << bytes.size();
  for (int seed = 0; seed < 40; ++seed) {
    std::string mutated = good;
    cv::RNG r(static_cast<uint64_t>(seed));
    for (int k = 0; k < 8; ++k) {
      mutated[static_cast<size_t>(r.uniform(24, static_cast<int>(mutated.size())))] =
          static_cast<char>(r.uniform(0, 256));
    }
    quietDecode(mutated);  // may decode to something; must not crash or print
  }
}

}  // namespace
}  // namespace velto
