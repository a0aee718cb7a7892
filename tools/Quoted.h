#pragma once

#include <string>
#include <string_view>

namespace doodle {

// A name or value as the tool's messages show it: between single quotes.
std::string inQuotes(std::string_view text);

} // namespace doodle
