#include "folder/terminal_text.h"

#include <cstdio>

namespace velto {

size_t utf8Length(std::string_view s, size_t at) {
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

bool isControl(std::string_view s, size_t at, size_t n) {
  const auto b = static_cast<unsigned char>(s[at]);
  if (n == 1) return b < 0x20 || b == 0x7F;
  // U+0080 to U+009F are C2 80 to C2 9F.
  return n == 2 && b == 0xC2 && static_cast<unsigned char>(s[at + 1]) <= 0x9F;
}

std::string escapedForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char buf[5];
  for (size_t at = 0; at < text.size();) {
    const size_t n = utf8Length(text, at);
    if (n != 0 && !isControl(text, at, n)) {
      out.append(text.substr(at, n));
      at += n;
      continue;
    }
    for (size_t i = 0; i < (n == 0 ? 1 : n); ++i, ++at) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[at]));
      out += buf;
    }
  }
  return out;
}

}  // namespace velto
