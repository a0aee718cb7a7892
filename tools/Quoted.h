#pragma once

#include <string>
#include <string_view>

namespace doodle {

// A name or value as the tool's messages show it, quoted for the shell as cp and ls quote
// names: 'text' between single quotes (a quote inside as '\''), or, when it holds a control
// character (C0, C1, or a bidirectional embedding, override or isolate, U+202A..U+202E and
// U+2066..U+2069) or a byte that is not UTF-8, $'...' with those written as escapes (\n, \t,
// \033, \342\200\256, ...), so that a name can neither move the cursor, reorder what follows
// it on the screen nor reach the terminal as a command.
// Pasting the quoted text into a shell gives back the bytes.
std::string inQuotes(std::string_view text);

} // namespace doodle
