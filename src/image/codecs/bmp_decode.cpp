#include "image/codecs/bmp_decode.h"

#include <array>
#include <bit>
#include <cstdlib>

#include "image/image_header.h"
#include "io/byte_reader.h"

namespace velto {

namespace {

constexpr int64_t kRgb = 0;
constexpr int64_t kRle8 = 1;
constexpr int64_t kRle4 = 2;
constexpr int64_t kBitfields = 3;
constexpr int64_t kAlphaBitfields = 6;

// One colour channel packed into a pixel word, scaled to 8 bits with rounding.
struct Mask {
  uint32_t mask = 0;
  int shift = 0;
  int64_t max = 0;

  explicit Mask(uint32_t m) : mask(m) {
    if (m == 0) return;
    shift = std::countr_zero(m);
    max = (int64_t{1} << std::popcount(m >> shift)) - 1;
  }
  uint8_t operator()(uint32_t word) const {
    if (max == 0) return 0;
    const int64_t v = std::min<int64_t>((word & mask) >> shift, max);
    return static_cast<uint8_t>((v * 255 + max / 2) / max);
  }
};

struct Layout {
  int64_t width = 0, height = 0, bits = 0, compression = kRgb;
  bool topDown = false;
  int64_t paletteAt = 0, paletteEntry = 4, paletteCount = 0;
  std::array<uint32_t, 4> masks{};  // R, G, B, A
};

std::optional<Layout> readLayout(const ByteReader& r) {
  Layout l;
  const int64_t infoSize = r.u32(14);
  if (infoSize == 12) {  // OS/2 core header
    l.width = r.u16(18);
    l.height = r.u16(20);
    l.bits = r.u16(24);
    l.paletteEntry = 3;
  } else if (infoSize >= 40 && r.has(14, infoSize)) {
    l.width = r.s32(18);
    l.height = std::abs(r.s32(22));
    l.topDown = r.s32(22) < 0;
    l.bits = r.u16(28);
    l.compression = r.u32(30);
    l.paletteCount = r.u32(46);
  } else {
    return std::nullopt;
  }
  if (!acceptableSize({l.width, l.height})) return std::nullopt;
  l.paletteAt = 14 + infoSize;
  const int64_t declaredColours = l.paletteCount;
  l.paletteCount = 0;  // only paletted images have one
  if (l.compression == kBitfields || l.compression == kAlphaBitfields) {
    if (l.bits != 16 && l.bits != 32) return std::nullopt;
    // In a 40-byte header the masks follow it; larger headers hold them at the same place.
    const bool alpha = l.compression == kAlphaBitfields || infoSize >= 56;
    for (int64_t i = 0; i < (alpha ? 4 : 3); ++i)
      l.masks[i] = static_cast<uint32_t>(r.u32(54 + 4 * i));
  } else if (l.compression == kRle8 || l.compression == kRle4) {
    // Run-length coded rows are always stored bottom-up.
    if (l.bits != (l.compression == kRle8 ? 8 : 4) || l.topDown) return std::nullopt;
    const int64_t most = int64_t{1} << l.bits;
    l.paletteCount = declaredColours == 0 || declaredColours > most ? most : declaredColours;
  } else if (l.compression != kRgb) {
    return std::nullopt;  // JPEG, PNG
  } else if (l.bits == 16) {
    l.masks = {0x7C00, 0x03E0, 0x001F, 0};
  } else if (l.bits == 32) {
    l.masks = {0xFF0000, 0xFF00, 0xFF, 0};  // the fourth byte of BI_RGB is unused
  } else if (l.bits == 1 || l.bits == 4 || l.bits == 8) {
    const int64_t most = int64_t{1} << l.bits;
    l.paletteCount = declaredColours == 0 || declaredColours > most ? most : declaredColours;
  } else if (l.bits != 24) {
    return std::nullopt;
  }
  return l;
}

using Palette = std::array<cv::Vec4b, 256>;

// RLE8 / RLE4 pixel data into palette indices, bottom row first. Each code is two bytes: a
// count and a colour (two alternating colours for RLE4), or 0 and an escape: end of row, end
// of bitmap, a move right and up, or a run of literal indices padded to 16 bits. Pixels that a
// move or an early end of row leaves out keep index 0. Runs past the right edge are cut.
// Nothing when the data ends before the end-of-bitmap code: the rest would be invented.
std::optional<cv::Mat> expandRle(const ByteReader& r, int64_t at, const Layout& l) {
  // A run code covers at most 255 pixels with two bytes, but moves and early ends let a few
  // bytes claim any size. Like deflate's limit of about 1032:1, this keeps the work in
  // proportion to the file: a 129-byte file may not ask for a quarter of a gigapixel.
  constexpr int64_t kMaxPixelsPerByte = 1024;
  if (l.width * l.height > kMaxPixelsPerByte * std::max<int64_t>(r.size() - at, 0) + 65536) {
    return std::nullopt;
  }
  cv::Mat indices = cv::Mat::zeros(static_cast<int>(l.height), static_cast<int>(l.width), CV_8U);
  const bool four = l.bits == 4;
  int64_t x = 0, y = 0;  // y counts rows from the bottom
  auto put = [&](int64_t index) {
    if (x < l.width && y < l.height) {
      indices.at<uint8_t>(static_cast<int>(l.height - 1 - y), static_cast<int>(x)) =
          static_cast<uint8_t>(index);
    }
    ++x;
  };
  while (r.has(at, 2)) {
    const int64_t count = r.u8(at), value = r.u8(at + 1);
    at += 2;
    if (count > 0) {
      const int64_t n = std::min(count, std::max<int64_t>(l.width - x, 0));
      for (int64_t i = 0; i < n; ++i) put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
      x += count - n;
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return indices;
    } else if (value == 2) {
      if (!r.has(at, 2)) return std::nullopt;
      x += r.u8(at);
      y += r.u8(at + 1);
      at += 2;
    } else {
      const int64_t bytesUsed = four ? (value + 1) / 2 : value;
      if (!r.has(at, bytesUsed)) return std::nullopt;
      const int64_t n = std::min(value, std::max<int64_t>(l.width - x, 0));
      for (int64_t i = 0; i < n; ++i) {
        const int64_t b = r.u8(at + (four ? i / 2 : i));
        put(four ? (i % 2 == 0 ? b >> 4 : b & 15) : b);
      }
      x += value - n;
      at += bytesUsed + (bytesUsed & 1);
    }
    // Rows beyond the top can only be written off: nothing more can land in the picture.
    if (y >= l.height) y = l.height;
  }
  return std::nullopt;
}

RawImage fromIndices(const cv::Mat& indices, const Palette& palette) {
  RawImage out;
  out.pixels.create(indices.rows, indices.cols, CV_8UC3);
  for (int y = 0; y < indices.rows; ++y) {
    const uint8_t* src = indices.ptr<uint8_t>(y);
    auto* dst = out.pixels.ptr<cv::Vec3b>(y);
    for (int x = 0; x < indices.cols; ++x) {
      const cv::Vec4b& c = palette[src[x]];
      dst[x] = {c[0], c[1], c[2]};
    }
  }
  return out;
}

}  // namespace

std::optional<RawImage> decodeBmp(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/true);
  const std::optional<Layout> layout = readLayout(r);
  if (!layout) return std::nullopt;
  const Layout& l = *layout;
  const int64_t stride = (l.width * l.bits + 31) / 32 * 4;
  const int64_t dataAt = r.u32(10);

  // Palette entries are B, G, R (and one unused byte); a missing entry reads as black.
  Palette palette{};
  for (int64_t i = 0; i < l.paletteCount; ++i) {
    const int64_t at = l.paletteAt + i * l.paletteEntry;
    palette[i] = {uint8_t(r.u8(at + 2)), uint8_t(r.u8(at + 1)), uint8_t(r.u8(at)), 255};
  }
  if (l.compression == kRle8 || l.compression == kRle4) {
    const std::optional<cv::Mat> indices = expandRle(r, dataAt, l);
    if (!indices) return std::nullopt;
    return fromIndices(*indices, palette);
  }
  if (!r.has(dataAt, stride * l.height)) return std::nullopt;
  const std::array<Mask, 4> masks = {Mask(l.masks[0]), Mask(l.masks[1]), Mask(l.masks[2]),
                                     Mask(l.masks[3])};
  const bool alphaMask = l.masks[3] != 0;
  RawImage out;
  out.pixels.create(static_cast<int>(l.height), static_cast<int>(l.width),
                    alphaMask ? CV_8UC4 : CV_8UC3);
  bool anyAlpha = false;
  for (int64_t y = 0; y < l.height; ++y) {
    const int64_t row = dataAt + (l.topDown ? y : l.height - 1 - y) * stride;
    uint8_t* dst = out.pixels.ptr<uint8_t>(static_cast<int>(y));
    for (int64_t x = 0; x < l.width; ++x, dst += out.pixels.channels()) {
      cv::Vec4b px;
      if (l.bits <= 8) {
        const int64_t bit = x * l.bits;
        const int64_t index = (r.u8(row + bit / 8) >> (8 - l.bits - bit % 8)) & ((1 << l.bits) - 1);
        px = palette[index];
      } else if (l.bits == 24) {
        px = {uint8_t(r.u8(row + 3 * x + 2)), uint8_t(r.u8(row + 3 * x + 1)),
              uint8_t(r.u8(row + 3 * x)), 255};
      } else {
        const uint32_t word =
            static_cast<uint32_t>(l.bits == 16 ? r.u16(row + 2 * x) : r.u32(row + 4 * x));
        px = {masks[0](word), masks[1](word), masks[2](word), masks[3](word)};
      }
      for (int c = 0; c < out.pixels.channels(); ++c) dst[c] = px[c];
      anyAlpha = anyAlpha || (alphaMask && px[3] != 0);
    }
  }
  if (alphaMask && !anyAlpha) {
    cv::Mat opaque(out.pixels.rows, out.pixels.cols, CV_8UC3);
    cv::mixChannels(&out.pixels, 1, &opaque, 1, std::array<int, 6>{0, 0, 1, 1, 2, 2}.data(), 3);
    out.pixels = opaque;
  }
  return out;
}

}  // namespace velto
