#pragma once
// When a photo was taken, from its own metadata (Exiv2): the original date and time, its
// sub-seconds and its offset from UTC where the camera recorded them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velto {

// Where a capture time came from: the Exif of the photo, its XMP, or (when neither holds
// one) its file's modification time.
enum class TimeSource { kExif, kXmp, kFile };

struct CaptureTime {
  int64_t localSeconds = 0;  // the wall-clock date and time, as seconds since 1970-01-01 00:00
  int64_t nanoseconds = 0;   // the recorded sub-seconds, 0 to 999999999
  std::optional<int64_t> offsetSeconds;  // east of UTC, when recorded
  std::string text;  // ISO 8601 as recorded: 2026-12-07T14:03:22.120+01:00, the parts present
  TimeSource source = TimeSource::kExif;
};

// The capture time of the photo file at `path`: Exif DateTimeOriginal with SubSecTimeOriginal
// and OffsetTimeOriginal, else XMP exif:DateTimeOriginal. Nothing when the file holds neither,
// holds a blank or impossible date, or cannot be read. The file is only ever opened for
// reading, and read whole into memory before anything parses it (at most kMaxPhotoFileBytes,
// the decoders' limit), so a file that changes meanwhile gives a time or none, never a crash.
// Never throws or prints.
std::optional<CaptureTime> readCaptureTime(const std::string& path);
inline constexpr int64_t kMaxPhotoFileBytes = int64_t{512} << 20;

// The same, of a photo's bytes.
std::optional<CaptureTime> captureTimeOfBytes(std::string_view photo);

// Whether readCaptureTime lets Exiv2 read the photo `photo` (its bytes), which Exiv2 takes for
// an image of type `exiv2Type` (an Exiv2::ImageType): only the formats of the photos the
// programs read, and none on which Exiv2 would spend minutes or gigabytes (bmff_nesting.h,
// embedded_xmp.h).
bool exiv2MayRead(std::string_view photo, int exiv2Type);

// The parts of the metadata readCaptureTime looks at, parsed: Exif's "YYYY:MM:DD HH:MM:SS",
// its sub-second digits and "+HH:MM" offset (empty strings when absent). Nothing when the
// date is blank or impossible; bad sub-seconds or offsets are left out.
std::optional<CaptureTime> parseExifCaptureTime(const std::string& dateTime,
                                                const std::string& subSeconds,
                                                const std::string& offset);

// XMP's ISO 8601 form, "YYYY-MM-DDTHH:MM[:SS[.fraction]][Z|+HH:MM]"; nothing when malformed.
std::optional<CaptureTime> parseXmpCaptureTime(const std::string& text);

}  // namespace velto
