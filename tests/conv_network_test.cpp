// The network runner against a plain, slow reference convolution on small random networks that
// use every kind of layer, padding, stride, residual and channel count the kernels handle
// (partial weight panels, pixel counts that are no multiple of the tile); and the layer files it
// must refuse.
#include "nn/conv_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

struct LayerSpec {
  uint32_t kind, in, out, stride, top, left, bottom, right, relu6, residual;
};
constexpr uint32_t NONE = 0xFFFFFFFF;

// A layer file with random weights; `weights` receives them in file order for the reference.
std::string layerFile(uint32_t side, uint32_t channels, const std::vector<LayerSpec>& specs,
                      std::vector<std::vector<float>>* weights = nullptr) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  // Little-endian 32-bit fields, as this machine holds them.
  const uint32_t header[3] = {side, channels, static_cast<uint32_t>(specs.size())};
  std::string bytes = "VELTONN1" + std::string(reinterpret_cast<const char*>(header), 12);
  for (const LayerSpec& l : specs) {
    bytes.append(reinterpret_cast<const char*>(&l), sizeof l);  // ten 32-bit fields in file order
    const uint32_t perOutput = l.kind == 1 ? 9 : l.kind == 0 ? l.in * 9 : l.in;
    std::vector<float> w(l.out * perOutput + l.out);
    for (float& v : w) v = uniform(rng);
    bytes.append(reinterpret_cast<const char*>(w.data()), w.size() * 4);
    if (weights != nullptr) weights->push_back(w);
  }
  return bytes;
}

// Straightforward convolution in double precision over height x width x channels tensors.
std::vector<double> reference(const std::vector<LayerSpec>& specs,
                              const std::vector<std::vector<float>>& weights, int64_t side,
                              const std::vector<float>& input) {
  std::vector<std::vector<double>> tensors{std::vector<double>(input.begin(), input.end())};
  int64_t h = side, w = side;
  for (size_t i = 0; i < specs.size(); ++i) {
    const LayerSpec& l = specs[i];
    const int64_t k = l.kind == 2 ? 1 : 3;
    const int64_t oh = (h + l.top + l.bottom - k) / l.stride + 1;
    const int64_t ow = (w + l.left + l.right - k) / l.stride + 1;
    const std::vector<double>& in = tensors.back();
    const std::vector<float>& wt = weights[i];
    const size_t biasAt = wt.size() - l.out;
    std::vector<double> out(static_cast<size_t>(oh * ow * l.out));
    for (int64_t y = 0; y < oh; ++y)
      for (int64_t x = 0; x < ow; ++x)
        for (int64_t o = 0; o < l.out; ++o) {
          double sum = wt[biasAt + o];
          for (int64_t ky = 0; ky < k; ++ky)
            for (int64_t kx = 0; kx < k; ++kx) {
              const int64_t iy = y * l.stride - l.top + ky, ix = x * l.stride - l.left + kx;
              if (iy < 0 || iy >= h || ix < 0 || ix >= w) continue;
              const double* px = &in[(iy * w + ix) * l.in];
              if (l.kind == 1) {
                sum += px[o] * wt[o * 9 + ky * 3 + kx];
              } else {
                for (int64_t c = 0; c < l.in; ++c)
                  sum += px[c] * wt[((o * l.in + c) * k + ky) * k + kx];
              }
            }
          if (l.residual != NONE) sum += tensors[l.residual][(y * ow + x) * l.out + o];
          if (l.relu6) sum = std::min(6.0, std::max(0.0, sum));
          out[(y * ow + x) * l.out + o] = sum;
        }
    tensors.push_back(out);
    h = oh;
    w = ow;
  }
  const std::vector<double>& last = tensors.back();
  const int64_t c = specs.back().out, pixels = h * w;
  std::vector<double> pooled(c, 0.0);
  for (int64_t p = 0; p < pixels; ++p)
    for (int64_t o = 0; o < c; ++o) pooled[o] += last[p * c + o] / static_cast<double>(pixels);
  return pooled;
}

// Side 23: odd sizes everywhere, 3 x 3 stride 2 with only bottom/right padding, as in the
// built-in network, 24 outputs (one and a half weight panels), residuals on every kind.
const std::vector<LayerSpec> kSpecs = {
    {0, 3, 16, 2, 0, 0, 1, 1, 1, NONE},  // 12 x 12
    {1, 16, 16, 1, 1, 1, 1, 1, 1, NONE}, {2, 16, 24, 1, 0, 0, 0, 0, 0, NONE},
    {2, 24, 48, 1, 0, 0, 0, 0, 1, NONE}, {1, 48, 48, 1, 1, 1, 1, 1, 0, 4},
    {2, 48, 24, 1, 0, 0, 0, 0, 0, 3},    {1, 24, 24, 2, 1, 1, 1, 1, 1, NONE},  // 6 x 6
    {2, 24, 40, 1, 0, 0, 0, 0, 0, NONE}, {0, 40, 8, 1, 1, 1, 1, 1, 1, NONE},
};

TEST(ConvNetworkTest, EveryKernelSetMatchesTheReferenceOnAnyThread) {
  std::vector<std::vector<float>> weights;
  const std::string file = layerFile(23, 3, kSpecs, &weights);
  const auto net = ConvNetwork::fromLayerFile(file);
  ASSERT_TRUE(net.has_value());
  // Three inputs, so that passes running at once over shared memory would mix them up.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<std::vector<float>> inputs(3, std::vector<float>(23 * 23 * 3));
  for (auto& input : inputs) std::generate(input.begin(), input.end(), [&] { return unit(rng); });

  for (const ConvKernels* kernels : {&genericConvKernels(), &bestConvKernels()}) {
    std::vector<std::vector<float>> alone;
    ConvNetwork::Workspace workspace = net->newWorkspace();
    for (const auto& input : inputs) {
      const std::vector<double> want = reference(kSpecs, weights, 23, input);
      const std::vector<float> got = net->pooledOutputs(input.data(), *kernels, workspace);
      ASSERT_EQ(got.size(), want.size());
      const double scale = std::abs(*std::max_element(
          want.begin(), want.end(), [](double a, double b) { return std::abs(a) < std::abs(b); }));
      ASSERT_GT(scale, 0.1);
      for (size_t k = 0; k < got.size(); ++k) {
        EXPECT_NEAR(got[k], want[k], 1e-5 * scale) << kernels->name << " output " << k;
      }
      alone.push_back(got);
    }
    // The same bits from threads running the network at once, each in its own workspace.
    std::vector<int> mismatches(inputs.size(), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < inputs.size(); ++t) {
      threads.emplace_back([&, t] {
        ConvNetwork::Workspace own = net->newWorkspace();
        for (int pass = 0; pass < 20; ++pass) {
          if (net->pooledOutputs(inputs[t].data(), *kernels, own) != alone[t]) ++mismatches[t];
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches, std::vector<int>(inputs.size(), 0)) << kernels->name;
  }
}

TEST(ConvNetworkTest, RefusesInconsistentLayerFiles) {
  const std::string good = layerFile(23, 3, kSpecs);
  ASSERT_TRUE(ConvNetwork::fromLayerFile(good).has_value());
  EXPECT_FALSE(ConvNetwork::fromLayerFile("").has_value());
  EXPECT_FALSE(ConvNetwork::fromLayerFile("VELTONN2" + good.substr(8)).has_value());
  EXPECT_FALSE(ConvNetwork::fromLayerFile(good.substr(0, good.size() - 1)).has_value());
  EXPECT_FALSE(ConvNetwork::fromLayerFile(good + "x").has_value());

  auto refused = [](size_t layer, auto change) {
    std::vector<LayerSpec> specs = kSpecs;
    change(specs[layer]);
    return !ConvNetwork::fromLayerFile(layerFile(23, 3, specs)).has_value();
  };
  EXPECT_TRUE(refused(0, [](LayerSpec& l) { l.in = 4; }));        // not the input's channels
  EXPECT_TRUE(refused(2, [](LayerSpec& l) { l.out = 20; }));      // not a multiple of 8
  EXPECT_TRUE(refused(1, [](LayerSpec& l) { l.out = 24; }));      // depthwise changes width
  EXPECT_TRUE(refused(2, [](LayerSpec& l) { l.stride = 2; }));    // strided 1 x 1
  EXPECT_TRUE(refused(0, [](LayerSpec& l) { l.kind = 3; }));      // unknown kind
  EXPECT_TRUE(refused(5, [](LayerSpec& l) { l.residual = 2; }));  // other width
  EXPECT_TRUE(refused(5, [](LayerSpec& l) { l.residual = 7; }));  // not computed yet
  EXPECT_TRUE(refused(7, [](LayerSpec& l) { l.residual = 3; }));  // other size
  EXPECT_TRUE(refused(0, [](LayerSpec& l) { l.bottom = 40; }));   // absurd padding
  EXPECT_FALSE(ConvNetwork::fromLayerFile(layerFile(1, 3, kSpecs)).has_value());  // too small
}

}  // namespace
}  // namespace velto
