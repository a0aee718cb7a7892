#include "tools/Quoted.h"

#include <array>
#include <cstdint>

namespace doodle {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr char32_t kFirstC1Control = 0x80;
constexpr char32_t kLastC1Control = 0x9F;
// Bidirectional embeddings, overrides and isolates: they reorder the text after them on the
// screen (U+202E shows "gnp.exe" for "exe.png"), so they are controls as far as names go.
constexpr char32_t kFirstBidiEmbedding = 0x202A; // LRE, RLE, PDF, LRO, RLO
constexpr char32_t kLastBidiEmbedding = 0x202E;
constexpr char32_t kFirstBidiIsolate = 0x2066; // LRI, RLI, FSI, PDI
constexpr char32_t kLastBidiIsolate = 0x2069;
constexpr unsigned kOctalDigitBits = 3;
constexpr unsigned char kOctalDigitMask = 07;
constexpr int kOctalDigits = 3; // a byte, \000 to \377

// UTF-8 lead bytes: the bits that mark the length, and the bits of the code point they carry.
struct Utf8Lead {
    unsigned char mask = 0;
    unsigned char marker = 0;
    std::size_t length = 0; // bytes in the sequence
    char32_t minimum = 0;   // smaller code points in this length are overlong
};
constexpr std::array<Utf8Lead, 3> kUtf8Leads{{
    {0xE0, 0xC0, 2, 0x80},
    {0xF0, 0xE0, 3, 0x800},
    {0xF8, 0xF0, 4, 0x10000},
}};
constexpr unsigned char kContinuationMask = 0xC0;
constexpr unsigned char kContinuationMarker = 0x80;
constexpr unsigned char kContinuationBits = 0x3F;
constexpr unsigned kBitsPerContinuation = 6;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;

// The length of the valid, printable UTF-8 sequence at the start of text (a byte of ASCII
// counts), or 0 when it is a control character, a C1 or bidirectional control or not UTF-8.
std::size_t printableLength(std::string_view text) noexcept {
    const auto lead = static_cast<unsigned char>(text.front());
    if (lead < kContinuationMarker) {
        return lead >= kFirstPrintable && lead != kDelete ? 1 : 0;
    }
    for (const Utf8Lead& form : kUtf8Leads) {
        if ((lead & form.mask) != form.marker) {
            continue;
        }
        if (text.size() < form.length) {
            return 0;
        }
        char32_t codePoint = lead & static_cast<unsigned char>(~form.mask);
        for (std::size_t i = 1; i < form.length; ++i) {
            const auto next = static_cast<unsigned char>(text[i]);
            if ((next & kContinuationMask) != kContinuationMarker) {
                return 0;
            }
            codePoint = (codePoint << kBitsPerContinuation) | (next & kContinuationBits);
        }
        const bool valid = codePoint >= form.minimum && codePoint <= kLastCodePoint &&
                           (codePoint < kFirstSurrogate || codePoint > kLastSurrogate);
        const bool control =
            (codePoint >= kFirstC1Control && codePoint <= kLastC1Control) ||
            (codePoint >= kFirstBidiEmbedding && codePoint <= kLastBidiEmbedding) ||
            (codePoint >= kFirstBidiIsolate && codePoint <= kLastBidiIsolate);
        return valid && !control ? form.length : 0;
    }
    return 0;
}

bool needsEscapes(std::string_view text) noexcept {
    while (!text.empty()) {
        const std::size_t length = printableLength(text);
        if (length == 0) {
            return true;
        }
        text.remove_prefix(length);
    }
    return false;
}

// An escape of $'...' for a byte that is not printed as it is.
std::string escapeOf(unsigned char byte) {
    switch (byte) {
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\v':
        return "\\v";
    case '\f':
        return "\\f";
    case '\r':
        return "\\r";
    default:
        break;
    }
    std::string octal = "\\";
    for (int digit = kOctalDigits - 1; digit >= 0; --digit) {
        octal += static_cast<char>(
            '0' + ((byte >> (kOctalDigitBits * static_cast<unsigned>(digit))) & kOctalDigitMask));
    }
    return octal;
}

} // namespace

std::string inQuotes(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    if (!needsEscapes(text)) {
        quoted += '\'';
        for (const char c : text) {
            quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
        }
        quoted += '\'';
        return quoted;
    }
    quoted += "$'";
    while (!text.empty()) {
        const std::size_t length = printableLength(text);
        if (length == 0) {
            quoted += escapeOf(static_cast<unsigned char>(text.front()));
            text.remove_prefix(1);
            continue;
        }
        if (text.front() == '\'' || text.front() == '\\') {
            quoted += '\\';
        }
        quoted += text.substr(0, length);
        text.remove_prefix(length);
    }
    quoted += '\'';
    return quoted;
}

} // namespace doodle
