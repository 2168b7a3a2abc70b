#include "metadata/embedded_xmp.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "io/byte_reader.h"
#include "metadata/xmp_limits.h"

namespace velto {
namespace {

constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";
constexpr char kRawProfileKeyword[] = "Raw profile type xmp";  // ImageMagick's, in hex

// The photo's bytes, read whole once by the caller.
class File {
 public:
  explicit File(std::string_view bytes) : bytes_(bytes) {}
  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }

  // `n` bytes at `at`, fewer at the end of the file.
  std::string read(int64_t at, int64_t n) const {
    if (at < 0 || at >= size() || n <= 0) return {};
    return std::string(bytes_.substr(static_cast<size_t>(at), static_cast<size_t>(n)));
  }

 private:
  std::string_view bytes_;
};

// Bytes already read (an Exif block), read as File reads a file.
class Bytes {
 public:
  explicit Bytes(std::string_view s) : s_(s) {}
  std::string read(int64_t at, int64_t n) const {
    if (at < 0 || at >= static_cast<int64_t>(s_.size()) || n <= 0) return {};
    return std::string(s_.substr(static_cast<size_t>(at), static_cast<size_t>(n)));
  }

 private:
  std::string_view s_;
};

// The part of a file from `base`, `length` bytes long, read as File reads a file.
class Window {
 public:
  Window(const File& f, int64_t base, int64_t length) : f_(f), base_(base), length_(length) {}
  std::string read(int64_t at, int64_t n) const {
    if (at < 0 || at >= length_ || n <= 0) return {};
    return f_.read(base_ + at, std::min(n, length_ - at));
  }

 private:
  const File& f_;
  int64_t base_, length_;
};

// Inflated as Exiv2 0.27 inflates PNG text: into at most twice the compressed size, or
// 128 KiB when that is more.
std::string inflated(std::string_view compressed) {
  uLongf size = static_cast<uLongf>(std::max<size_t>(2 * compressed.size(), 131072));
  std::string out(size, '\0');
  // A stream longer than the room is cut off, as Exiv2 would have it.
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(size);
  inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// The XMP tag of the first directory of the TIFF structure in `f` (a file or an Exif block).
template <typename Source>
bool tiffWithinLimits(const Source& f, bool little) {
  const int64_t ifd = ByteReader(f.read(4, 4), little).u32(0);
  const std::string countBytes = f.read(ifd, 2);
  if (countBytes.size() < 2) return true;
  const int64_t count = ByteReader(countBytes, little).u16(0);
  const std::string entries = f.read(ifd + 2, 12 * count);
  const ByteReader r(entries, little);
  for (int64_t e = 0; e + 12 <= r.size(); e += 12) {
    if (r.u16(e) != 700) continue;  // XMLPacket
    const int64_t length = r.u32(e + 4);
    const int64_t at = length <= 4 ? ifd + 2 + e + 8 : r.u32(e + 8);
    if (!xmpWithinLimits(f.read(at, length))) return false;
  }
  return true;
}

bool tiffBytesWithinLimits(std::string_view tiff) {
  const std::string_view order = tiff.substr(0, 2);
  if (tiff.size() < 8 || (order != "II" && order != "MM")) return true;
  return tiffWithinLimits(Bytes(tiff), order == "II");
}

// The bytes of a raw profile: "\nxmp\n    LENGTH\n" and hexadecimal digits in lines.
std::string fromRawProfile(std::string_view text) {
  size_t at = 0;
  for (int line = 0; line < 3; ++line) {
    at = text.find('\n', at);
    if (at == std::string_view::npos) return {};
    ++at;
  }
  std::string out;
  int high = -1;
  for (size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high * 16 + v);
      high = -1;
    }
  }
  return out;
}

// The text of a PNG text chunk (tEXt, zTXt or iTXt) when its keyword is `keyword`; raw
// profiles decoded.
std::string pngChunkText(std::string_view type, std::string_view data, std::string_view keyword) {
  const size_t nul = data.find('\0');
  if (nul == std::string_view::npos || data.substr(0, nul) != keyword) return {};
  const bool rawProfile = keyword.rfind("Raw profile type ", 0) == 0;
  std::string_view rest = data.substr(nul + 1);
  if (type == "tEXt") return rawProfile ? fromRawProfile(rest) : std::string(rest);
  if (type == "zTXt") {
    if (rest.empty()) return {};
    const std::string text = inflated(rest.substr(1));
    return rawProfile ? fromRawProfile(text) : text;
  }
  // iTXt: compression flag and method, then language and translated keyword, each ending in NUL.
  if (rest.size() < 2) return {};
  const bool compressed = rest[0] != 0;
  rest.remove_prefix(2);
  for (int i = 0; i < 2; ++i) {
    const size_t end = rest.find('\0');
    if (end == std::string_view::npos) return {};
    rest.remove_prefix(end + 1);
  }
  const std::string text = compressed ? inflated(rest) : std::string(rest);
  return rawProfile ? fromRawProfile(text) : text;
}

bool pngWithinLimits(const File& f) {
  for (int64_t at = 8; at + 8 <= f.size();) {
    const std::string header = f.read(at, 8);
    if (header.size() < 8) return true;
    const int64_t length = ByteReader(header, /*littleEndian=*/false).u32(0);
    const std::string_view type = std::string_view(header).substr(4, 4);
    if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
      const std::string data = f.read(at + 8, length);
      if (!xmpWithinLimits(pngChunkText(type, data, kXmpKeyword)) ||
          !xmpWithinLimits(pngChunkText(type, data, kRawProfileKeyword))) {
        return false;
      }
      for (const char* exif : {"Raw profile type exif", "Raw profile type APP1"}) {
        if (!exifXmpWithinLimits(pngChunkText(type, data, exif))) return false;
      }
    }
    if (type == "eXIf" && !exifXmpWithinLimits(f.read(at + 8, length))) return false;
    if (type == "IEND") return true;
    at += 12 + length;
  }
  return true;
}

bool webpWithinLimits(const File& f) {
  for (int64_t at = 12; at + 8 <= f.size();) {
    const std::string header = f.read(at, 8);
    if (header.size() < 8) return true;
    const int64_t length = ByteReader(header, /*littleEndian=*/true).u32(4);
    if (header.substr(0, 4) == "XMP " && !xmpWithinLimits(f.read(at + 8, length))) return false;
    if (header.substr(0, 4) == "EXIF" && !exifXmpWithinLimits(f.read(at + 8, length))) return false;
    at += 8 + length + (length & 1);
  }
  return true;
}

// RAF: Exiv2 reads a TIFF structure 12 bytes into the embedded JPEG (past the header of the
// Exif segment it expects there), and another at the offset and length stored at byte 100.
bool rafWithinLimits(const File& f) {
  const std::string offsets = f.read(84, 24);
  if (offsets.size() < 24) return true;
  const ByteReader r(offsets, /*littleEndian=*/false);
  for (const auto& [at, length] :
       {std::pair{r.u32(0) + 12, r.u32(4)}, std::pair{r.u32(16), r.u32(20)}}) {
    const Window tiff(f, at, length);
    const std::string order = tiff.read(0, 2);
    if ((order == "II" || order == "MM") && !tiffWithinLimits(tiff, order == "II")) return false;
  }
  return true;
}

}  // namespace

bool exifXmpWithinLimits(std::string_view exif) {
  // Exif blocks in PNG raw profiles and WebP may start with JPEG's "Exif\0\0".
  const std::string_view jpegHeader("Exif\0\0", 6);
  if (exif.substr(0, 6) == jpegHeader) exif.remove_prefix(6);
  return tiffBytesWithinLimits(exif);
}

bool embeddedXmpWithinLimits(std::string_view photo) {
  const File f(photo);
  const std::string head = f.read(0, 16);
  if (head.rfind("\x89PNG\r\n\x1A\n", 0) == 0) return pngWithinLimits(f);
  if (head.rfind("RIFF", 0) == 0 && head.size() >= 12 && head.substr(8, 4) == "WEBP") {
    return webpWithinLimits(f);
  }
  if (head.rfind("FUJIFILMCCD-RAW", 0) == 0) return rafWithinLimits(f);
  // TIFF, and ORF ("IIRO", "IIRS", "MMOR") and RW2 ("IIU\0") with TIFF's layout.
  const std::string_view order = std::string_view(head).substr(0, 2);
  if (head.size() >= 8 && (order == "II" || order == "MM")) {
    const bool little = order == "II";
    return tiffWithinLimits(f, little);
  }
  return true;
}

}  // namespace velto
