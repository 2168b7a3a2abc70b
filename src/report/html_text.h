#pragma once
// Text encodings for the report page: escaping, data URIs and numbers.

#include <cstdint>
#include <string>
#include <string_view>

namespace velto {

// `text` made safe inside HTML text and inside single- or double-quoted attribute values.
// Control characters other than tab, line feed and carriage return become U+FFFD, since HTML
// has no way to carry them.
std::string htmlEscape(std::string_view text);

// Standard base64 (RFC 4648) with padding, as data URIs want it.
std::string base64Encode(std::string_view bytes);

// A float with enough digits to be read back to the same value ("0.540000021", "nan").
std::string exactNumber(float v);

// A number with `digits` decimals for people to read ("0.5400").
std::string fixedNumber(double v, int64_t digits);

// A duration for people to read, three significant digits in the largest unit that keeps it
// at 1 or more ("12.3 s", "4.56 ms", "17.0 µs", "< 1 µs"), so that a short stage does not read
// as "0.000 s". Requires seconds >= 0.
std::string durationText(double seconds);

}  // namespace velto
