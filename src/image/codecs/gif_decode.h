#pragma once
// GIF through giflib, reading just the first frame of an animation.

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The first frame of the GIF drawn on its logical screen, as 8-bit RGBA (what the frame leaves
// uncovered, and its transparent colour, transparent). When the frame leaves part of the screen
// uncovered, the screen is shrunk while it is drawn by the whole factor reduceToShortSide
// (minShortSide) would apply (see ReducedCanvas); otherwise it is the frame at full size.
// Later frames are only skipped over, not decoded, but must be intact up to the trailer:
// nothing for a file cut short anywhere, or one whose first frame giflib cannot decode. The screen
// and the frame must each be acceptableSize, and the frame paidForByBytes. Silent.
std::optional<RawImage> decodeGif(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
