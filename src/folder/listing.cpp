#include "folder/listing.h"

#include <cstdio>

#include "folder/terminal_text.h"

namespace velto {
namespace {

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  char buf[8];
  for (size_t at = 0; at < text.size();) {
    const auto b = static_cast<unsigned char>(text[at]);
    const size_t n = utf8Length(text, at);
    if (n == 0) {
      std::snprintf(buf, sizeof buf, "\\udc%02x", b);
      out += buf;
      ++at;
      continue;
    }
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (isControl(text, at, n)) {
      // JSON needs only C0 escaped; DEL and C1 are too, so that no terminal acts on them.
      const unsigned code = n == 1 ? b : static_cast<unsigned char>(text[at + 1]);
      std::snprintf(buf, sizeof buf, "\\u%04x", code);
      out += buf;
    } else {
      out.append(text, at, n);
    }
    at += n;
  }
  return out + "\"";
}

std::string timeSourceName(const std::optional<CaptureTime>& time) {
  if (!time) return "";
  switch (time->source) {
    case TimeSource::kExif:
      return "exif";
    case TimeSource::kXmp:
      return "xmp";
    case TimeSource::kFile:
      break;
  }
  return "file";
}

std::string csvListing(const std::vector<FolderPhoto>& photos, const std::vector<int64_t>& groups,
                       bool forTerminal) {
  std::string out = "path,captureTime,timeSource,timeGroup,group\n";
  for (size_t i = 0; i < photos.size(); ++i) {
    const FolderPhoto& p = photos[i];
    out += csvField(forTerminal ? escapedForTerminal(p.path) : p.path) + "," +
           (p.time ? p.time->text : "") + "," + timeSourceName(p.time) + "," +
           std::to_string(p.timeGroup) + "," + std::to_string(groups[i]) + "\n";
  }
  return out;
}

std::string jsonListing(const std::vector<FolderPhoto>& photos,
                        const std::vector<int64_t>& groups) {
  std::string out = "[";
  for (size_t i = 0; i < photos.size(); ++i) {
    const FolderPhoto& p = photos[i];
    out += i == 0 ? "\n" : ",\n";
    out += "{\"path\":" + jsonString(p.path) +
           ",\"captureTime\":" + (p.time ? jsonString(p.time->text) : "null") +
           ",\"timeSource\":" + (p.time ? jsonString(timeSourceName(p.time)) : "null") +
           ",\"timeGroup\":" + std::to_string(p.timeGroup) +
           ",\"group\":" + std::to_string(groups[i]) + "}";
  }
  return out + (photos.empty() ? "]\n" : "\n]\n");
}

}  // namespace velto
