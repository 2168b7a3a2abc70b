#include "embedding/embedding_network.h"

#include <new>
#include <opencv2/core.hpp>

#include "nn/conv_network.h"
#include "nn/worker_pool.h"

extern "C" const char velto_model_layers_begin[];
extern "C" const char velto_model_layers_end[];

namespace velto {

struct EmbeddingNetwork::Impl {
  explicit Impl(int threads) : pool(threads) {}
  std::optional<ConvNetwork> net;
  const ConvKernels* kernels = &bestConvKernels();
  WorkerPool pool;
};

EmbeddingNetwork::EmbeddingNetwork(int threads)
    : impl_(std::make_unique<Impl>(threads > 0 ? threads : availableThreads(NETWORK_MAX_THREADS))) {
  const auto size = static_cast<size_t>(velto_model_layers_end - velto_model_layers_begin);
  try {
    impl_->net = ConvNetwork::fromLayerFile(std::string_view(velto_model_layers_begin, size));
  } catch (const std::bad_alloc&) {
    // Without memory for the network no photo gets a print, and the run says so.
    impl_->net.reset();
  }
  if (impl_->net &&
      (impl_->net->inputSide() != NETWORK_INPUT_SIDE || impl_->net->inputChannels() != 3 ||
       impl_->net->outputChannels() != POOLED_FEATURES)) {
    impl_->net.reset();
  }
}

EmbeddingNetwork::~EmbeddingNetwork() = default;

bool EmbeddingNetwork::ready() const { return impl_->net.has_value(); }

std::vector<float> EmbeddingNetwork::pooledFeatures(const cv::Mat& rgb) {
  if (!ready() || rgb.type() != CV_32FC3 || rgb.rows != NETWORK_INPUT_SIDE ||
      rgb.cols != NETWORK_INPUT_SIDE) {
    return {};
  }
  const cv::Mat input = rgb.isContinuous() ? rgb : rgb.clone();
  return impl_->net->pooledOutputs(input.ptr<float>(), *impl_->kernels, impl_->pool);
}

}  // namespace velto
