#include "image/reduced_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velto {

int64_t reductionFactor(ImageSize size, int64_t minShortSide) {
  return std::max<int64_t>(std::min(size.width, size.height) / std::max<int64_t>(minShortSide, 1),
                           1);
}

ReducedCanvas::ReducedCanvas(ImageSize size, int64_t factor)
    : factor_(std::max<int64_t>(factor, 1)), reduced_{size.width / factor_, size.height / factor_} {
  const auto n = static_cast<size_t>(reduced_.width * reduced_.height * 4);
  if (factor_ == 1) {
    pixels_.assign(n, 0);
  } else {
    sums_.assign(n, 0.0f);
  }
}

void ReducedCanvas::addRow(int64_t x, int64_t y, const uint8_t* rgba, int64_t count) {
  const int64_t fullW = reduced_.width * factor_, fullH = reduced_.height * factor_;
  if (y < 0 || y >= fullH) return;  // the rest beyond a whole factor is left out, as when shrinking
  const int64_t from = std::max<int64_t>(x, 0), to = std::min(x + count, fullW);
  if (from >= to) return;
  const uint8_t* src = rgba + (from - x) * 4;
  if (factor_ == 1) {
    std::memcpy(pixels_.data() + (y * reduced_.width + from) * 4, src,
                static_cast<size_t>(to - from) * 4);
    return;
  }
  float* row = sums_.data() + (y / factor_) * reduced_.width * 4;
  for (int64_t c = from; c < to; ++c, src += 4) {
    float* sum = row + (c / factor_) * 4;
    const float a = src[3];
    const float scale = a / 255.0f;
    sum[0] += static_cast<float>(src[0]) * scale;
    sum[1] += static_cast<float>(src[1]) * scale;
    sum[2] += static_cast<float>(src[2]) * scale;
    sum[3] += a;
  }
}

void ReducedCanvas::addReduced(int64_t x, int64_t y, const uint8_t* rgba, int64_t width,
                               int64_t height) {
  const auto area = static_cast<float>(factor_ * factor_);
  for (int64_t r = std::max<int64_t>(0, -y); r < height && y + r < reduced_.height; ++r) {
    for (int64_t c = std::max<int64_t>(0, -x); c < width && x + c < reduced_.width; ++c) {
      const uint8_t* src = rgba + (r * width + c) * 4;
      const int64_t at = ((y + r) * reduced_.width + x + c) * 4;
      if (factor_ == 1) {
        std::memcpy(pixels_.data() + at, src, 4);
        continue;
      }
      const float scale = static_cast<float>(src[3]) / 255.0f * area;
      for (int k = 0; k < 3; ++k) sums_[at + k] = static_cast<float>(src[k]) * scale;
      sums_[at + 3] = static_cast<float>(src[3]) * area;
    }
  }
}

RawImage ReducedCanvas::finish() const {
  RawImage out;
  out.pixels.create(static_cast<int>(reduced_.height), static_cast<int>(reduced_.width), CV_8UC4);
  if (factor_ == 1) {
    std::memcpy(out.pixels.data, pixels_.data(), pixels_.size());
    return out;
  }
  out.premultiplied = true;
  const float area = static_cast<float>(factor_ * factor_);
  for (size_t i = 0; i < sums_.size(); ++i) {
    out.pixels.data[i] =
        static_cast<uint8_t>(std::clamp(std::floor(sums_[i] / area + 0.5f), 0.0f, 255.0f));
  }
  return out;
}

}  // namespace velto
