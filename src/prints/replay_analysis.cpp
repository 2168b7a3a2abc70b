#include "prints/replay_analysis.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "io/read_file.h"

namespace velto {

namespace {

// Reverses each `width`-byte element in place on a big-endian machine; nothing to do here on
// little-endian ones.
void fromLittleEndian(unsigned char* data, size_t size, size_t width) {
  if constexpr (std::endian::native == std::endian::big) {
    for (size_t k = 0; k + width <= size; k += width) std::reverse(data + k, data + k + width);
  }
}

}  // namespace

std::optional<FeaturePrint> parsePrintFile(const std::string& bytes) {
  if (bytes.size() < 4) return std::nullopt;
  const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
  const uint32_t type = uint32_t{raw[0]} | uint32_t{raw[1]} << 8;
  FeaturePrint print;
  print.elementType = type;
  print.recipe = uint32_t{raw[2]} | uint32_t{raw[3]} << 8;
  print.data.assign(raw + 4, raw + bytes.size());
  if (type == kElementFloat32) fromLittleEndian(print.data.data(), print.data.size(), 4);
  if (type == kElementFloat64) fromLittleEndian(print.data.data(), print.data.size(), 8);
  return print;
}

std::optional<FeaturePrint> ReplayAnalysis::featurePrint(const std::string& path) {
  std::string bytes;
  std::string reason;
  if (!readRegularFile(path, kMaxReadBytes, &bytes, &reason)) return std::nullopt;
  return parsePrintFile(bytes);
}

std::string printFileBytes(const std::vector<float>& v, int64_t recipe) {
  std::string out(4 + v.size() * 4, '\0');
  out[0] = static_cast<char>(kElementFloat32);
  out[2] = static_cast<char>(recipe & 0xff);
  out[3] = static_cast<char>(recipe >> 8 & 0xff);
  for (size_t k = 0; k < v.size(); ++k) {
    const auto bits = std::bit_cast<uint32_t>(v[k]);
    for (size_t b = 0; b < 4; ++b) out[4 + k * 4 + b] = static_cast<char>(bits >> (8 * b));
  }
  return out;
}

}  // namespace velto
