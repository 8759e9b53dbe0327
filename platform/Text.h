#pragma once
// Text from recorders, AVI files and the program's own files is single-byte (Latin-1); text
// typed on this system is UTF-8. Both are shown and written as UTF-8, and text that reaches a
// terminal carries no control characters: a recorder's name must not move the cursor, retitle
// the window or clear the screen.

#include <string>
#include <string_view>

namespace fsv::platform {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool isUtf8(std::string_view text);

// `text` as UTF-8: kept as it is when it is UTF-8 already, else every byte taken as the Latin-1
// character of that number. A single-byte name such as "Entr\xE9e" is never valid UTF-8, so
// it is converted; text typed here stays as typed.
std::string toUtf8(std::string_view text);

// toUtf8 for a terminal: every control character (U+0000-U+001F, U+007F, U+0080-U+009F)
// becomes '?'. Line feeds stay when `keepNewlines` is set (the program's own multi-line
// messages).
std::string terminalText(std::string_view text, bool keepNewlines = false);

}  // namespace fsv::platform
