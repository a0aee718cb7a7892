#pragma once

#include <algorithm>
#include <string_view>

namespace doodle {

// Case folding of the ASCII letters only: the user's locale must not change how a number word,
// a file extension or an option value reads (std::tolower would follow it).
constexpr char toLowerAscii(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, {}, toLowerAscii, toLowerAscii);
}

constexpr bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix) noexcept {
    return text.size() >= suffix.size() &&
           equalsIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

} // namespace doodle
