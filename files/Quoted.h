#pragma once

#include <string>
#include <string_view>

namespace doodle {

// A name or value as the tool's messages show it, quoted for the shell as cp and ls quote
// names: 'text' between single quotes (a quote inside as '\''), or, when it holds a control
// character or a byte that is not UTF-8, $'...' with those written as escapes (\n, \t, \033,
// ...), so that a name can neither move the cursor nor reach the terminal as a command.
// Pasting the quoted text into a shell gives back the bytes.
std::string inQuotes(std::string_view text);

} // namespace doodle
