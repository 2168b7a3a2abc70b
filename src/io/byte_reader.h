#pragma once
// Bounds-checked reads of fixed-size integers from untrusted bytes.

#include <cstdint>
#include <string_view>

namespace velto {

// Reads unsigned integers of the given byte order at byte offsets. Any read that would reach
// outside the bytes (negative offsets included) gives 0, so callers check sizes only where a
// 0 could be mistaken for a real value.
class ByteReader {
 public:
  ByteReader(std::string_view bytes, bool littleEndian) : bytes_(bytes), little_(littleEndian) {}
  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }
  bool has(int64_t at, int64_t n) const { return at >= 0 && n >= 0 && n <= size() - at; }
  int64_t u8(int64_t at) const { return has(at, 1) ? byte(at) : 0; }
  int64_t u16(int64_t at) const { return read(at, 2); }
  int64_t u24(int64_t at) const { return read(at, 3); }
  int64_t u32(int64_t at) const { return read(at, 4); }
  // The 32-bit value read as two's complement.
  int64_t s32(int64_t at) const {
    const int64_t v = u32(at);
    return v >= (int64_t{1} << 31) ? v - (int64_t{1} << 32) : v;
  }

 private:
  int64_t byte(int64_t at) const { return static_cast<unsigned char>(bytes_[at]); }
  int64_t read(int64_t at, int64_t n) const {
    if (!has(at, n)) return 0;
    int64_t v = 0;
    for (int64_t i = 0; i < n; ++i) {
      v = (v << 8) | byte(little_ ? at + n - 1 - i : at + i);
    }
    return v;
  }

  std::string_view bytes_;
  bool little_;
};

}  // namespace velto
