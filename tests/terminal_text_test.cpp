// Names on their way to a terminal, and frames drawn onto a reduced canvas: case tables.
#include "folder/terminal_text.h"

#include <gtest/gtest.h>

#include "image/reduced_canvas.h"

namespace velto {
namespace {

TEST(TerminalTextTest, ControlCharactersAndInvalidBytesAreEscapedOthersKept) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain name.jpg", "plain name.jpg"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},
      {"\x1b]0;title\a\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
      {"tab\there\nnew", "tab\\x09here\\x0anew"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      {"\x1f\x20\x7e\x7f", "\\x1f ~\\x7f"},
      {"c1 \xc2\x9b csi, \xc2\x9f, \xc2\xa0 kept", "c1 \\xc2\\x9b csi, \\xc2\\x9f, \xc2\xa0 kept"},
      {"latin-1 caf\xe9, raw \x9b", "latin-1 caf\\xe9, raw \\x9b"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
      {"overlong \xc0\xaf, surrogate \xed\xa0\x80",
       "overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80"},
      {"back\\slash", "back\\slash"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(escapedForTerminal(name), shown) << shown;
}

// A frame drawn onto a reduced canvas: each pixel the mean of the full-size pixels it stands
// for, uncovered parts transparent, the rest beyond a whole factor left out.
TEST(ReducedCanvasTest, FramesAreAveragedWhereTheyFallAndTheRestStaysTransparent) {
  EXPECT_EQ(reductionFactor({16384, 16384}, 224), 73);
  EXPECT_EQ(reductionFactor({447, 10000}, 224), 1);
  EXPECT_EQ(reductionFactor({448, 10000}, 224), 2);

  ReducedCanvas canvas({9, 7}, 2);  // 4 x 3
  ASSERT_EQ(canvas.reducedSize(), (ImageSize{4, 3}));
  // An opaque red 2 x 2 block at (2, 2); one opaque white pixel at (0, 0); a row running off
  // the right edge at (6, 4), half opaque.
  const std::vector<uint8_t> red = {255, 0, 0, 255, 255, 0, 0, 255};
  canvas.addRow(2, 2, red.data(), 2);
  canvas.addRow(2, 3, red.data(), 2);
  const std::vector<uint8_t> white = {255, 255, 255, 255};
  canvas.addRow(0, 0, white.data(), 1);
  canvas.addRow(8, 0, white.data(), 1);  // the ninth column: beyond the whole factor, left out
  const std::vector<uint8_t> half(4 * 5, 128);
  canvas.addRow(6, 4, half.data(), 5);
  const RawImage out = canvas.finish();
  ASSERT_TRUE(out.premultiplied);
  const auto px = [&](int x, int y) {
    const uint8_t* p = out.pixels.ptr<uint8_t>(y) + 4 * x;
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  EXPECT_EQ(px(1, 1), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(px(0, 0), (std::vector<int>{64, 64, 64, 64}));  // one of four, premultiplied
  EXPECT_EQ(px(3, 2), (std::vector<int>{32, 32, 32, 64}));  // two of four at half alpha
  EXPECT_EQ(px(2, 0), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(px(0, 1), (std::vector<int>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace velto
