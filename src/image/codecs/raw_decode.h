#pragma once
// Camera raw files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2 and the rest LibRaw knows).

#include <cstdint>
#include <optional>
#include <string_view>

#include "image/pixel_ops.h"

namespace velto {

// The picture of a camera raw file: its embedded preview when that is a JPEG or 8-bit bitmap
// whose short side is at least minShortSide (decoded at a reduced DCT scale like any JPEG),
// else the sensor data developed at half size (each 2 x 2 colour-filter cell one pixel, the
// camera's white balance, sRGB), as 8-bit RGB with the orientation the file declares (for a
// preview that declares none itself). Nothing when the sensor or preview size is not
// acceptableSize (checked before LibRaw allocates pixels), when a large enough preview fails
// to decode, or when LibRaw fails, runs out of data or meets corrupt data. Silent.
std::optional<RawImage> decodeCameraRaw(std::string_view bytes, int64_t minShortSide);

}  // namespace velto
