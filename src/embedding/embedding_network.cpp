#include "embedding/embedding_network.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <opencv2/core.hpp>
#include <thread>

#include "nn/conv_network.h"

extern "C" const char velto_model_layers_begin[];
extern "C" const char velto_model_layers_end[];

namespace velto {
namespace {

// The processors this process may run on (taskset and cgroups narrow them), at most `limit`.
int availableProcessors(int limit) {
  cpu_set_t set;
  int n = 1;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    n = CPU_COUNT(&set);
  } else {
    n = static_cast<int>(std::thread::hardware_concurrency());
  }
  return std::clamp(n, 1, std::max(1, limit));
}

}  // namespace

struct EmbeddingNetwork::Impl {
  std::optional<ConvNetwork> net;
  const ConvKernels* kernels = &bestConvKernels();
  std::mutex mutex;
  std::condition_variable returned;
  std::vector<ConvNetwork::Workspace> idle;  // workspaces no pass is using
  int workspaces = 0;

  ConvNetwork::Workspace borrow() {
    std::unique_lock lock(mutex);
    returned.wait(lock, [&] { return !idle.empty(); });
    ConvNetwork::Workspace w = std::move(idle.back());
    idle.pop_back();
    return w;
  }
  void giveBack(ConvNetwork::Workspace w) {
    {
      const std::lock_guard lock(mutex);
      idle.push_back(std::move(w));
    }
    returned.notify_one();
  }
};

EmbeddingNetwork::EmbeddingNetwork(int concurrency) : impl_(std::make_unique<Impl>()) {
  const int wanted = concurrency > 0 ? concurrency : availableProcessors(kPhotosInFlightMax);
  const auto size = static_cast<size_t>(velto_model_layers_end - velto_model_layers_begin);
  try {
    impl_->net = ConvNetwork::fromLayerFile(std::string_view(velto_model_layers_begin, size));
  } catch (const std::bad_alloc&) {
    impl_->net.reset();
  }
  if (impl_->net &&
      (impl_->net->inputSide() != kNetworkInputSide || impl_->net->inputChannels() != 3 ||
       impl_->net->outputChannels() != kPooledFeatures)) {
    impl_->net.reset();
  }
  if (!impl_->net) return;
  // One workspace per pass that may run at once, all made now: where memory runs short fewer
  // passes run at once, and without memory for one the network is not ready and the run says
  // so.
  try {
    impl_->idle.reserve(static_cast<size_t>(wanted));
    for (int i = 0; i < wanted; ++i) impl_->idle.push_back(impl_->net->newWorkspace());
  } catch (const std::bad_alloc&) {
  }
  impl_->workspaces = static_cast<int>(impl_->idle.size());
  if (impl_->workspaces == 0) impl_->net.reset();
}

EmbeddingNetwork::~EmbeddingNetwork() = default;

bool EmbeddingNetwork::ready() const { return impl_->net.has_value(); }

int EmbeddingNetwork::concurrency() const { return std::max(1, impl_->workspaces); }

std::vector<float> EmbeddingNetwork::pooledFeatures(const cv::Mat& rgb) {
  if (!ready() || rgb.type() != CV_32FC3 || rgb.rows != kNetworkInputSide ||
      rgb.cols != kNetworkInputSide) {
    return {};
  }
  const cv::Mat input = rgb.isContinuous() ? rgb : rgb.clone();
  ConvNetwork::Workspace workspace = impl_->borrow();
  std::vector<float> pooled;
  try {
    pooled = impl_->net->pooledOutputs(input.ptr<float>(), *impl_->kernels, workspace);
  } catch (const std::bad_alloc&) {
    pooled.clear();
  }
  impl_->giveBack(std::move(workspace));
  return pooled;
}

}  // namespace velto
