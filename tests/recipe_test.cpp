// The parts of the print recipe: the luma equalisation of the network's input against a slow
// rank count, the gradient layout's cells and orientations, and what they are for: a bracket
// of one photo prints closer together than two scenes, and extreme pictures still print.
#include <algorithm>
#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_recipe.h"
#include "embedding/gradient_layout.h"
#include "embedding/luma_equalisation.h"
#include "image/image_decode.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const int kSide = static_cast<int>(kNetworkInputSide);

double lumaOf(const cv::Vec3f& p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

// Every pixel's rank by counting all others (O(pixels^2)): the pixels in lower luma bins plus
// half those in its own, over the picture.
TEST(LumaEqualisationTest, MatchesACountOfRanks) {
  cv::Mat picture(17, 23, CV_32FC3);
  cv::RNG rng(5);
  rng.fill(picture, cv::RNG::UNIFORM, 0.0, 1.0);
  picture.at<cv::Vec3f>(0, 0) = cv::Vec3f(0, 0, 0);  // luma 0: lifted as by one level
  picture.at<cv::Vec3f>(0, 1) = cv::Vec3f(1, 1, 1);
  const cv::Mat got = lumaEqualised(picture);
  ASSERT_EQ(got.size(), picture.size());
  const auto bin = [](double l) { return std::lround(l * (kLumaBins - 1)); };
  const auto n = static_cast<double>(picture.total());
  for (int i = 0; i < static_cast<int>(picture.total()); ++i) {
    const cv::Vec3f p = picture.at<cv::Vec3f>(i);
    double below = 0, same = 0;
    for (int j = 0; j < static_cast<int>(picture.total()); ++j) {
      const long other = bin(lumaOf(picture.at<cv::Vec3f>(j))), mine = bin(lumaOf(p));
      below += other < mine;
      same += other == mine;
    }
    const double gain = (below + same / 2) / n / std::max(lumaOf(p), 1.0 / 255);
    for (int c = 0; c < 3; ++c) {
      EXPECT_FLOAT_EQ(got.at<cv::Vec3f>(i)[c], static_cast<float>(std::min(p[c] * gain, 1.0)))
          << i << " " << c;
    }
  }
  EXPECT_TRUE(lumaEqualised(cv::Mat(4, 4, CV_8UC3)).empty());
}

// A darker or brighter copy of a picture (without clipping) equalises to nearly the same
// picture: the bins move, the order of the pixels does not.
TEST(LumaEqualisationTest, ExposureChangesLittle) {
  cv::Mat picture(kSide, kSide, CV_32FC3);
  cv::RNG rng(9);
  rng.fill(picture, cv::RNG::UNIFORM, 0.05, 0.45);
  cv::GaussianBlur(picture, picture, cv::Size(9, 9), 3);
  const cv::Mat brighter = picture * 2.0;
  EXPECT_GT(cv::norm(picture, brighter, cv::NORM_INF), 0.1);
  EXPECT_LT(cv::norm(lumaEqualised(picture), lumaEqualised(brighter), cv::NORM_INF), 0.01);
}

// Flat, black and white pictures: a flat one becomes mid grey in luma with its hue kept, a black
// one stays black, a white one turns mid grey; each still gets a finite print of full length.
TEST(LumaEqualisationTest, FlatBlackAndWhitePicturesPrint) {
  EmbeddingNetwork network;
  ASSERT_TRUE(network.ready());
  const struct {
    cv::Scalar level;
    cv::Vec3f equalised;
  } cases[] = {{cv::Scalar(80, 120, 160), cv::Vec3f(0.5f * 80, 0.5f * 120, 0.5f * 160) /
                                              static_cast<float>(lumaOf({80, 120, 160}))},
               {cv::Scalar(0, 0, 0), cv::Vec3f(0, 0, 0)},
               {cv::Scalar(255, 255, 255), cv::Vec3f(0.5f, 0.5f, 0.5f)}};
  for (const auto& c : cases) {
    const cv::Mat input = networkInput(cv::Mat(300, 400, CV_8UC3, c.level));
    const cv::Mat equalised = lumaEqualised(input);
    EXPECT_LT(cv::norm(equalised, cv::Mat(input.size(), CV_32FC3, c.equalised), cv::NORM_INF), 1e-6)
        << c.level;
    const std::optional<PrintFeatures> features = printFeatures(input, network);
    ASSERT_TRUE(features.has_value()) << c.level;
    EXPECT_EQ(features->gradient, std::vector<float>(kGradientFeatures, 0.0f)) << c.level;
    const FeatureVector print = printFromFeatures(*features);
    ASSERT_EQ(static_cast<int64_t>(print.size()), kPrintLength);
    EXPECT_TRUE(std::all_of(print.begin(), print.end(), [](float x) { return std::isfinite(x); }))
        << c.level;
  }
}

// The network input of levels drawn by `paint` on a black 224 x 224 picture.
template <typename Paint>
cv::Mat drawn(Paint paint) {
  cv::Mat rgb8(kSide, kSide, CV_8UC3, cv::Scalar(0, 0, 0));
  paint(rgb8);
  return networkInput(rgb8);
}

// Stripes across the whole picture: every cell's strength lies in the orientation of the
// gradient (across the stripes); an edge in one corner shows in that cell alone.
TEST(GradientLayoutTest, OrientationsAndCells) {
  const auto strongest = [](const std::vector<float>& layout, int64_t cell) {
    const auto first = layout.begin() + cell * kGradientOrientations;
    return std::max_element(first, first + kGradientOrientations) - first;
  };
  const cv::Mat vertical = drawn([](cv::Mat& m) {
    for (int x = 0; x < kSide; x += 16) m.colRange(x, x + 8).setTo(cv::Scalar(200, 200, 200));
  });
  const cv::Mat horizontal = drawn([](cv::Mat& m) {
    for (int y = 0; y < kSide; y += 16) m.rowRange(y, y + 8).setTo(cv::Scalar(200, 200, 200));
  });
  const std::vector<float> across = gradientLayout(vertical), down = gradientLayout(horizontal);
  ASSERT_EQ(static_cast<int64_t>(across.size()), kGradientFeatures);
  for (int64_t cell = 0; cell < kGradientCells * kGradientCells; ++cell) {
    EXPECT_EQ(strongest(across, cell), 0) << cell;                        // along x
    EXPECT_EQ(strongest(down, cell), kGradientOrientations / 2) << cell;  // along y
  }
  // Stripes turned to the middle of each orientation sector: that sector is the strongest in
  // every cell.
  for (int64_t sector = 0; sector < kGradientOrientations; ++sector) {
    const double angle = (static_cast<double>(sector) + 0.5) * CV_PI / kGradientOrientations;
    const cv::Mat turned = drawn([&](cv::Mat& m) {
      for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
          const double along = x * std::cos(angle) + y * std::sin(angle);
          m.at<cv::Vec3b>(y, x) =
              cv::Vec3b::all(static_cast<uint8_t>(128 + 100 * std::sin(along / 5)));
        }
      }
    });
    const std::vector<float> layout = gradientLayout(turned);
    for (int64_t cell = 0; cell < kGradientCells * kGradientCells; ++cell) {
      EXPECT_EQ(strongest(layout, cell), sector) << cell;
    }
  }
  // A bright square in the bottom right cell, away from its borders.
  const std::vector<float> corner = gradientLayout(
      drawn([](cv::Mat& m) { m(cv::Rect(180, 180, 20, 20)).setTo(cv::Scalar(90, 150, 30)); }));
  double length = 0;
  for (int64_t k = 0; k < kGradientFeatures; ++k) {
    const bool lastCell = k / kGradientOrientations == kGradientCells * kGradientCells - 1;
    EXPECT_EQ(corner[k] > 0, lastCell && k % 2 == 0) << k;  // its edges run at 0, 45, 90, 135
    length += double{corner[k]} * corner[k];
  }
  EXPECT_LE(length, 1.0);
  EXPECT_TRUE(gradientLayout(cv::Mat(kSide, kSide, CV_8UC3)).empty());
}

// The photo as a camera would have taken it `ev` stops brighter or darker: linear light scaled,
// then clipped.
cv::Mat exposed(const cv::Mat& rgb8, double ev) {
  cv::Mat lut(1, 256, CV_8U);
  for (int v = 0; v < 256; ++v) {
    const double s = v / 255.0;
    double linear = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    linear = std::min(1.0, linear * std::pow(2.0, ev));
    const double out =
        linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    lut.at<uint8_t>(v) = cv::saturate_cast<uint8_t>(out * 255.0);
  }
  cv::Mat out;
  cv::LUT(rgb8, lut, out);
  return out;
}

// What the recipe is for: a bracket of one photo (-2, 0, +2 EV) prints closer together, every
// pair of it, than two photos of different scenes do.
TEST(EmbeddingPrintTest, BracketStaysCloserThanTwoScenes) {
  EmbeddingNetwork network;
  const auto printOf = [&](const cv::Mat& rgb8) {
    return printFromFeatures(*printFeatures(networkInput(rgb8), network));
  };
  const std::optional<cv::Mat> cat = decodeImage(kPhotos + "cat_1.jpg", kDecodeMinShortSide);
  const std::optional<cv::Mat> coffee = decodeImage(kPhotos + "coffee_1.jpg", kDecodeMinShortSide);
  ASSERT_TRUE(cat && coffee);
  const FeatureVector bracket[3] = {printOf(exposed(*cat, -2)), printOf(*cat),
                                    printOf(exposed(*cat, 2))};
  const float scenes = distance(printOf(*cat), printOf(*coffee));
  for (int a = 0; a < 3; ++a) {
    for (int b = a + 1; b < 3; ++b) {
      const float d = distance(bracket[a], bracket[b]);
      std::printf("[ measured ] bracket %d-%d: %.3f, two scenes: %.3f\n", a, b, d, scenes);
      EXPECT_LT(d, scenes) << a << " " << b;
    }
  }
}

}  // namespace
}  // namespace velto::testing
