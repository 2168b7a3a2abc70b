#include "embedding/gradient_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <opencv2/core.hpp>

#include "embedding/embedding_network.h"

namespace velto {

namespace {

constexpr int kSide = static_cast<int>(kNetworkInputSide) / 2;  // after the 2 x 2 blocks
constexpr auto kOrientations = static_cast<size_t>(kGradientOrientations);
static_assert(kOrientations == 8 && kGradientCells * kGradientCells % 8 == 0,
              "the sums below are written for eight orientations and a multiple of 8 cells");

// Log luma of 2 x 2 blocks of levels. Exposure multiplies luma, which the logarithm turns into
// an offset that differences ignore; the 8 keeps the noise of dark areas from looking like
// edges.
std::vector<double> blockLogLuma(const cv::Mat& input) {
  std::vector<double> full(static_cast<size_t>(kNetworkInputSide * kNetworkInputSide));
  for (int y = 0; y < input.rows; ++y) {
    const float* p = input.ptr<float>(y);
    for (int x = 0; x < input.cols; ++x, p += 3) {
      std::array<double, 3> level{};
      for (int c = 0; c < 3; ++c) {
        // The input holds level / 255, which rounds back to the level exactly (NaN never comes
        // from networkInput).
        const float v = std::clamp(p[c], 0.0f, 1.0f);
        level[static_cast<size_t>(c)] = static_cast<double>(static_cast<int>(v * 255.0f + 0.5f));
      }
      full[static_cast<size_t>(y * input.cols + x)] =
          std::log(0.299 * level[0] + 0.587 * level[1] + 0.114 * level[2] + 8.0);
    }
  }
  std::vector<double> blocks(static_cast<size_t>(kSide * kSide));
  const auto at = [&](int y, int x) { return full[static_cast<size_t>(y * 2 * kSide + x)]; };
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      blocks[static_cast<size_t>(y * kSide + x)] =
          (at(2 * y, 2 * x) + at(2 * y, 2 * x + 1) + at(2 * y + 1, 2 * x) +
           at(2 * y + 1, 2 * x + 1)) /
          4.0;
    }
  }
  return blocks;
}

// The edges between the orientation sectors, (cos, sin) of k pi / kGradientOrientations.
const auto kSectorEdges = [] {
  std::array<std::array<double, 2>, kOrientations - 1> edges{};
  for (size_t k = 1; k < kOrientations; ++k) {
    const double angle = std::numbers::pi * static_cast<double>(k) / kGradientOrientations;
    edges[k - 1] = {std::cos(angle), std::sin(angle)};
  }
  return edges;
}();

// The orientation bin of a gradient: its direction folded into [0, pi), cut into
// kGradientOrientations equal sectors. Told by the side of each sector's edge the gradient lies
// on (a cross product): a few multiplications where an arctangent costs a hundred cycles.
size_t orientationBin(double gy, double gx) {
  if (gy < 0 || (gy == 0 && gx < 0)) {  // the opposite direction: the same orientation
    gy = -gy;
    gx = -gx;
  }
  size_t bin = 0;
  while (bin < kSectorEdges.size() && gy * kSectorEdges[bin][0] - gx * kSectorEdges[bin][1] >= 0) {
    ++bin;
  }
  return bin;
}

// The sum of eight values in the order numpy's pairwise summation adds them, as the study's
// copy of this layout does.
double pairwiseSum8(const double* v) {
  return ((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7]));
}

}  // namespace

std::vector<float> gradientLayout(const cv::Mat& input) {
  const int side = static_cast<int>(kNetworkInputSide);
  if (input.type() != CV_32FC3 || input.rows != side || input.cols != side) return {};
  const std::vector<double> luma = blockLogLuma(input);
  const auto l = [&](int y, int x) { return luma[static_cast<size_t>(y * kSide + x)]; };
  std::vector<double> hist(static_cast<size_t>(kGradientFeatures), 0.0);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const double gx = x > 0 && x + 1 < kSide ? l(y, x + 1) - l(y, x - 1) : 0.0;
      const double gy = y > 0 && y + 1 < kSide ? l(y + 1, x) - l(y - 1, x) : 0.0;
      const int64_t cell =
          (y * kGradientCells / kSide) * kGradientCells + x * kGradientCells / kSide;
      hist[static_cast<size_t>(cell) * kOrientations + orientationBin(gy, gx)] +=
          std::sqrt(gx * gx + gy * gy);
    }
  }
  // Each cell scaled to about unit length, so a cell full of texture does not drown the others;
  // the floor of half the mean cell keeps nearly flat cells from blowing their noise up.
  constexpr auto kCells = static_cast<size_t>(kGradientCells * kGradientCells);
  std::array<double, kCells> norm{};
  for (size_t c = 0; c < kCells; ++c) {
    std::array<double, kOrientations> squares{};
    for (size_t o = 0; o < kOrientations; ++o) {
      squares[o] = hist[c * kOrientations + o] * hist[c * kOrientations + o];
    }
    norm[c] = std::sqrt(pairwiseSum8(squares.data()));
  }
  std::array<double, 8> partial{};
  for (size_t c = 0; c < kCells; ++c) partial[c % 8] += norm[c];
  const double floor = pairwiseSum8(partial.data()) / static_cast<double>(kCells) * 0.5;
  std::vector<float> layout(hist.size());
  for (size_t k = 0; k < hist.size(); ++k) {
    layout[k] = static_cast<float>(hist[k] / (norm[k / kOrientations] + floor + 1e-12) /
                                   static_cast<double>(kGradientCells));
  }
  return layout;
}

}  // namespace velto
