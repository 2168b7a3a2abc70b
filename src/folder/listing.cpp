#include "folder/listing.h"

#include <cstdio>

namespace velto {
namespace {

// Length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when the byte there starts none:
// overlong forms, surrogates and code points above U+10FFFF are invalid.
size_t utf8Length(const std::string& s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b = byte(at);
  if (b < 0x80) return 1;
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (at + n > s.size()) return 0;
  if (byte(at + 1) < lo || byte(at + 1) > hi) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return n;
}

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
    } else if (b < 0x20) {
      std::snprintf(buf, sizeof buf, "\\u%04x", b);
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

std::string csvListing(const std::vector<FolderPhoto>& photos, const std::vector<int64_t>& groups) {
  std::string out = "path,captureTime,timeSource,timeGroup,group\n";
  for (size_t i = 0; i < photos.size(); ++i) {
    const FolderPhoto& p = photos[i];
    out += csvField(p.path) + "," + (p.time ? p.time->text : "") + "," + timeSourceName(p.time) +
           "," + std::to_string(p.timeGroup) + "," + std::to_string(groups[i]) + "\n";
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
