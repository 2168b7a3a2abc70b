#include "report/html_text.h"

#include <cstdint>
#include <cstdio>

namespace velto {

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += "\xEF\xBF\xBD";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = uint32_t{static_cast<unsigned char>(bytes[i])} << 16 |
                       uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8 |
                       uint32_t{static_cast<unsigned char>(bytes[i + 2])};
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = uint32_t{static_cast<unsigned char>(bytes[i])} << 16;
    if (rest == 2) v |= uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::string exactNumber(float v) {
  char text[32];
  // Nine significant digits tell every float apart from its neighbours.
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
  return text;
}

std::string fixedNumber(double v, int64_t digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", static_cast<int>(digits), v);
  return text;
}

std::string durationText(double seconds) {
  struct Unit {
    double scale;
    const char* name;
  };
  for (const Unit unit : {Unit{1.0, "s"}, Unit{1e-3, "ms"}, Unit{1e-6, "\u00b5s"}}) {
    const double v = seconds / unit.scale;
    // 0.9996 s is "1.00 s" rather than "1000 ms"; 99.96 is "100", not "100.0".
    if (v < 0.9995) continue;
    const int decimals = v >= 99.95 ? 0 : v >= 9.995 ? 1 : 2;
    return fixedNumber(v, decimals) + " " + unit.name;
  }
  return "< 1 \u00b5s";
}

}  // namespace velto
