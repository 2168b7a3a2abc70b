#pragma once
// Finding the Exif Orientation tag (274) wherever a file format keeps Exif data.

#include <cstdint>
#include <string_view>

namespace velto {

// The orientation (1-8) an Exif payload (a TIFF structure, with or without the "Exif\0\0"
// prefix) declares in IFD0; 1 when it declares none, a value outside 1-8, or is malformed.
int64_t orientationFromExif(std::string_view exif);

// The orientation a PNG's eXIf chunk or a WebP's EXIF chunk declares, 1 when there is none.
int64_t orientationInPng(std::string_view png);
int64_t orientationInWebp(std::string_view webp);

}  // namespace velto
