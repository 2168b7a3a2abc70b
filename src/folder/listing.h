#pragma once
// The listing on standard output: one photo per row, in the order the grouping used.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "folder/capture_order.h"

namespace velto {

// Where a photo's capture time came from: "exif", "xmp", "file", or "" when it has none.
std::string timeSourceName(const std::optional<CaptureTime>& time);

// CSV with the header path,captureTime,timeSource,timeGroup,group, quoted as RFC 4180 says
// but with rows ending in "\n" alone.
// A path is written with its bytes as they are, quoted when it holds a comma, a quotation mark
// or a line break, so a CSV reader gives every name back; `forTerminal` (the listing goes to a
// terminal, to be read, not parsed) shows it escapedForTerminal instead. An undated photo has
// an empty captureTime. Requires groups.size() == photos.size().
std::string csvListing(const std::vector<FolderPhoto>& photos, const std::vector<int64_t>& groups,
                       bool forTerminal);

// One JSON array of objects {"path", "captureTime", "timeSource", "timeGroup", "group"},
// captureTime and timeSource null for undated photos. A path that is not valid UTF-8 keeps its
// bytes recoverable: each byte outside a valid sequence becomes the escape \udcXX (XX the
// byte), the convention of Python's "surrogateescape" (json.loads, then os.fsencode, gives the
// name back). Control characters (C0, DEL, C1) are written as \u00XX, so the listing is safe
// on a terminal too.
std::string jsonListing(const std::vector<FolderPhoto>& photos, const std::vector<int64_t>& groups);

// `text` as a JSON string literal, quotation marks included, invalid UTF-8 escaped as above.
std::string jsonString(const std::string& text);

}  // namespace velto
