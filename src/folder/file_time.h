#pragma once
// A date for a photo whose metadata holds none: its file's modification time, as the local
// wall-clock time the computer showed then, as photo managers do.

#include <optional>
#include <string>

#include "metadata/capture_time.h"

namespace velto {

// The modification time of the file at `path` as a capture time of source kFile: the local
// date and time (this process's time zone), nanoseconds, the local offset from UTC, and the
// text "2026-12-07T14:03:22.5+01:00" (fraction without trailing zeros). Nothing when the
// file cannot be examined.
std::optional<CaptureTime> fileCaptureTime(const std::string& path);

// The same for a time given as seconds and nanoseconds since 1970 UTC.
std::optional<CaptureTime> localCaptureTime(int64_t seconds, int64_t nanoseconds);

}  // namespace velto
