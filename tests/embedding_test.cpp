// The built-in network and the prints it gives: agreement with the original network, stable
// bits, and the same picture giving nearly the same print whatever its file format or stored
// orientation.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_recipe.h"
#include "image/image_decode.h"
#include "image/pixel_ops.h"
#include "prints/feature_prints.h"
#include "testing/decode_checks.h"
#include "testing/test_support.h"

namespace velto {
namespace {

using testing::kImages;
using testing::kPhotos;

EmbeddingAnalysis& analysis() {
  static EmbeddingAnalysis instance;
  return instance;
}

FeatureVector printOf(const std::string& path) {
  const auto print = analysis().featurePrint(path);
  return print ? decodePrint(*print) : FeatureVector{};
}

TEST(EmbeddingNetworkTest, ReproducesTheOriginalNetwork) {
  ASSERT_TRUE(analysis().ready());
  // Vectors recorded from the original framework on 224 x 224 photos (see data/net/README.md).
  std::ifstream reference(std::string(VELTO_TEST_DATA) + "/net/reference.txt");
  int checked = 0;
  for (std::string line; std::getline(reference, line);) {
    std::istringstream fields(line);
    std::string name;
    fields >> name;
    std::vector<double> want;
    for (double x; fields >> x;) want.push_back(x);
    const auto got = analysis().pooledFeatures(std::string(VELTO_TEST_DATA) + "/net/" + name);
    ASSERT_TRUE(got.has_value()) << name;
    ASSERT_EQ(got->size(), want.size()) << name;
    double maxRef = 0, maxDiff = 0;
    for (size_t k = 0; k < want.size(); ++k) {
      maxRef = std::max(maxRef, std::abs(want[k]));
      maxDiff = std::max(maxDiff, std::abs(want[k] - (*got)[k]));
    }
    EXPECT_LT(maxDiff / maxRef, 1e-4) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

TEST(EmbeddingNetworkTest, PrintsAreBitIdenticalWhateverThePhotosInFlight) {
  // Every example photo twice over, HEICs among them (decoded with the streams silenced while
  // other threads work) and a photo without a print, analysed one at a time and with 2, 3 and 7
  // photos in flight (7 on fewer processors: the threads are descheduled at random points).
  const std::string heic = kImages + "photo/cat_2.heic";
  std::vector<std::string> photos = {heic, kPhotos + "missing.jpg", heic};
  for (int round = 0; round < 2; ++round) {
    for (const std::string& name : testing::listFolder(kPhotos)) photos.push_back(kPhotos + name);
  }
  EmbeddingAnalysis one(1);
  ASSERT_EQ(one.concurrency(), 1);
  const FeaturePrints alone = extractFeaturePrints(photos, one);
  ASSERT_EQ(alone.dims, kPrintLength);
  EXPECT_TRUE(alone.vectors[1].empty());
  EXPECT_EQ(alone.vectors[3], printOf(photos[3]));
  for (const int inFlight : {2, 3, 7}) {
    EmbeddingAnalysis many(inFlight);
    ASSERT_EQ(many.concurrency(), inFlight);
    const FeaturePrints got = extractFeaturePrints(photos, many);
    EXPECT_EQ(got.dims, alone.dims);
    for (size_t i = 0; i < photos.size(); ++i) {
      EXPECT_EQ(got.vectors[i], alone.vectors[i]) << inFlight << " " << photos[i];  // exact floats
    }
  }
}

TEST(EmbeddingPrintTest, PrintIsUnitLengthBeforeTheConstant) {
  const FeatureVector v = printOf(kPhotos + "cat_1.jpg");
  ASSERT_EQ(static_cast<int64_t>(v.size()), kPrintLength);
  EXPECT_EQ(v.back(), kPrintConstant);
  double network = 0, colour = 0;
  for (int64_t k = 0; k < kPooledFeatures; ++k) network += double{v[k]} * v[k];
  for (int64_t k = kPooledFeatures; k + 1 < kPrintLength; ++k) colour += double{v[k]} * v[k];
  EXPECT_NEAR(network + colour, 1.0, 1e-5);
  // Each component has unit length before the colour component is weighted, whatever the photo: the
  // balance of content and colour is the same for every print.
  const double w2 = double{kColourWeight} * kColourWeight;
  EXPECT_NEAR(network, 1.0 / (1.0 + w2), 1e-5);
  EXPECT_NEAR(colour, w2 / (1.0 + w2), 1e-5);
}

// The network input is the area mean of the decoded picture, as OpenCV's INTER_AREA defines it;
// only the rounding of a sum that lands next to half a level may differ.
TEST(NetworkInputTest, AreaShrinkAgreesWithOpenCv) {
  cv::RNG rng(11);
  for (const cv::Size size : {cv::Size(500, 375), cv::Size(375, 500), cv::Size(448, 448),
                              cv::Size(225, 224), cv::Size(1001, 767), cv::Size(224, 3000)}) {
    cv::Mat picture(size, CV_8UC3);
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(picture, picture, cv::Size(5, 5), 1.5);
    cv::Mat want;
    cv::resize(picture, want, cv::Size(224, 224), 0, 0, cv::INTER_AREA);
    const cv::Mat got = shrinkByArea(picture, 224, 224);
    ASSERT_EQ(got.size(), cv::Size(224, 224));
    EXPECT_LE(cv::norm(got, want, cv::NORM_INF), 1) << size;
    EXPECT_LT(cv::norm(got, want, cv::NORM_L1), 224 * 224 / 100) << size;  // few differ
  }
  // A flat colour stays exactly that colour, also at the clipped last columns and rows.
  const cv::Scalar colour(255, 7, 128);
  EXPECT_EQ(cv::norm(shrinkByArea(cv::Mat(377, 501, CV_8UC3, colour), 224, 224),
                     cv::Mat(224, 224, CV_8UC3, colour), cv::NORM_INF),
            0);
}

TEST(EmbeddingPrintTest, ColourLayoutCountsEachQuadrantInItsOwnBlock) {
  // Four flat quadrants whose levels sit on both sides of the bin edges (64, 128, 192) and at
  // the ends of the range, given as the network sees them (level / 255).
  const int side = static_cast<int>(kNetworkInputSide), half = side / 2;
  cv::Mat rgb8(side, side, CV_8UC3);
  rgb8(cv::Rect(0, 0, half, half)).setTo(cv::Scalar(63, 64, 255));        // bins 0 1 3
  rgb8(cv::Rect(half, 0, half, half)).setTo(cv::Scalar(64, 127, 128));    // bins 1 1 2
  rgb8(cv::Rect(0, half, half, half)).setTo(cv::Scalar(191, 192, 0));     // bins 2 3 0
  rgb8(cv::Rect(half, half, half, half)).setTo(cv::Scalar(255, 255, 0));  // bins 3 3 0
  const std::vector<float> colour = colourLayout(networkInput(rgb8));
  ASSERT_EQ(static_cast<int64_t>(colour.size()), kColourFeatures);
  std::vector<float> want(colour.size(), 0.0f);
  for (const int bin : {0 * 64 + 0 * 16 + 1 * 4 + 3, 1 * 64 + 1 * 16 + 1 * 4 + 2,
                        2 * 64 + 2 * 16 + 3 * 4 + 0, 3 * 64 + 3 * 16 + 3 * 4 + 0}) {
    want[bin] = 0.25f;
  }
  EXPECT_EQ(colour, want);

  // Turned upside down the picture has the same colours in other places: another layout.
  cv::Mat turned;
  cv::flip(rgb8, turned, -1);
  EXPECT_NE(colourLayout(networkInput(turned)), colour);
  EXPECT_TRUE(colourLayout(cv::Mat(side, side, CV_8UC3, cv::Scalar(1, 2, 3))).empty());
  EXPECT_TRUE(colourLayout(cv::Mat(side / 2, side / 2, CV_32FC3, cv::Scalar(0.5f))).empty());
}

float printDistance(const FeatureVector& a, const FeatureVector& b) {
  return distance(normalized(a), normalized(b));
}

class EmbeddingFilesTest : public ::testing::Test {
 protected:
  const std::string photo = kImages + "photo/";
  FeatureVector reference = printOf(kPhotos + "cat_2.jpg");
  // How far apart two different scenes of the example are: the yardstick for "nearly equal".
  float otherScene = printDistance(reference, printOf(kPhotos + "coffee_1.jpg"));
};

// tests/data/images/photo holds cat_2.jpg in other formats, and stored turned with and
// without the Exif tag that turns it back.
TEST_F(EmbeddingFilesTest, EveryFormatAndOrientationYieldsNearlyTheSamePrint) {
  ASSERT_GT(otherScene, 0.3f);
  for (const std::string name :
       {"cat_2.png", "cat_2.webp", "cat_2.heic", "cat_2.avif", "cat_2-orientation-6.jpg"}) {
    const FeatureVector v = printOf(photo + name);
    ASSERT_EQ(static_cast<int64_t>(v.size()), kPrintLength) << name;
    EXPECT_LT(printDistance(v, reference), otherScene / 4) << name;
  }
  // Without the tag the same pixels look clearly different: the orientation matters.
  const float turned = printDistance(printOf(photo + "cat_2-orientation-6.jpg"), reference);
  const float untagged = printDistance(printOf(photo + "cat_2-stored-6-untagged.jpg"), reference);
  EXPECT_GT(untagged, 2 * turned);
}

}  // namespace
}  // namespace velto
