#pragma once
// A chain of 3 x 3 and 1 x 1 convolutions with residual additions, ending in a global average:
// the shape of the built-in network. Made from the layer file that tools/model/to_layers.py
// writes; run on an image of floats stored pixel by pixel (height x width x channels).

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "nn/conv_kernels.h"

namespace velto {

enum class ConvKind : uint32_t { kDense3x3 = 0, kDepthwise3x3 = 1, kPointwise = 2 };

struct ConvLayer {
  ConvKind kind = ConvKind::kPointwise;
  int64_t inChannels = 0, outChannels = 0, stride = 1;
  int64_t padTop = 0, padLeft = 0;
  int64_t inHeight = 0, inWidth = 0, outHeight = 0, outWidth = 0;
  bool relu6 = false;
  int64_t residual =
      -1;  // tensor added to the output; tensor 0 is the input, i + 1 layer i's output
  std::vector<float> weights, bias;  // in the kernels' layouts
  int64_t buffer = 0;                // where the output lives
};

class ConvNetwork {
 public:
  // The network a layer file describes, or nothing when the bytes are not a consistent one.
  // The layer file, all little-endian:
  //   "VELTONN1", uint32 input side, uint32 input channels, uint32 layer count; per layer:
  //   uint32 kind (ConvKind), in channels, out channels, stride, pad top, left, bottom, right,
  //   relu6 (0/1), residual tensor (0xFFFFFFFF: none; tensor 0 is the input, i + 1 layer i's
  //   output); then float32 weights in ONNX order (out, in / group, rows, columns) and float32
  //   bias (out). Every shape must follow from the one before; no trailing bytes.
  static std::optional<ConvNetwork> fromLayerFile(std::string_view bytes);

  int64_t inputSide() const { return side_; }
  int64_t inputChannels() const { return channels_; }
  int64_t outputChannels() const { return layers_.back().outChannels; }

  // The activations of one forward pass. The network itself is only read while it runs, so
  // threads that each hold a workspace may run it at once.
  class Workspace {
   public:
    Workspace(Workspace&&) noexcept = default;
    Workspace& operator=(Workspace&&) noexcept = default;

   private:
    friend class ConvNetwork;
    Workspace() = default;
    struct FreeBuffer {
      void operator()(float* p) const;
    };
    std::vector<std::unique_ptr<float[], FreeBuffer>> buffers_;
  };
  // Throws std::bad_alloc when the memory is not there.
  Workspace newWorkspace() const;

  // The pooled outputs for `input` (inputSide² pixels of inputChannels floats), computed on the
  // calling thread in `workspace`.
  std::vector<float> pooledOutputs(const float* input, const ConvKernels& kernels,
                                   Workspace& workspace) const;

 private:
  void assignBuffers();

  int64_t side_ = 0, channels_ = 0;
  std::vector<ConvLayer> layers_;
  std::vector<int64_t> bufferSizes_;  // floats in each buffer a workspace holds
};

}  // namespace velto
