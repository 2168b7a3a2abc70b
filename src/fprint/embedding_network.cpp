#include "fprint/embedding_network.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/dnn.hpp>

extern "C" const char velto_model_onnx_begin[];
extern "C" const char velto_model_onnx_end[];

namespace velto {

struct EmbeddingNetwork::Impl {
  cv::dnn::Net net;
};

EmbeddingNetwork::EmbeddingNetwork() : impl_(std::make_unique<Impl>()) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  try {
    const auto size = static_cast<size_t>(velto_model_onnx_end - velto_model_onnx_begin);
    impl_->net = cv::dnn::readNetFromONNX(velto_model_onnx_begin, size);
    impl_->net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    impl_->net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
  } catch (const cv::Exception&) {
    impl_->net = cv::dnn::Net();
  }
}

EmbeddingNetwork::~EmbeddingNetwork() = default;

bool EmbeddingNetwork::ready() const { return !impl_->net.empty(); }

std::vector<float> EmbeddingNetwork::pooledFeatures(const cv::Mat& rgb) {
  if (!ready() || rgb.type() != CV_32FC3 || rgb.rows != NETWORK_INPUT_SIDE ||
      rgb.cols != NETWORK_INPUT_SIDE) {
    return {};
  }
  try {
    const cv::Mat blob = cv::dnn::blobFromImage(rgb);  // NCHW, no scaling, no channel swap
    impl_->net.setInput(blob, "input");
    const cv::Mat out = impl_->net.forward("features");
    if (out.total() != static_cast<size_t>(POOLED_FEATURES) || out.type() != CV_32F) return {};
    const auto* p = out.ptr<float>();
    return std::vector<float>(p, p + POOLED_FEATURES);
  } catch (const cv::Exception&) {
    return {};
  }
}

}  // namespace velto
