#pragma once
// The three convolutions of the built-in network, over tensors stored pixel by pixel with the
// channels of a pixel side by side (height x width x channels, 32-bit floats).
//
// Every output value is its bias plus the products of its inputs, added one after another in a
// fixed order (kernel row, kernel column, input channel), then the residual, then the
// activation. How the rows of a layer are split into calls therefore never changes a bit of
// the result.

#include <cstdint>

namespace velto {

// Weight layouts (made by packConvWeights in conv_network.cpp):
//   dense 3 x 3:     [kernel row][kernel column][input channel][output channel]
//   depthwise 3 x 3: [kernel row * 3 + kernel column][channel]
//   pointwise 1 x 1: panels of kPointwisePanel output channels: [panel][input channel][16]
// Output channels are padded with zero weights and biases to a multiple of kPointwisePanel.
inline constexpr int64_t kPointwisePanel = 16;

struct ConvArgs {
  const float* in = nullptr;
  int64_t inHeight = 0, inWidth = 0, inChannels = 0;
  float* out = nullptr;
  int64_t outHeight = 0, outWidth = 0, outChannels = 0;  // outChannels: a multiple of 8
  const float* weights = nullptr;
  const float* bias = nullptr;
  int64_t stride = 1, padTop = 0, padLeft = 0;  // zero padding; bottom and right follow
  bool relu6 = false;                           // clamp to [0, 6]
  const float* residual = nullptr;              // added before the activation; out's shape
};

// Computes the outputs of rows [begin, end): output image rows for the 3 x 3 kernels, pixels for
// the pointwise kernel.
using ConvRows = void (*)(const ConvArgs& args, int64_t begin, int64_t end);

struct ConvKernels {
  ConvRows dense3x3;
  ConvRows depthwise3x3;
  ConvRows pointwise;
  const char* name;
};

// Plain vector code for any x86-64 (or other) processor.
const ConvKernels& genericConvKernels();
// AVX2 with fused multiply-add; call only where the processor has both.
const ConvKernels& avx2ConvKernels();
// The fastest set this processor runs. The choice is fixed per processor, so prints are
// reproducible on one machine.
const ConvKernels& bestConvKernels();

}  // namespace velto
