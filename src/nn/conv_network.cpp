#include "nn/conv_network.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/byte_reader.h"

namespace velto {
namespace {

constexpr std::string_view kMagic = "VELTONN1";
constexpr int64_t kMaxChannels = 4096;
constexpr int64_t kMaxSide = 4096;
constexpr int64_t kMaxLayers = 1024;
constexpr int64_t kNoResidual = 0xFFFFFFFF;
constexpr int64_t kLayerFields = 10;
constexpr size_t kHugePage = size_t{2} << 20;

// Reads little-endian 32-bit fields and float arrays in order; any read past the end fails.
class FieldReader {
 public:
  explicit FieldReader(std::string_view bytes) : bytes_(bytes), reader_(bytes, true) {}
  bool u32(int64_t& v) {
    if (!reader_.has(at_, 4)) return false;
    v = reader_.u32(at_);
    at_ += 4;
    return true;
  }
  bool floats(std::vector<float>& out, int64_t n) {
    if (n < 0 || !reader_.has(at_, n * 4)) return false;
    out.resize(static_cast<size_t>(n));
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out.data(), bytes_.data() + at_, static_cast<size_t>(n) * 4);
    } else {
      for (int64_t i = 0; i < n; ++i) {
        const auto bits = static_cast<uint32_t>(reader_.u32(at_ + i * 4));
        std::memcpy(&out[static_cast<size_t>(i)], &bits, 4);
      }
    }
    at_ += n * 4;
    return true;
  }
  bool atEnd() const { return at_ == reader_.size(); }

 private:
  std::string_view bytes_;
  ByteReader reader_;
  int64_t at_ = static_cast<int64_t>(kMagic.size());
};

// ONNX order (out, in, row, column) → [row][column][in][out].
std::vector<float> packDense(const std::vector<float>& w, int64_t out, int64_t in) {
  std::vector<float> packed(w.size());
  for (int64_t o = 0; o < out; ++o)
    for (int64_t i = 0; i < in; ++i)
      for (int64_t t = 0; t < 9; ++t) packed[(t * in + i) * out + o] = w[(o * in + i) * 9 + t];
  return packed;
}

// (channel, row, column) → [row * 3 + column][channel].
std::vector<float> packDepthwise(const std::vector<float>& w, int64_t channels) {
  std::vector<float> packed(w.size());
  for (int64_t c = 0; c < channels; ++c)
    for (int64_t t = 0; t < 9; ++t) packed[t * channels + c] = w[c * 9 + t];
  return packed;
}

// (out, in) → panels of 16 outputs: [panel][in][16], zeros past the last output.
std::vector<float> packPointwise(const std::vector<float>& w, int64_t out, int64_t in) {
  const int64_t panels = (out + kPointwisePanel - 1) / kPointwisePanel;
  std::vector<float> packed(static_cast<size_t>(panels * in * kPointwisePanel), 0.0f);
  for (int64_t o = 0; o < out; ++o)
    for (int64_t i = 0; i < in; ++i)
      packed[((o / kPointwisePanel) * in + i) * kPointwisePanel + o % kPointwisePanel] =
          w[o * in + i];
  return packed;
}

bool readLayer(FieldReader& file, ConvLayer& layer, int64_t index,
               const std::vector<ConvLayer>& before, int64_t side, int64_t channels) {
  int64_t f[kLayerFields];
  for (auto& v : f) {
    if (!file.u32(v)) return false;
  }
  if (f[0] > 2) return false;
  layer.kind = static_cast<ConvKind>(f[0]);
  layer.inChannels = f[1];
  layer.outChannels = f[2];
  layer.stride = f[3];
  layer.padTop = f[4];
  layer.padLeft = f[5];
  const int64_t padBottom = f[6], padRight = f[7];
  layer.relu6 = f[8] == 1;
  layer.residual = f[9] == kNoResidual ? -1 : f[9];
  layer.inHeight = index == 0 ? side : before.back().outHeight;
  layer.inWidth = index == 0 ? side : before.back().outWidth;
  const int64_t inChannels = index == 0 ? channels : before.back().outChannels;
  if (f[8] > 1 || layer.inChannels != inChannels || layer.outChannels <= 0 ||
      layer.outChannels > kMaxChannels || layer.outChannels % 8 != 0) {
    return false;
  }
  if (layer.stride < 1 || layer.stride > 2 || layer.padTop > 2 || layer.padLeft > 2 ||
      padBottom > 2 || padRight > 2) {
    return false;
  }
  const int64_t k = layer.kind == ConvKind::kPointwise ? 1 : 3;
  if (layer.kind == ConvKind::kPointwise &&
      (layer.stride != 1 || layer.padTop + layer.padLeft + padBottom + padRight != 0)) {
    return false;
  }
  if (layer.kind == ConvKind::kDepthwise3x3 && layer.inChannels != layer.outChannels) return false;
  const int64_t spanH = layer.inHeight + layer.padTop + padBottom - k;
  const int64_t spanW = layer.inWidth + layer.padLeft + padRight - k;
  if (spanH < 0 || spanW < 0) return false;
  layer.outHeight = spanH / layer.stride + 1;
  layer.outWidth = spanW / layer.stride + 1;
  if (layer.residual >= 0) {
    if (layer.residual > index) return false;
    const int64_t rc = layer.residual == 0 ? channels : before[layer.residual - 1].outChannels;
    const int64_t rh = layer.residual == 0 ? side : before[layer.residual - 1].outHeight;
    const int64_t rw = layer.residual == 0 ? side : before[layer.residual - 1].outWidth;
    if (rc != layer.outChannels || rh != layer.outHeight || rw != layer.outWidth) return false;
  }

  const int64_t perOutput = layer.kind == ConvKind::kDepthwise3x3 ? 9 : layer.inChannels * k * k;
  std::vector<float> w;
  if (!file.floats(w, layer.outChannels * perOutput) ||
      !file.floats(layer.bias, layer.outChannels)) {
    return false;
  }
  switch (layer.kind) {
    case ConvKind::kDense3x3:
      layer.weights = packDense(w, layer.outChannels, layer.inChannels);
      break;
    case ConvKind::kDepthwise3x3:
      layer.weights = packDepthwise(w, layer.outChannels);
      break;
    case ConvKind::kPointwise:
      layer.weights = packPointwise(w, layer.outChannels, layer.inChannels);
      layer.bias.resize(static_cast<size_t>((layer.outChannels + kPointwisePanel - 1) /
                                            kPointwisePanel * kPointwisePanel),
                        0.0f);
      break;
  }
  return true;
}

}  // namespace

std::optional<ConvNetwork> ConvNetwork::fromLayerFile(std::string_view bytes) {
  if (bytes.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  FieldReader file(bytes);
  ConvNetwork net;
  int64_t count = 0;
  if (!file.u32(net.side_) || !file.u32(net.channels_) || !file.u32(count)) return std::nullopt;
  if (net.side_ < 1 || net.side_ > kMaxSide || net.channels_ < 1 || net.channels_ > kMaxChannels ||
      count < 1 || count > kMaxLayers) {
    return std::nullopt;
  }
  for (int64_t i = 0; i < count; ++i) {
    ConvLayer layer;
    if (!readLayer(file, layer, i, net.layers_, net.side_, net.channels_)) return std::nullopt;
    net.layers_.push_back(std::move(layer));
  }
  if (!file.atEnd()) return std::nullopt;
  net.assignBuffers();
  return net;
}

// Each layer's output goes to a buffer whose tensor is no longer needed (its last reader, as
// input or residual, came before); buffers are sized for the largest tensor they hold.
void ConvNetwork::Workspace::FreeBuffer::operator()(float* p) const { std::free(p); }

void ConvNetwork::assignBuffers() {
  const auto count = static_cast<int64_t>(layers_.size());
  std::vector<int64_t> lastUse(static_cast<size_t>(count + 1), 0);
  for (int64_t i = 0; i < count; ++i) {
    lastUse[i] = std::max(lastUse[i], i);
    if (layers_[i].residual >= 0) lastUse[layers_[i].residual] = i;  // i only grows
  }
  lastUse[count] = count;      // the pooled tensor
  std::vector<int64_t> holds;  // buffer → tensor it holds
  std::vector<int64_t> sizes;
  for (int64_t i = 0; i < count; ++i) {
    ConvLayer& layer = layers_[i];
    int64_t chosen = -1;
    for (size_t b = 0; b < holds.size() && chosen < 0; ++b) {
      if (lastUse[holds[b]] < i) chosen = static_cast<int64_t>(b);
    }
    if (chosen < 0) {
      chosen = static_cast<int64_t>(holds.size());
      holds.push_back(0);
      sizes.push_back(0);
    }
    holds[chosen] = i + 1;
    sizes[chosen] = std::max(sizes[chosen], layer.outHeight * layer.outWidth * layer.outChannels);
    layer.buffer = chosen;
  }
  bufferSizes_ = std::move(sizes);
}

ConvNetwork::Workspace ConvNetwork::newWorkspace() const {
  Workspace workspace;
  for (const int64_t size : bufferSizes_) {
    // Left uninitialised: every layer writes all of its output before anything reads it. Huge
    // pages where the system grants them: a run touches these megabytes once per photo.
    const size_t bytes =
        (static_cast<size_t>(size) * sizeof(float) + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, bytes);
    if (memory == nullptr) throw std::bad_alloc();
    madvise(memory, bytes, MADV_HUGEPAGE);
    workspace.buffers_.emplace_back(static_cast<float*>(memory));
  }
  return workspace;
}

std::vector<float> ConvNetwork::pooledOutputs(const float* input, const ConvKernels& kernels,
                                              Workspace& workspace) const {
  const auto& buffers = workspace.buffers_;
  auto tensor = [&](int64_t t) -> const float* {
    return t == 0 ? input : buffers[layers_[t - 1].buffer].get();
  };
  for (size_t i = 0; i < layers_.size(); ++i) {
    const ConvLayer& layer = layers_[i];
    ConvArgs args;
    args.in = tensor(static_cast<int64_t>(i));
    args.inHeight = layer.inHeight;
    args.inWidth = layer.inWidth;
    args.inChannels = layer.inChannels;
    args.out = buffers[layer.buffer].get();
    args.outHeight = layer.outHeight;
    args.outWidth = layer.outWidth;
    args.outChannels = layer.outChannels;
    args.weights = layer.weights.data();
    args.bias = layer.bias.data();
    args.stride = layer.stride;
    args.padTop = layer.padTop;
    args.padLeft = layer.padLeft;
    args.relu6 = layer.relu6;
    args.residual = layer.residual >= 0 ? tensor(layer.residual) : nullptr;
    switch (layer.kind) {
      case ConvKind::kPointwise:
        kernels.pointwise(args, 0, layer.outHeight * layer.outWidth);
        break;
      case ConvKind::kDense3x3:
        kernels.dense3x3(args, 0, layer.outHeight);
        break;
      case ConvKind::kDepthwise3x3:
        kernels.depthwise3x3(args, 0, layer.outHeight);
        break;
    }
  }
  const ConvLayer& last = layers_.back();
  const float* out = buffers[last.buffer].get();
  const int64_t pixels = last.outHeight * last.outWidth, c = last.outChannels;
  std::vector<float> pooled(static_cast<size_t>(c), 0.0f);
  for (int64_t p = 0; p < pixels; ++p)
    for (int64_t k = 0; k < c; ++k) pooled[k] += out[p * c + k];
  for (float& v : pooled) v /= static_cast<float>(pixels);
  return pooled;
}

}  // namespace velto
