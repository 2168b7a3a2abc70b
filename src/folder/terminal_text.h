#pragma once
// File names on their way to a terminal. A name may hold any byte but '/' and NUL, and a
// terminal obeys control sequences wherever they come from: "ESC ] 0 ; text BEL" retitles the
// window, "ESC [ 2 J" clears it. Names are therefore shown with such bytes escaped.

#include <cstddef>
#include <string>
#include <string_view>

namespace velto {

// Length of the valid UTF-8 sequence at `at` (1 to 4), or 0 when the byte there starts none:
// overlong forms, surrogates and code points above U+10FFFF are invalid. Requires at < size.
size_t utf8Length(std::string_view s, size_t at);

// Whether the code point of the valid sequence at `at` of length `n` is a control character:
// C0 (U+0000 to U+001F), DEL (U+007F) or C1 (U+0080 to U+009F).
bool isControl(std::string_view s, size_t at, size_t n);

// `text` with every byte of a control character, and every byte outside valid UTF-8, written
// as \xHH (two lower-case hex digits); everything else as it is.
std::string escapedForTerminal(std::string_view text);

}  // namespace velto
