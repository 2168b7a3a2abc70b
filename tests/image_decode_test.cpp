// The image decoder on the fixture files of tests/data/images (README there says how they were
// made): every format and variant, orientation, pixel conversions, reduced decoding, refusals;
// and every image the fuzzers ever tripped over (fuzz/regressions/image), replayed: decoding
// survives each one quietly and gives nothing or a picture the network takes.
#include "image/image_decode.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tuple>

#include "embedding/embedding_analysis.h"
#include "image/image_header.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

// The picture the fixtures were made from: four flat quadrants of distinct colours, so that
// every flip and turn is told apart. RGB.
const cv::Vec3b kTopLeft{220, 30, 30}, kTopRight{30, 200, 40}, kBottomLeft{40, 40, 210},
    kBottomRight{230, 230, 60};

cv::Mat quadrantPicture(int width, int height) {
  const int w = width / 2, h = height / 2;
  cv::Mat out(height, width, CV_8UC3, cv::Scalar(kBottomRight));
  out(cv::Rect(0, 0, w, h)).setTo(cv::Scalar(kTopLeft));
  out(cv::Rect(w, 0, width - w, h)).setTo(cv::Scalar(kTopRight));
  out(cv::Rect(0, h, w, height - h)).setTo(cv::Scalar(kBottomLeft));
  return out;
}

// The largest difference between the quadrant colours and the mean of the middle half of each
// quadrant of `rgb`, upright.
double quadrantError(const cv::Mat& rgb) {
  const int w = rgb.cols / 2, h = rgb.rows / 2;
  const std::array<std::pair<cv::Point, cv::Vec3b>, 4> quadrants = {
      {{{0, 0}, kTopLeft}, {{w, 0}, kTopRight}, {{0, h}, kBottomLeft}, {{w, h}, kBottomRight}}};
  double worst = 0;
  for (const auto& [origin, colour] : quadrants) {
    const cv::Rect middle(origin.x + w / 4, origin.y + h / 4, std::max(w / 2, 1),
                          std::max(h / 2, 1));
    const cv::Scalar mean = cv::mean(rgb(middle));
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(mean[c] - colour[c]));
  }
  return worst;
}

// OpenCV's encoder for `ext` (".jpg", ".png", ...) applied to RGB pixels.
std::string encode(const cv::Mat& rgb, const std::string& ext,
                   const std::vector<int>& params = {}) {
  cv::Mat bgr;
  cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
  std::vector<uchar> out;
  EXPECT_TRUE(cv::imencode(ext, bgr, out, params)) << ext;
  return std::string(out.begin(), out.end());
}

// The files of a folder (of tests/data/images, or of the fuzzers' findings), sorted by name.
std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> paths;
  for (const std::string& name : listFolder(folder)) paths.push_back(folder + "/" + name);
  return paths;
}
std::string fixture(const std::string& name) { return readFile(kImages + name); }

// Asks for decoding at full size, whatever the picture's sides.
constexpr int64_t kFullSize = INT64_MAX;

// Decodes with standard output and standard error sent to a file, and fails the test on any
// output or on a picture that is not 8-bit RGB.
std::optional<cv::Mat> quietDecode(const std::string& bytes, int64_t minShortSide = kFullSize) {
  std::optional<cv::Mat> image = quietly([&] { return decodeImageBytes(bytes, minShortSide); });
  EXPECT_TRUE(!image || image->type() == CV_8UC3);
  return image;
}

// Every format, orientation (Exif in JPEG, PNG, WebP and TIFF; irot/imir in HEIF), CMYK JPEG,
// and files whose libraries warn and go on: the upright quadrant picture, 4:3, nothing printed.
// Lossy formats blur the edges and shift flat colours by a few levels.
TEST(DecodeFormatsTest, EveryVariantGivesTheUprightPictureInRgb) {
  const auto files = filesIn(kImages + "upright");
  ASSERT_GE(files.size(), 60u);
  for (const std::string& file : files) {
    const auto image = quietDecode(readFile(file));
    ASSERT_TRUE(image) << file;
    EXPECT_EQ(image->cols * 3, image->rows * 4) << file;
    EXPECT_LE(quadrantError(*image), 12) << file;
  }
  // An unknown TIFF tag: libtiff warns; whatever comes of it, nothing is printed.
  quietDecode(fixture("warning/unknown-tag.tif"));
}

TEST(DecodeFormatsTest, GreyBecomesThreeEqualChannels) {
  for (const std::string& file : filesIn(kImages + "grey")) {
    const auto image = quietDecode(readFile(file));
    ASSERT_TRUE(image) << file;
    std::vector<cv::Mat> planes;
    cv::split(*image, planes);
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[1]), 0) << file;
    EXPECT_EQ(cv::countNonZero(planes[0] != planes[2]), 0) << file;
    const bool lossy = file.ends_with(".jpg");
    EXPECT_NEAR(planes[0].at<uint8_t>(5, 20), 160, lossy ? 6 : 0) << file;
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
    EXPECT_EQ(image->cols, c.width) << c.file;
    EXPECT_EQ(std::vector<Px>(image->begin<Px>(), image->end<Px>()), c.expected) << c.file;
  }
}

// Unsupported variants (2-bit BMP, bit fields at 24 bits), data cut short (RLE without its
// end code too), sides
// beyond the pixel limit (even near 2^32, where products overflow): nothing, quietly.
TEST(DecodeFormatsTest, RefusedFilesGiveNothing) {
  const auto files = filesIn(kImages + "refused");
  ASSERT_GE(files.size(), 9u);
  for (const std::string& file : files) EXPECT_FALSE(quietDecode(readFile(file), 256)) << file;
}

// Reduced decoding: a JPEG at the smallest n/8 scale whose short side still reaches the asked
// one, then every format shrunk by whole factors while the short side stays at least that large
// (PNG after decoding, WebP while libwebp decodes); the short side is the one after turning.
// A HEIF thumbnail stands in when large enough (or as large as the network input), but only
// when turned like its primary image: libheif turns each by its own properties.
TEST(DecodeScalingTest, ReducedSizesAndThumbnailsComeOutUpright) {
  const cv::Mat picture = quadrantPicture(1000, 800);
  const std::map<std::string, std::string> made = {
      {"4000x3000.jpg", encode(quadrantPicture(4000, 3000), ".jpg")},
      {"4001x3001.jpg", encode(quadrantPicture(4001, 3001), ".jpg")},
      {"1000x800.png", encode(picture, ".png")},
      {"1000x800.webp", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101})}};
  struct Case {
    std::string file;
    int64_t minShortSide;
    cv::Size expected;
    double maxError;  // of the quadrant colours
  };
  const std::string thumb320 = "heif/512x384-thumbnail-320.heic";
  for (const Case& c : std::vector<Case>{
           {"4000x3000.jpg", 256, {500, 375}, 8},     // 1/8
           {"4000x3000.jpg", 375, {500, 375}, 8},     // 1/8 exactly reaches it
           {"4000x3000.jpg", 376, {1000, 750}, 8},    // 2/8; a factor of 750/376 = 1 leaves it
           {"4000x3000.jpg", 751, {1500, 1125}, 8},   // 3/8
           {"4000x3000.jpg", 1500, {2000, 1500}, 8},  // 4/8
           {"4000x3000.jpg", 2626, {4000, 3000}, 8},  // 7/8 gives 2625, one short: 8/8
           {"4000x3000.jpg", 3001, {4000, 3000}, 8},  // larger than the image: full size
           {"4000x3000.jpg", 100, {166, 125}, 8},     // 1/8, then shrunk by 375/100 = 3
           {"4000x3000.jpg", 0, {1, 1}, 255},         // below 1 counts as 1
           {"4001x3001.jpg", 256, {501, 376}, 8},     // libjpeg rounds scaled sides up
           // Stored 800 x 1000: 3/8 gives 300 x 375, which is then turned.
           {"scaling/orientation-6-stored-800x1000.jpg", 256, {375, 300}, 8},
           {"1000x800.png", 256, {333, 266}, 1e-9},   // 800/256 = 3
           {"1000x800.png", 400, {500, 400}, 1e-9},   // exactly 2
           {"1000x800.png", 401, {1000, 800}, 1e-9},  // 800/401 = 1: unchanged
           {"1000x800.webp", 256, {333, 266}, 3},
           {"1000x800.webp", 400, {500, 400}, 3},
           {"1000x800.webp", 401, {1000, 800}, 3},
           {thumb320, 240, {320, 240}, 12},  // the thumbnail exactly suffices
           {thumb320, 100, {160, 120}, 12},  // thumbnail, then halved
           // Short of the request, but as large as the network input: still the thumbnail.
           {thumb320, 256, {320, 240}, 12},
           {thumb320, kFullSize, {320, 240}, 12},
           // A thumbnail smaller than the network input is never taken for a larger request.
           {"heif/512x384-thumbnail-200.heic", 256, {512, 384}, 12},
           {"heif/turned-6-thumbnail-320.heic", 200, {240, 320}, 12},
           {"heif/turned-6-thumbnail-320.heic", kFullSize, {240, 320}, 12},
           {"heif/turned-3-thumbnail-320-turned-3.heic", 200, {320, 240}, 12},
           {"heif/turned-3-thumbnail-320-turned-1.heic", 200, {512, 384}, 12},
           {"heif/turned-3-thumbnail-320-turned-2.heic", 200, {512, 384}, 12}}) {
    const auto image =
        quietDecode(made.count(c.file) ? made.at(c.file) : fixture(c.file), c.minShortSide);
    ASSERT_TRUE(image) << c.file << " " << c.minShortSide;
    EXPECT_EQ(image->size(), c.expected) << c.file << " " << c.minShortSide;
    EXPECT_LE(quadrantError(*image), c.maxError) << c.file << " " << c.minShortSide;
  }
  // Alpha is averaged with its colour when libwebp scales: a half-transparent colour stays the
  // same colour on white.
  const auto scaled = quietDecode(fixture("scaling/translucent-1000x800.webp"), 256);
  ASSERT_TRUE(scaled);
  EXPECT_EQ(scaled->size(), cv::Size(333, 266));
  const cv::Vec3b centre = scaled->at<cv::Vec3b>(133, 166);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(centre[c], cv::Vec3b(227, 177, 127)[c], 2) << c;
}

// A valid ftyp box followed by noise and the real file cut give nothing; the real file
// overwritten in places may decode to something, but never crashes or prints.
TEST(DecodeHeifTest, CorruptHeifGivesNothingQuietly) {
  const std::string good = fixture("upright/plain.heic");
  cv::RNG rng(7);
  std::string noise = good.substr(0, 24);
  for (int i = 0; i < 4000; ++i) noise += static_cast<char>(rng.uniform(0, 256));
  for (const std::string& bytes :
       {noise, good.substr(0, 30), good.substr(0, good.size() / 3), good.substr(0, good.size() / 2),
        good.substr(0, good.size() - 10)}) {
    EXPECT_FALSE(quietDecode(bytes)) << bytes.size();
  }
  for (int seed = 0; seed < 40; ++seed) {
    std::string mutated = good;
    cv::RNG r(static_cast<uint64_t>(seed));
    for (int k = 0; k < 8; ++k) {
      mutated[static_cast<size_t>(r.uniform(24, static_cast<int>(mutated.size())))] =
          static_cast<char>(r.uniform(0, 256));
    }
    quietDecode(mutated);
  }
}

TEST(FuzzRegressionTest, ImageFindingsDecodeQuietlyToNothingOrAValidPicture) {
  const std::vector<std::string> files = filesIn(VELTO_FUZZ_DIR "/regressions/image");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::optional<cv::Mat> image = quietDecode(readFile(path), kDecodeMinShortSide);
    if (!image) continue;
    ASSERT_FALSE(image->empty());
    const cv::Mat input = networkInput(*image);
    EXPECT_EQ(input.size(), cv::Size(224, 224));
    EXPECT_EQ(input.type(), CV_32FC3);
  }
}

// The first finding: a PNG header declaring two sides of almost 2^32 made the pixel count
// overflow 64 bits (tests/data/images/refused holds that file). Sides at the edge of the
// limit, alone and multiplied.
TEST(FuzzRegressionTest, DeclaredSidesNearTwoToThe32AreRefusedWithoutOverflow) {
  constexpr int64_t kSide = 0xFFFFFFFF, kMax = kMaxImagePixels;
  const std::tuple<int64_t, int64_t, bool> cases[] = {
      {kSide, kSide, false}, {kSide, 1, false},
      {1, kSide, false},     {0xE0E0E0E0, 0xE0E0E0E0, false},
      {kMax, 1, true},       {kMax + 1, 1, false},
      {16384, 16384, true},  {16384, 16385, false}};
  for (const auto& [width, height, accepted] : cases) {
    EXPECT_EQ(acceptableSize({width, height}), accepted) << width << " x " << height;
  }
}

}  // namespace
}  // namespace velto::testing
