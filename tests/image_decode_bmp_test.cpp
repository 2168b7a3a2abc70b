// The BMP variants photos and screenshots come in, built byte by byte.
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "decode_test_images.h"
#include "image/image_decode.h"

namespace velto {
namespace {

using testing::CapturedOutput;

struct Bmp {
  int infoSize = 40;  // 12 (OS/2), 40, 108 (V4) or 124 (V5)
  int bits = 24;
  int compression = 0;              // 0 BI_RGB, 1 RLE8, 2 RLE4, 3 BI_BITFIELDS
  std::array<uint32_t, 4> masks{};  // R, G, B, A; written for BI_BITFIELDS
  std::string palette = {};         // B, G, R, 0 per entry (B, G, R for OS/2)
  int coloursUsed = 0;
  std::vector<std::string> rows = {};  // packed pixel bytes, top row first, unpadded
  int width = 2;
  bool topDown = false;
  std::string rle = {};  // the coded data of an RLE bitmap of two rows, in place of rows
};

void put(std::string& s, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string build(const Bmp& b) {
  const int height = b.rle.empty() ? static_cast<int>(b.rows.size()) : 2;
  std::string info(b.infoSize, '\0');
  put(info, 0, static_cast<uint32_t>(b.infoSize), 4);
  if (b.infoSize == 12) {
    put(info, 4, static_cast<uint32_t>(b.width), 2);
    put(info, 6, static_cast<uint32_t>(height), 2);
    put(info, 8, 1, 2);
    put(info, 10, static_cast<uint32_t>(b.bits), 2);
  } else if (b.infoSize >= 40) {
    put(info, 4, static_cast<uint32_t>(b.width), 4);
    put(info, 8, static_cast<uint32_t>(b.topDown ? -height : height), 4);
    put(info, 12, 1, 2);
    put(info, 14, static_cast<uint32_t>(b.bits), 2);
    put(info, 16, static_cast<uint32_t>(b.compression), 4);
    put(info, 32, static_cast<uint32_t>(b.coloursUsed), 4);
  }
  if (b.compression == 3) {
    // After a 40-byte header the three masks follow it; V4 and V5 hold four inside.
    if (b.infoSize == 40) info.resize(52, '\0');
    for (size_t i = 0; i < (b.infoSize == 40 ? 3 : 4); ++i) put(info, 40 + 4 * i, b.masks[i], 4);
  }
  std::string pixels = b.rle;
  for (int y = 0; y < height && b.rle.empty(); ++y) {
    std::string row = b.rows[b.topDown ? y : height - 1 - y];
    row.resize((row.size() + 3) / 4 * 4, '\0');
    pixels += row;
  }
  std::string file = "BM" + std::string(12, '\0') + info + b.palette;
  put(file, 2, static_cast<uint32_t>(file.size() + pixels.size()), 4);
  put(file, 10, static_cast<uint32_t>(file.size()), 4);
  return file + pixels;
}

std::string greyPalette(int entries) {
  std::string p;
  for (int i = 0; i < entries; ++i) p += std::string(3, static_cast<char>(i * 40)) + '\0';
  return p;
}

TEST(DecodeBmpTest, VariantsDecodeToTheirColours) {
  using Px = cv::Vec3b;
  const std::string bgr24top("\x03\x02\x01\x06\x05\x04", 6);
  const std::string bgr24bottom("\x09\x08\x07\x0C\x0B\x0A", 6);
  struct Case {
    std::string name;
    Bmp bmp;
    std::vector<Px> expected;  // row by row, top first
  };
  const std::vector<Case> cases = {
      {"24-bit bottom-up",
       {.rows = {bgr24top, bgr24bottom}},
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}},
      {"24-bit top-down",
       {.rows = {bgr24top, bgr24bottom}, .topDown = true},
       {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}},
      {"24-bit OS/2 header", {.infoSize = 12, .rows = {bgr24top}}, {{1, 2, 3}, {4, 5, 6}}},
      {"32-bit, fourth byte unused",
       {.bits = 32, .rows = {std::string("\3\2\1\0\6\5\4\x7F", 8)}},
       {{1, 2, 3}, {4, 5, 6}}},
      {"32-bit V5 with alpha",
       {.infoSize = 124,
        .bits = 32,
        .compression = 3,
        .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
        .rows = {std::string("\0\x64\xC8\x80\3\2\1\0", 8), std::string("\3\2\1\xFF\0\0\0\0", 8)}},
       {{227, 177, 127}, {255, 255, 255}, {1, 2, 3}, {255, 255, 255}}},
      {"32-bit V4 alpha all zero means opaque",
       {.infoSize = 108,
        .bits = 32,
        .compression = 3,
        .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
        .rows = {std::string("\3\2\1\0\6\5\4\0", 8)}},
       {{1, 2, 3}, {4, 5, 6}}},
      {"16-bit 5-6-5 bitfields",
       {.bits = 16,
        .compression = 3,
        .masks = {0xF800, 0x07E0, 0x001F, 0},
        .rows = {std::string("\x00\xF8\xE0\x07", 4), std::string("\x1F\x00\x10\x84", 4)}},
       // 0x8410: 16/31, 32/63, 16/31 of 255
       {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 130, 132}}},
      {"16-bit 5-5-5",
       {.bits = 16, .rows = {std::string("\x00\x7C\x1F\x00", 4)}},
       {{255, 0, 0}, {0, 0, 255}}},
      {"8-bit palette",
       {.bits = 8, .palette = greyPalette(4), .coloursUsed = 4, .rows = {std::string("\3\1", 2)}},
       {{120, 120, 120}, {40, 40, 40}}},
      {"4-bit palette, index past the colours used",
       {.bits = 4, .palette = greyPalette(2), .coloursUsed = 2, .rows = {"\x17"}},
       {{40, 40, 40}, {0, 0, 0}}},
      {"1-bit palette",
       {.bits = 1, .palette = greyPalette(2), .rows = {"\x80", "\x40"}},
       {{40, 40, 40}, {0, 0, 0}, {0, 0, 0}, {40, 40, 40}}},
      // Bottom row first: a run, end of row; a literal run of 3 (one past the edge, padded).
      {"RLE8 run and literal",
       {.bits = 8, .compression = 1, .palette = greyPalette(4),
        .rle = std::string("\2\1\0\0\0\3\3\2\1\0\0\1", 12)},
       {{120, 120, 120}, {80, 80, 80}, {40, 40, 40}, {40, 40, 40}}},
      // Two alternating colours, end of row, a move one right, a run of one, end of bitmap;
      // the pixel moved over keeps index 0.
      {"RLE4 alternating run and move",
       {.bits = 4, .compression = 2, .palette = greyPalette(4),
        .rle = std::string("\2\x31\0\0\0\2\1\0\1\x20\0\1", 12)},
       {{0, 0, 0}, {80, 80, 80}, {120, 120, 120}, {40, 40, 40}}},
  };
  for (const Case& c : cases) {
    CapturedOutput captured;
    const auto image = decodeImageBytes(build(c.bmp), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(captured.text(), "") << c.name;
    ASSERT_TRUE(image) << c.name;
    ASSERT_EQ(image->type(), CV_8UC3) << c.name;
    ASSERT_EQ(image->total(), c.expected.size()) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(image->at<Px>(static_cast<int>(i / 2), static_cast<int>(i % 2)), c.expected[i])
          << c.name << " pixel " << i;
    }
  }
}

TEST(DecodeBmpTest, UnsupportedOrShortBitmapsGiveNothing) {
  std::string cut = build({.rows = {std::string(6, 'x'), std::string(6, 'y')}});
  cut.resize(cut.size() - 1);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"RLE8 ending before its end code",
       build({.bits = 8, .compression = 1, .palette = greyPalette(2), .rle = "\2\1"})},
      {"pixel data cut short", cut},
      {"bit depth 2", build({.bits = 2, .palette = greyPalette(4), .rows = {"\x1B"}})},
      {"bitfields at 24 bits", build({.compression = 3,
                                      .masks = {0xFF0000, 0xFF00, 0xFF, 0},
                                      .rows = {std::string(6, 'z')}})},
      {"unknown header size", build({.infoSize = 20, .rows = {std::string(6, 'z')}})},
      {"zero wide", build({.rows = {""}, .width = 0})},
  };
  for (const auto& [name, bytes] : cases) {
    CapturedOutput captured;
    EXPECT_FALSE(decodeImageBytes(bytes, 256)) << name;
    EXPECT_EQ(captured.text(), "") << name;
  }
}

}  // namespace
}  // namespace velto
