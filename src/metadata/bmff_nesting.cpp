#include "metadata/bmff_nesting.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "metadata/embedded_xmp.h"
#include "metadata/xmp_limits.h"

namespace velto {
namespace {

constexpr int64_t kMaxBoxes = int64_t{1} << 16;
constexpr int64_t kHeldAllowance = int64_t{1} << 20;

uint64_t bigEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// Where the child boxes of a box of type `type` start within its payload, for the boxes
// Exiv2 0.27 or libheif read as containers; -1 for other boxes. `payload` holds up to the
// payload's first byte (iinf's entry count is 2 or 4 bytes by its version).
int64_t childrenAt(const char* type, const unsigned char* payload, int64_t payloadSize) {
  static constexpr std::array<const char*, 12> kPlain = {"moov", "trak", "mdia", "minf",
                                                         "stbl", "edts", "udta", "dinf",
                                                         "iprp", "ipco", "grpl", "mvex"};
  for (const char* c : kPlain) {
    if (std::memcmp(type, c, 4) == 0) return 0;
  }
  if (std::memcmp(type, "meta", 4) == 0) return 4;   // version and flags
  if (std::memcmp(type, "dref", 4) == 0) return 8;   // version, flags, entry count
  if (std::memcmp(type, "uuid", 4) == 0) return 16;  // the UUID (Canon's holds boxes)
  if (std::memcmp(type, "iinf", 4) == 0) return payloadSize > 0 && payload[0] == 0 ? 6 : 8;
  return -1;
}

// The UUID of the box in which CR3 files keep XMP.
constexpr unsigned char kXmpUuid[16] = {0xbe, 0x7a, 0xcf, 0xcb, 0x97, 0xa9, 0x42, 0xe8,
                                        0x9c, 0x71, 0x99, 0x94, 0x91, 0xe3, 0xaf, 0xac};

// Reads `bytes` big-endian bytes at `*at` of `s` (none: 0); false past the end.
bool field(const std::string& s, size_t* at, int bytes, uint64_t* value) {
  if (*at + static_cast<size_t>(bytes) > s.size()) return false;
  *value = bigEndian(reinterpret_cast<const unsigned char*>(s.data()) + *at, bytes);
  *at += static_cast<size_t>(bytes);
  return true;
}

// The file ranges of the items in `wanted` that an item location box (payload `iloc`) places
// in the file itself (construction method 0): {offset, length} per extent.
std::vector<std::pair<int64_t, int64_t>> itemExtents(const std::string& iloc,
                                                     const std::set<uint64_t>& wanted) {
  std::vector<std::pair<int64_t, int64_t>> out;
  size_t at = 0;
  uint64_t version = 0, flags = 0, sizes = 0, moreSizes = 0, items = 0;
  if (!field(iloc, &at, 1, &version) || !field(iloc, &at, 3, &flags) ||
      !field(iloc, &at, 1, &sizes) || !field(iloc, &at, 1, &moreSizes) ||
      !field(iloc, &at, version < 2 ? 2 : 4, &items)) {
    return out;
  }
  const int offsetSize = static_cast<int>(sizes >> 4), lengthSize = static_cast<int>(sizes & 15);
  const int baseSize = static_cast<int>(moreSizes >> 4);
  const int indexSize = version == 1 || version == 2 ? static_cast<int>(moreSizes & 15) : 0;
  for (uint64_t i = 0; i < items; ++i) {
    uint64_t id = 0, method = 0, reference = 0, base = 0, extents = 0;
    if (!field(iloc, &at, version < 2 ? 2 : 4, &id) ||
        (version >= 1 && !field(iloc, &at, 2, &method)) || !field(iloc, &at, 2, &reference) ||
        !field(iloc, &at, baseSize, &base) || !field(iloc, &at, 2, &extents)) {
      return out;
    }
    for (uint64_t e = 0; e < extents; ++e) {
      uint64_t index = 0, offset = 0, length = 0;
      if (!field(iloc, &at, indexSize, &index) || !field(iloc, &at, offsetSize, &offset) ||
          !field(iloc, &at, lengthSize, &length)) {
        return out;
      }
      if (wanted.count(id) != 0 && (method & 15) == 0) {
        out.emplace_back(static_cast<int64_t>(std::min<uint64_t>(base + offset, INT64_MAX)),
                         static_cast<int64_t>(std::min<uint64_t>(length, INT64_MAX)));
      }
    }
  }
  return out;
}

}  // namespace

bool bmffNestingAcceptable(std::string_view photo) {
  const auto fileSize = static_cast<int64_t>(photo.size());
  const int64_t maxHeld = 2 * fileSize + kHeldAllowance;

  struct Level {
    int64_t begin, end;  // the byte range of the boxes at this level
    int depth;
    int64_t held;  // payload bytes of the enclosing boxes
  };
  std::vector<Level> pending = {{0, fileSize, 0, 0}};
  int64_t boxes = 0;
  // What Exiv2 parses as XMP: items of type "mime" placed by the item locations, and the
  // payload of XMP's UUID box; the XMP tag of Exif blocks: items of type "Exif", and CR3's
  // CMT boxes.
  std::set<uint64_t> mimeItems, exifItems;
  std::vector<std::string> locations;
  std::vector<std::pair<int64_t, int64_t>> xmp, exif;
  const auto payload = [&](int64_t at, int64_t n) {
    if (at < 0 || at >= fileSize || n <= 0) return std::string();
    return std::string(photo.substr(static_cast<size_t>(at), static_cast<size_t>(n)));
  };
  while (!pending.empty()) {
    const Level level = pending.back();
    pending.pop_back();
    int64_t at = level.begin;
    while (at + 8 <= level.end) {
      // Size, type, the 64-bit size when the size is 1, and the payload's first byte.
      unsigned char header[17] = {};
      const int64_t want = std::min<int64_t>(sizeof header, level.end - at);
      std::memcpy(header, photo.data() + at, static_cast<size_t>(want));
      if (++boxes > kMaxBoxes) return false;
      uint64_t size = bigEndian(header, 4);
      int64_t headerSize = 8;
      if (size == 1) {
        if (want < 16) break;
        size = bigEndian(header + 8, 8);
        headerSize = 16;
      } else if (size == 0) {
        size = static_cast<uint64_t>(level.end - at);  // to the end of the enclosing box
      }
      if (size < static_cast<uint64_t>(headerSize) ||
          size > static_cast<uint64_t>(level.end - at)) {
        break;
      }
      const int64_t boxSize = static_cast<int64_t>(size);
      const int64_t payloadSize = boxSize - headerSize;
      const int64_t skip =
          childrenAt(reinterpret_cast<const char*>(header + 4), header + headerSize,
                     std::min<int64_t>(payloadSize, want - headerSize));
      const std::string_view type(reinterpret_cast<const char*>(header + 4), 4);
      const int64_t payloadAt = at + headerSize;
      if (type == "infe") {
        // Version 2 or 3: item ID of 2 or 4 bytes, protection index, item type.
        const std::string p = payload(payloadAt, 16);
        size_t pos = 4;
        uint64_t id = 0, protection = 0;
        if (!p.empty() && p[0] >= 2 && field(p, &pos, p[0] == 2 ? 2 : 4, &id) &&
            field(p, &pos, 2, &protection)) {
          if (p.compare(pos, 4, "mime") == 0) mimeItems.insert(id);
          if (p.compare(pos, 4, "Exif") == 0) exifItems.insert(id);
        }
      } else if (type == "iloc") {
        locations.push_back(payload(payloadAt, payloadSize));
      } else if (type == "uuid" && payloadSize >= 16 &&
                 payload(payloadAt, 16) ==
                     std::string(reinterpret_cast<const char*>(kXmpUuid), 16)) {
        xmp.emplace_back(payloadAt + 16, payloadSize - 16);
      } else if (type == "CMT1" || type == "CMT2" || type == "CMT3" || type == "CMT4") {
        exif.emplace_back(payloadAt, payloadSize);
      }
      if (skip >= 0) {
        const Level inner = {at + headerSize + skip, at + boxSize, level.depth + 1,
                             level.held + payloadSize};
        if (inner.depth > kMaxBmffNesting || inner.held > maxHeld) return false;
        if (inner.begin < inner.end) pending.push_back(inner);
      }
      at += boxSize;
    }
  }
  for (const std::string& iloc : locations) {
    for (const auto& extent : itemExtents(iloc, mimeItems)) xmp.push_back(extent);
    for (const auto& [offset, length] : itemExtents(iloc, exifItems)) {
      // The item starts with the distance from its fifth byte to the TIFF header.
      const std::string skip = payload(offset, 4);
      if (skip.size() < 4) continue;
      const uint64_t header = 4 + bigEndian(reinterpret_cast<const unsigned char*>(skip.data()), 4);
      if (header < static_cast<uint64_t>(length)) {
        exif.emplace_back(offset + static_cast<int64_t>(header),
                          length - static_cast<int64_t>(header));
      }
    }
  }
  for (const auto& [offset, length] : xmp) {
    if (!xmpWithinLimits(payload(offset, length))) return false;
  }
  for (const auto& [offset, length] : exif) {
    if (!exifXmpWithinLimits(payload(offset, length))) return false;
  }
  return true;
}

}  // namespace velto
