#include "image/pixel_ops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace velto {

namespace {

// a*c + (M-a)*M over M with both scalings folded into one rounding: for 16-bit data the
// divisor also carries the 257 that maps 65535 onto 255, so nothing is rounded twice.
template <typename T>
uint8_t composite(int64_t c, int64_t a) {
  constexpr int64_t kMax = sizeof(T) == 1 ? 255 : 65535;
  constexpr int64_t kDivisor = kMax * (kMax / 255);
  return static_cast<uint8_t>((a * c + (kMax - a) * kMax + kDivisor / 2) / kDivisor);
}

// composite<uint8_t> for every (alpha, value) pair: the 8-bit path is the common one.
const std::array<uint8_t, 256 * 256>& compositeTable8() {
  static const std::array<uint8_t, 256 * 256> table = [] {
    std::array<uint8_t, 256 * 256> t{};
    for (int64_t a = 0; a < 256; ++a) {
      for (int64_t c = 0; c < 256; ++c) t[a * 256 + c] = composite<uint8_t>(c, a);
    }
    return t;
  }();
  return table;
}

template <typename T>
void convertRows(const cv::Mat& in, bool bgr, bool premultiplied, cv::Mat& out) {
  const int64_t channels = in.channels();
  const bool alpha = channels == 2 || channels == 4;
  const bool grey = channels <= 2;
  constexpr int64_t kOpaque = sizeof(T) == 1 ? 255 : 65535;
  const auto& table = compositeTable8();
  for (int64_t y = 0; y < in.rows; ++y) {
    const T* src = in.ptr<T>(static_cast<int>(y));
    uint8_t* dst = out.ptr<uint8_t>(static_cast<int>(y));
    for (int64_t x = 0; x < in.cols; ++x, src += channels, dst += 3) {
      const int64_t a = alpha ? src[channels - 1] : kOpaque;
      for (int64_t k = 0; k < 3; ++k) {
        const int64_t from = grey ? 0 : (bgr ? 2 - k : k);
        if (premultiplied) {
          // c already carries its alpha: c + (1-a)*255. Colour above its alpha can only come
          // from a broken file, hence the clamp.
          constexpr int64_t kScale = kOpaque / 255;
          const int64_t v = (src[from] + kOpaque - a + kScale / 2) / kScale;
          dst[k] = static_cast<uint8_t>(std::min<int64_t>(v, 255));
        } else if constexpr (sizeof(T) == 1) {
          dst[k] = table[a * 256 + src[from]];
        } else {
          dst[k] = composite<T>(src[from], a);
        }
      }
    }
  }
}

}  // namespace

std::optional<cv::Mat> toRgb8(const RawImage& raw) {
  const cv::Mat& in = raw.pixels;
  if (in.empty() || in.dims != 2 || in.channels() < 1 || in.channels() > 4) return std::nullopt;
  cv::Mat out;
  if (in.depth() == CV_8U && in.channels() == 3) {
    // Opaque 8-bit colour, by far the most frequent case: at most a channel swap.
    if (raw.bgr) {
      cv::cvtColor(in, out, cv::COLOR_BGR2RGB);
    } else {
      out = in;
    }
    return out;
  }
  out.create(in.rows, in.cols, CV_8UC3);
  if (in.depth() == CV_8U) {
    convertRows<uint8_t>(in, raw.bgr, raw.premultiplied, out);
  } else if (in.depth() == CV_16U) {
    convertRows<uint16_t>(in, raw.bgr, raw.premultiplied, out);
  } else {
    return std::nullopt;
  }
  return out;
}

cv::Mat reduceToShortSide(const cv::Mat& image, int64_t minShortSide) {
  const int64_t shortSide = std::min(image.rows, image.cols);
  const int64_t factor = shortSide / std::max<int64_t>(minShortSide, 1);
  if (factor < 2) return image;
  cv::Mat out;
  cv::resize(image, out,
             cv::Size(static_cast<int>(image.cols / factor), static_cast<int>(image.rows / factor)),
             0, 0, cv::INTER_AREA);
  return out;
}

namespace {

// For each of `out` outputs over `in` >= `out` inputs: the inputs it covers, with the share of
// each (its overlap with the output's span, over the span's length).
struct AreaTaps {
  std::vector<int64_t> first;  // per output: index of its first input
  std::vector<int64_t> begin;  // per output: where its shares start in `share`; one past the end
  std::vector<float> share;
};

AreaTaps areaTaps(int64_t in, int64_t out) {
  AreaTaps taps;
  const double scale = static_cast<double>(in) / static_cast<double>(out);
  for (int64_t o = 0; o < out; ++o) {
    const double from = static_cast<double>(o) * scale, to = static_cast<double>(o + 1) * scale;
    const auto j0 = static_cast<int64_t>(std::floor(from));
    const int64_t j1 = std::min(in, static_cast<int64_t>(std::ceil(to)));
    taps.first.push_back(j0);
    taps.begin.push_back(static_cast<int64_t>(taps.share.size()));
    for (int64_t j = j0; j < j1; ++j) {
      const double part =
          std::min(to, static_cast<double>(j + 1)) - std::max(from, static_cast<double>(j));
      taps.share.push_back(static_cast<float>(part / scale));
    }
  }
  taps.begin.push_back(static_cast<int64_t>(taps.share.size()));
  return taps;
}

}  // namespace

cv::Mat shrinkByArea(const cv::Mat& rgb8, int64_t width, int64_t height) {
  CV_Assert(rgb8.type() == CV_8UC3 && width >= 1 && height >= 1 && rgb8.cols >= width &&
            rgb8.rows >= height);
  const AreaTaps rows = areaTaps(rgb8.rows, height), cols = areaTaps(rgb8.cols, width);
  const int64_t inValues = int64_t{rgb8.cols} * 3;
  // One output row at a time: the mean down the columns over a whole input row (which
  // vectorises), then along it. Memory: one row of floats, whatever the picture's height.
  std::vector<float> line(static_cast<size_t>(inValues));
  cv::Mat out(static_cast<int>(height), static_cast<int>(width), CV_8UC3);
  for (int64_t y = 0; y < height; ++y) {
    std::fill(line.begin(), line.end(), 0.0f);
    for (int64_t t = rows.begin[y]; t < rows.begin[y + 1]; ++t) {
      const uint8_t* src = rgb8.ptr<uint8_t>(static_cast<int>(rows.first[y] + t - rows.begin[y]));
      const float w = rows.share[t];
      for (int64_t k = 0; k < inValues; ++k) line[k] += w * static_cast<float>(src[k]);
    }
    uint8_t* dst = out.ptr<uint8_t>(static_cast<int>(y));
    for (int64_t x = 0; x < width; ++x) {
      float sum[3] = {0.0f, 0.0f, 0.0f};
      for (int64_t t = cols.begin[x]; t < cols.begin[x + 1]; ++t) {
        const float* px = line.data() + (cols.first[x] + t - cols.begin[x]) * 3;
        for (int c = 0; c < 3; ++c) sum[c] += cols.share[t] * px[c];
      }
      for (int c = 0; c < 3; ++c) {
        dst[x * 3 + c] = static_cast<uint8_t>(std::clamp(sum[c] + 0.5f, 0.0f, 255.0f));
      }
    }
  }
  return out;
}

cv::Mat applyOrientation(const cv::Mat& image, int64_t orientation) {
  cv::Mat out;
  switch (orientation) {
    case 2:
      cv::flip(image, out, 1);
      break;
    case 3:
      cv::rotate(image, out, cv::ROTATE_180);
      break;
    case 4:
      cv::flip(image, out, 0);
      break;
    case 5:
      cv::transpose(image, out);
      break;
    case 6:
      cv::rotate(image, out, cv::ROTATE_90_CLOCKWISE);
      break;
    case 7:
      cv::transpose(image, out);
      cv::flip(out, out, -1);
      break;
    case 8:
      cv::rotate(image, out, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
    default:
      out = image;
  }
  return out;
}

}  // namespace velto
