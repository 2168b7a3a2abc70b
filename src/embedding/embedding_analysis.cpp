#include "embedding/embedding_analysis.h"

#include <cstring>
#include <opencv2/imgproc.hpp>

#include "embedding/embedding_recipe.h"
#include "embedding/gradient_layout.h"
#include "embedding/luma_equalisation.h"
#include "image/image_decode.h"
#include "image/pixel_ops.h"

namespace velto {

cv::Mat networkInput(const cv::Mat& rgb8) {
  const cv::Size side(static_cast<int>(kNetworkInputSide), static_cast<int>(kNetworkInputSide));
  cv::Mat scaled;
  if (rgb8.size() == side) {
    scaled = rgb8;
  } else if (rgb8.cols >= side.width && rgb8.rows >= side.height) {
    scaled = shrinkByArea(rgb8, side.width, side.height);
  } else {  // a small picture is enlarged, on at least one side
    cv::resize(rgb8, scaled, side, 0, 0, cv::INTER_AREA);
  }
  cv::Mat input(side, CV_32FC3);
  // A division per value, as the network was trained with, rather than a multiplication by
  // 1/255, which rounds differently.
  for (int y = 0; y < side.height; ++y) {
    const uint8_t* src = scaled.ptr<uint8_t>(y);
    float* dst = input.ptr<float>(y);
    for (int k = 0; k < side.width * 3; ++k) dst[k] = static_cast<float>(src[k]) / 255.0f;
  }
  return input;
}

std::optional<PrintFeatures> printFeatures(const cv::Mat& input, EmbeddingNetwork& network) {
  // The network sees the picture with exposure taken out; the layouts see it as it is (the
  // gradient layout is exposure-invariant of its own, the colours are meant to tell light).
  PrintFeatures features{network.pooledFeatures(lumaEqualised(input)), colourLayout(input),
                         gradientLayout(input)};
  if (features.pooled.empty() || features.colour.empty() || features.gradient.empty()) {
    return std::nullopt;
  }
  return features;
}

std::optional<PrintFeatures> EmbeddingAnalysis::printFeatures(const std::string& path) {
  const std::optional<cv::Mat> image = decodeImage(path, kDecodeMinShortSide);
  if (!image) return std::nullopt;
  return velto::printFeatures(networkInput(*image), network_);
}

std::optional<FeaturePrint> EmbeddingAnalysis::featurePrint(const std::string& path) {
  const std::optional<PrintFeatures> features = printFeatures(path);
  if (!features) return std::nullopt;
  const FeatureVector v = printFromFeatures(*features);
  FeaturePrint print;
  print.elementType = kElementFloat32;
  print.recipe = kPrintRecipe;
  print.data.resize(v.size() * sizeof(float));
  std::memcpy(print.data.data(), v.data(), print.data.size());
  return print;
}

}  // namespace velto
