#include "tools/RecordingLink.h"

#include "program/Captions.h"
#include "recording/CompactRecording.h"
#include "recording/ControlSettings.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>
#include <zlib.h>

namespace doodle {
namespace {

constexpr std::string_view kBase64UrlDigits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr unsigned kSextetBits = 6;
constexpr uint32_t kSextetMask = 0x3F;
constexpr std::size_t kGroupBytes = 3; // three bytes make four digits
constexpr std::size_t kGroupDigits = 4;
constexpr unsigned kByteBits = 8;

// Raw deflate (no header, no check) with zlib's largest window, as the browser's
// CompressionStream('deflate-raw') writes and reads it.
constexpr int kRawDeflateWindowBits = -15;
constexpr int kLargestMemLevel = 9;

std::string base64Url(std::span<const uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() * kGroupDigits + kGroupBytes - 1) / kGroupBytes);
    for (std::size_t at = 0; at < bytes.size(); at += kGroupBytes) {
        const std::size_t count = std::min(kGroupBytes, bytes.size() - at);
        uint32_t group = 0;
        for (std::size_t i = 0; i < kGroupBytes; ++i) {
            group = (group << kByteBits) | (i < count ? bytes[at + i] : 0U);
        }
        // No padding: count bytes need count + 1 digits.
        for (std::size_t i = 0; i <= count; ++i) {
            const auto shift = static_cast<unsigned>((kGroupBytes - i) * kSextetBits);
            text += kBase64UrlDigits[(group >> shift) & kSextetMask];
        }
    }
    return text;
}

// zlib's deflate at its best level, in the raw form (windowBits negative) or the zlib form.
std::vector<uint8_t> deflateBytes(std::span<const uint8_t> bytes, int windowBits) {
    if (bytes.size() > std::numeric_limits<uInt>::max()) {
        throw std::length_error("too large to deflate in one call");
    }
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, kLargestMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
    std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(bytes.size())));
    // zlib's interface takes non-const input; it never writes to it.
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        // deflateBound's room always holds the whole stream; only memory can run out.
        throw std::bad_alloc();
    }
    return out;
}

} // namespace

std::string recordingLink(std::string_view pageUrl, std::span<const uint8_t> savBytes,
                          const RenderSettings& settings, bool grid) {
    const ControlSettings chosen = controlSettingsOf(settings, grid);
    std::string link(pageUrl.substr(0, pageUrl.find('#')));
    link += '#';
    std::optional<std::vector<uint8_t>> shortest;
    for (std::size_t layout = 0; layout < kCompactLayoutCount; ++layout) {
        const std::optional<std::vector<uint8_t>> compact = compactRecording(savBytes, layout);
        if (!compact) {
            break; // not as the program writes it: no layout takes it
        }
        std::vector<uint8_t> deflated = deflateBytes(*compact, kRawDeflateWindowBits);
        if (!shortest || deflated.size() < shortest->size()) {
            shortest = std::move(deflated);
        }
    }
    if (shortest) {
        return link + "dc=2&r=" + base64Url(*shortest) +
               "&s=" + std::to_string(linkSettingsNumber(chosen));
    }
    constexpr int kZlibWindowBits = 15;
    return link + "dc=1&rec=" + base64Url(deflateBytes(savBytes, kZlibWindowBits)) +
           "&scale=" + scaleWord(settings.scaleMode) + "&root=" + std::to_string(chosen.rootIndex) +
           "&voice=" + std::to_string(chosen.voiceType) +
           "&speed=" + std::to_string(chosen.speedTenths) + "&grid=" + (chosen.grid ? "1" : "0") +
           "&tuning=" + tuningWord(settings.tuning);
}

} // namespace doodle
