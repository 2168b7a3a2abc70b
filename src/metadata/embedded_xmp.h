#pragma once
// The XMP packets inside photos whose containers let them grow without bound (PNG, WebP, TIFF,
// the raws built on TIFF, RAF), checked before Exiv2 reads the photo: Exiv2 parses every packet
// it finds with its XMP toolkit, whose cost grows with the square of the properties side by
// side (see xmp_limits.h). JPEG needs no check: a segment holds at most 64 KB. (ISO media files
// are checked with their boxes, bmff_nesting.h.)

#include <string>
#include <string_view>

namespace velto {

// Whether every XMP packet Exiv2 would parse in the photo `photo` (its bytes) is within
// xmpWithinLimits: PNG's text chunks keyed "XML:com.adobe.xmp" or holding a raw XMP profile
// (compressed ones inflated as far as Exiv2 inflates them), WebP's "XMP " chunk, the XMP tag
// of a TIFF's first directory, and that tag in the Exif blocks of PNG (eXIf, raw profiles) and
// WebP and in the two TIFF structures of a RAF. True for other files.
bool embeddedXmpWithinLimits(std::string_view photo);

// Whether the XMP tag in the first directory of the Exif block `exif` (a TIFF structure, after
// JPEG's "Exif\0\0" if present) is within xmpWithinLimits; Exiv2 parses it with every Exif
// block it reads. True when there is none.
bool exifXmpWithinLimits(std::string_view exif);

}  // namespace velto
