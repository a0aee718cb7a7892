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
    // std::equal rather than std::ranges::equal with projections, which the WebAssembly
    // build's standard library (libc++ 14) lacks.
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return toLowerAscii(x) == toLowerAscii(y); });
}

constexpr bool endsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix) noexcept {
    return text.size() >= suffix.size() &&
           equalsIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

} // namespace doodle
