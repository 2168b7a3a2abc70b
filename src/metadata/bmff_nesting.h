#pragma once
// A check of ISO media files (HEIF, AVIF, CR3) before Exiv2 0.27 reads them: Exiv2 holds a
// copy of every enclosing box while it reads a nested one, so boxes nested thousands deep in a
// file of a few hundred kilobytes take it minutes and gigabytes; and it parses their XMP with
// the toolkit that xmp_limits.h guards.

#include <string>
#include <string_view>

namespace velto {

// Boxes nested deeper than this are refused; photos nest theirs three deep (meta, iprp, ipco).
inline constexpr int kMaxBmffNesting = 8;

// Whether the boxes of the ISO media file `photo` (its bytes) are safe to hand to Exiv2: nested at
// most kMaxBmffNesting deep, holding at most twice the file's size (plus a megabyte) in any
// chain of enclosing boxes, at most 65536 of them, and every XMP packet Exiv2 would parse
// (items of type "mime", XMP's UUID box, the XMP tag of Exif items and CR3's CMT boxes)
// within xmpWithinLimits. Only box headers, item
// information and locations, and those packets are read. A box that overruns its parent ends
// the walk of that level (Exiv2 refuses it by itself).
bool bmffNestingAcceptable(std::string_view photo);

}  // namespace velto
