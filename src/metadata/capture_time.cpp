#include "metadata/capture_time.h"

#include <libheif/heif.h>

#include <cstdio>
#include <exiv2/exiv2.hpp>
#include <exiv2/webpimage.hpp>  // not among exiv2.hpp's
#include <memory>
#include <string_view>
#include <vector>

#include "io/read_file.h"
#include "metadata/bmff_nesting.h"
#include "metadata/embedded_xmp.h"
#include "metadata/exiv2_setup.h"

namespace velto {
namespace {

// Reads `count` decimal digits at `*at`; false (and `*at` unchanged) unless all are digits.
bool digits(std::string_view s, size_t* at, size_t count, int64_t* value) {
  if (*at + count > s.size()) return false;
  int64_t v = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = s[*at + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *at += count;
  *value = v;
  return true;
}

bool expect(std::string_view s, size_t* at, std::string_view any) {
  if (*at >= s.size() || any.find(s[*at]) == std::string_view::npos) return false;
  ++*at;
  return true;
}

std::string_view trimmed(std::string_view s) {
  // Cameras pad with spaces and end strings with NUL.
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// Days from 1970-01-01 to the given proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool validDate(int64_t y, int64_t m, int64_t d) {
  static constexpr int64_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m != 2 || d <= 28 || leap;
}

// "YYYY?MM?DD?HH:MM" and optionally ":SS", the separators given; `*at` left after it.
std::optional<int64_t> dateTime(std::string_view s, size_t* at, std::string_view dateSep,
                                std::string_view middle, bool secondsOptional) {
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (!digits(s, at, 4, &y) || !expect(s, at, dateSep) || !digits(s, at, 2, &mo) ||
      !expect(s, at, dateSep) || !digits(s, at, 2, &d) || !expect(s, at, middle) ||
      !digits(s, at, 2, &h) || !expect(s, at, ":") || !digits(s, at, 2, &mi)) {
    return std::nullopt;
  }
  if (!secondsOptional || (*at < s.size() && s[*at] == ':')) {
    if (!expect(s, at, ":") || !digits(s, at, 2, &sec)) return std::nullopt;
  }
  if (!validDate(y, mo, d) || h > 23 || mi > 59 || sec > 59) return std::nullopt;
  return daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + sec;
}

// Up to nine digits of a decimal fraction as nanoseconds; further digits are dropped.
std::optional<int64_t> fractionNanos(std::string_view digitsText) {
  if (digitsText.empty()) return std::nullopt;
  int64_t nanos = 0;
  for (size_t i = 0; i < digitsText.size(); ++i) {
    const char c = digitsText[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (i < 9) nanos = nanos * 10 + (c - '0');
  }
  for (size_t i = digitsText.size(); i < 9; ++i) nanos *= 10;
  return nanos;
}

// "+HH:MM" or "-HH:MM" (or "Z" where `allowZ`), the whole of `s`.
std::optional<int64_t> offsetSeconds(std::string_view s, bool allowZ) {
  if (allowZ && s == "Z") return 0;
  size_t at = 0;
  int64_t h = 0, m = 0;
  if (s.size() != 6 || !expect(s, &at, "+-") || !digits(s, &at, 2, &h) ||
      !expect(s, &at, ":") || !digits(s, &at, 2, &m) || h > 23 || m > 59) {
    return std::nullopt;
  }
  const int64_t seconds = h * 3600 + m * 60;
  return s[0] == '-' ? -seconds : seconds;
}

std::string isoText(int64_t localSeconds, std::string_view fraction,
                    const std::optional<int64_t>& offset) {
  // Back from the day count (H. Hinnant's civil_from_days).
  const int64_t days = (localSeconds >= 0 ? localSeconds : localSeconds - 86399) / 86400;
  const int64_t secs = localSeconds - days * 86400;
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  std::string text = buf;
  if (!fraction.empty()) text += "." + std::string(fraction);
  if (offset) {
    const int64_t a = *offset < 0 ? -*offset : *offset;
    std::snprintf(buf, sizeof buf, "%c%02lld:%02lld", *offset < 0 ? '-' : '+',
                  static_cast<long long>(a / 3600), static_cast<long long>(a / 60 % 60));
    text += buf;
  }
  return text;
}

std::string valueOf(const Exiv2::ExifData& exif, const char* key) {
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  return it == exif.end() ? std::string() : it->toString();
}

std::optional<CaptureTime> fromExif(const Exiv2::ExifData& exif) {
  const std::string original = valueOf(exif, "Exif.Photo.DateTimeOriginal");
  if (original.empty()) return std::nullopt;
  return parseExifCaptureTime(original, valueOf(exif, "Exif.Photo.SubSecTimeOriginal"),
                              valueOf(exif, "Exif.Photo.OffsetTimeOriginal"));
}

// The formats of the photos the programs read, as Exiv2 names them; Exiv2 is kept from the
// others, among them Canon's CRW, whose nested directories Exiv2 0.27 follows until the stack
// overflows. (TIFF stands for DNG, NEF, ARW, PEF and the other raws built on it; ISO media for
// HEIF, AVIF and CR3.)
bool readableType(int type) {
  namespace T = Exiv2::ImageType;
  for (const int t : {T::jpeg, T::png, T::webp, T::tiff, T::cr2, T::orf, T::rw2, T::raf, T::bmff}) {
    if (type == t) return true;
  }
  return false;
}

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

// The Exif block of a HEIF file's primary image through libheif. Exiv2 0.27.6 misses it in
// files whose item locations are of version 1, as libheif writes them for grid images; only
// the boxes are read, nothing is decoded.
std::optional<CaptureTime> heifExifCaptureTime(std::string_view photo) {
  const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context ||
      heif_context_read_from_memory_without_copy(context.get(), photo.data(), photo.size(), nullptr)
              .code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* raw = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok) {
    return std::nullopt;
  }
  const std::unique_ptr<heif_image_handle, HandleFree> handle(raw);
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1) {
    return std::nullopt;
  }
  std::vector<unsigned char> block(heif_image_handle_get_metadata_size(handle.get(), id));
  if (block.size() < 4 ||
      heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok) {
    return std::nullopt;
  }
  // The block starts with the big-endian distance from its fifth byte to the TIFF header.
  const uint64_t skip = 4 + (uint64_t{block[0]} << 24 | uint64_t{block[1]} << 16 |
                             uint64_t{block[2]} << 8 | uint64_t{block[3]});
  if (skip >= block.size()) return std::nullopt;
  Exiv2::ExifData exif;
  Exiv2::ExifParser::decode(exif, block.data() + skip, static_cast<uint32_t>(block.size() - skip));
  return fromExif(exif);
}

}  // namespace

std::optional<CaptureTime> parseExifCaptureTime(const std::string& dateTimeText,
                                                const std::string& subSeconds,
                                                const std::string& offset) {
  const std::string_view s = trimmed(dateTimeText);
  size_t at = 0;
  // Exif writes colons in the date; some programs write dashes or a T instead.
  const std::optional<int64_t> local = dateTime(s, &at, ":-", " T", false);
  if (!local || at != s.size()) return std::nullopt;
  CaptureTime t;
  t.localSeconds = *local;
  const std::string_view fraction = trimmed(subSeconds);
  const std::optional<int64_t> nanos = fractionNanos(fraction);
  if (nanos) t.nanoseconds = *nanos;
  t.offsetSeconds = offsetSeconds(trimmed(offset), false);
  t.text = isoText(t.localSeconds, nanos ? fraction : std::string_view(), t.offsetSeconds);
  return t;
}

std::optional<CaptureTime> parseXmpCaptureTime(const std::string& text) {
  const std::string_view s = trimmed(text);
  size_t at = 0;
  const std::optional<int64_t> local = dateTime(s, &at, "-", "T", true);
  if (!local) return std::nullopt;
  CaptureTime t;
  t.source = TimeSource::kXmp;
  t.localSeconds = *local;
  std::string_view fraction;
  if (at < s.size() && s[at] == '.') {
    const size_t start = ++at;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') ++at;
    fraction = s.substr(start, at - start);
    const std::optional<int64_t> nanos = fractionNanos(fraction);
    if (!nanos) return std::nullopt;
    t.nanoseconds = *nanos;
  }
  if (at < s.size()) {
    t.offsetSeconds = offsetSeconds(s.substr(at), true);
    if (!t.offsetSeconds) return std::nullopt;
  }
  t.text = isoText(t.localSeconds, fraction, t.offsetSeconds);
  return t;
}

bool exiv2MayRead(std::string_view photo, int exiv2Type) {
  if (!readableType(exiv2Type)) return false;
  if (exiv2Type == Exiv2::ImageType::bmff && !bmffNestingAcceptable(photo)) return false;
  return embeddedXmpWithinLimits(photo);
}

std::optional<CaptureTime> readCaptureTime(const std::string& path) {
  // Read once, whole, into memory of our own: Exiv2 would map the file, and a file that
  // shrinks while it is parsed would then end the process with SIGBUS.
  std::string photo;
  std::string err;
  if (!readRegularFile(path, kMaxPhotoFileBytes, &photo, &err)) return std::nullopt;
  return captureTimeOfBytes(photo);
}

std::optional<CaptureTime> captureTimeOfBytes(std::string_view photo) {
  prepareExiv2();
  try {
    // MemIo over our bytes: Exiv2 reads them in place and never writes unless asked to.
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(reinterpret_cast<const Exiv2::byte*>(photo.data()),
                                                static_cast<long>(photo.size())));
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(io);
    if (image.get() == nullptr || !exiv2MayRead(photo, image->imageType())) return std::nullopt;
    const bool isoMedia = image->imageType() == Exiv2::ImageType::bmff;
    image->readMetadata();
    std::optional<CaptureTime> t = fromExif(image->exifData());
    if (t) return t;
    const Exiv2::XmpData& xmp = image->xmpData();
    const auto it = xmp.findKey(Exiv2::XmpKey("Xmp.exif.DateTimeOriginal"));
    if (it != xmp.end()) t = parseXmpCaptureTime(it->toString());
    if (!t && isoMedia) t = heifExifCaptureTime(photo);
    return t;
  } catch (const std::exception&) {
    // Unreadable or malformed metadata: the photo is simply undated.
  }
  return std::nullopt;
}

}  // namespace velto
