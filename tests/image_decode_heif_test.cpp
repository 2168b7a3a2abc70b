// HEIF and AVIF decoding, on files made with libheif's own encoders.
#include <gtest/gtest.h>

#include <limits>

#include "decode_test_images.h"
#include "image/image_decode.h"
#include "quiet_decode.h"

namespace velto {
namespace {

using namespace velto::testing;

// HEVC and AV1 at quality 90 with 4:2:0 chroma: flat areas come back within a few levels.
constexpr double kTolerance = 12;

TEST(DecodeHeifTest, HeicAndAvifGiveTheUprightPicture) {
  const cv::Mat picture = quadrantPicture(128, 96);
  for (const bool avif : {false, true}) {
    const auto bytes = encodeHeif(picture, avif);
    if (!bytes) {
      ADD_FAILURE() << "libheif has no " << (avif ? "AV1" : "HEVC") << " encoder here";
      continue;
    }
    const auto image = quietDecode(*bytes);
    ASSERT_TRUE(image) << avif;
    EXPECT_EQ(image->type(), CV_8UC3);
    EXPECT_EQ(image->size(), cv::Size(128, 96)) << avif;
    EXPECT_LE(quadrantError(*image), kTolerance) << avif;
  }
}

// HEIF keeps orientation in irot/imir boxes, which libheif applies; it must not be applied a
// second time.
TEST(DecodeHeifTest, AllEightOrientationsComeBackUpright) {
  const cv::Mat upright = quadrantPicture(128, 96);
  for (int o = 1; o <= 8; ++o) {
    const auto bytes = encodeHeif(storedForOrientation(upright, o), false, o);
    ASSERT_TRUE(bytes);
    const auto image = quietDecode(*bytes);
    ASSERT_TRUE(image) << o;
    EXPECT_EQ(image->size(), cv::Size(128, 96)) << o;
    EXPECT_LE(quadrantError(*image), kTolerance) << o;
  }
}

TEST(DecodeHeifTest, ThumbnailIsUsedWhenLargeEnough) {
  const cv::Mat picture = quadrantPicture(512, 384);
  const auto bytes = encodeHeif(picture, false, 1, 320);  // thumbnail 320 x 240
  ASSERT_TRUE(bytes);
  const std::vector<std::pair<int64_t, cv::Size>> cases = {
      {240, {320, 240}},  // the thumbnail exactly suffices
      {200, {320, 240}},  // thumbnail; 240/200 = 1, not shrunk further
      {100, {160, 120}},  // thumbnail, then halved
      // Short of the request, but as large as the network input: still the thumbnail.
      {256, {320, 240}},
      {kFullSize, {320, 240}},
  };
  for (const auto& [minShortSide, expected] : cases) {
    const auto image = quietDecode(*bytes, minShortSide);
    ASSERT_TRUE(image) << minShortSide;
    EXPECT_EQ(image->size(), expected) << minShortSide;
    EXPECT_LE(quadrantError(*image), kTolerance) << minShortSide;
  }
  // A thumbnail smaller than the network input is never taken for a larger request.
  const auto small = encodeHeif(picture, false, 1, 200);  // thumbnail 200 x 150
  ASSERT_TRUE(small);
  const auto image = quietDecode(*small, 256);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->size(), cv::Size(512, 384));
}

TEST(DecodeHeifTest, TurnedImageWithThumbnailComesBackUpright) {
  const cv::Mat upright = quadrantPicture(384, 512);
  const auto bytes = encodeHeif(storedForOrientation(upright, 6), false, 6, 320);
  ASSERT_TRUE(bytes);
  for (const int64_t minShortSide : {int64_t{200}, kFullSize}) {
    const auto image = quietDecode(*bytes, minShortSide);
    ASSERT_TRUE(image) << minShortSide;
    EXPECT_LT(image->cols, image->rows) << minShortSide;
    EXPECT_LE(quadrantError(*image), kTolerance) << minShortSide;
  }
}

// libheif turns each image by its own properties; a thumbnail turned otherwise than its
// primary image would come out turned, so only one turned alike stands in for it.
TEST(DecodeHeifTest, ThumbnailIsUsedOnlyWhenTurnedLikeThePrimary) {
  const cv::Mat stored = storedForOrientation(quadrantPicture(512, 384), 3);
  const cv::Size thumbnail(320, 240);
  const cv::Size primary(512, 384);
  const std::vector<std::pair<int, cv::Size>> cases = {
      {3, thumbnail}, {1, primary}, {2, primary}, {4, primary}};
  for (const auto& [thumbnailOrientation, expected] : cases) {
    const auto bytes = encodeHeif(stored, false, 3, 320, thumbnailOrientation);
    ASSERT_TRUE(bytes);
    const auto image = quietDecode(*bytes, 200);
    ASSERT_TRUE(image) << thumbnailOrientation;
    EXPECT_EQ(image->size(), expected) << thumbnailOrientation;
    EXPECT_LE(quadrantError(*image), kTolerance) << thumbnailOrientation;
  }
}

TEST(DecodeHeifTest, CorruptHeifGivesNothing) {
  const auto good = encodeHeif(quadrantPicture(128, 96), false);
  ASSERT_TRUE(good);
  // A valid ftyp box followed by noise, and the real file cut or overwritten in places.
  cv::RNG rng(7);
  std::vector<std::string> bad;
  std::string noise = good->substr(0, 24);
  for (int i = 0; i < 4000; ++i) noise += static_cast<char>(rng.uniform(0, 256));
  bad.push_back(noise);
  for (const size_t cut : {size_t{30}, good->size() / 3, good->size() / 2, good->size() - 10}) {
    bad.push_back(good->substr(0, cut));
  }
  for (const std::string& bytes : bad) EXPECT_FALSE(quietDecode(bytes)) << bytes.size();
  for (int seed = 0; seed < 40; ++seed) {
    std::string mutated = *good;
    cv::RNG r(static_cast<uint64_t>(seed));
    for (int k = 0; k < 8; ++k) {
      mutated[static_cast<size_t>(r.uniform(24, static_cast<int>(mutated.size())))] =
          static_cast<char>(r.uniform(0, 256));
    }
    const auto image = quietDecode(mutated);  // may decode to something: must not crash
    if (image) {
      EXPECT_EQ(image->type(), CV_8UC3) << seed;
    }
  }
}

}  // namespace
}  // namespace velto
