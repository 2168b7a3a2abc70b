#pragma once
// GIF through giflib, reading just the first frame of an animation.

#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The first frame of the GIF drawn on its logical screen, as 8-bit RGB, or RGBA when the
// frame has a transparent colour or leaves part of the screen uncovered (those parts are
// transparent). Later frames are only skipped over, not decoded, but must be intact up to
// the trailer: nothing for a file cut short anywhere, or one whose first frame giflib cannot
// decode. The screen and the frame must each be acceptableSize. Silent.
std::optional<RawImage> decodeGif(std::string_view bytes);

}  // namespace velto
