#include "recording/CompactRecording.h"

#include "mapping/PitchMap.h"
#include "recording/GestureLine.h"
#include "recording/PlaySpeed.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace doodle {
namespace {

// The layout byte's bits.
constexpr uint8_t kSecondDifferences = 1; // x and y as second differences, else first
constexpr uint8_t kReleaseRuns = 2;       // the release flags as runs, else one a line
constexpr uint8_t kJoined = 4;            // x, y and ms residuals joined, a byte a line
constexpr uint8_t kRows = 8;              // a line's numbers together, else in columns
constexpr uint8_t kLayoutBits = kSecondDifferences | kReleaseRuns | kJoined | kRows;

// Steps of a drawing (strokes that rest, as the examples): rows or columns of first
// differences. Curves (a hand's wavy strokes): second differences, joined or not.
constexpr std::array<uint8_t, kCompactLayoutCount> kLayouts{
    0, kRows, kSecondDifferences | kReleaseRuns, kSecondDifferences | kReleaseRuns | kJoined};

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kLineFields = 4;
constexpr std::size_t kMinLineBytes = 7 + kLineEnd.size(); // "0;0;0;0\r\n"

// Second differences of int32 values lie within ±2^33; larger residuals come only from
// damaged bytes.
constexpr int64_t kMaxResidual = int64_t{1} << 34;

// Joined: a byte ((x + kx) * (2ky + 1) + (y + ky)) * (2kt + 1) + (ms + kt) for residuals
// within the half-widths kx, ky, kt (0..kMaxHalfWidth, the three widths' product below
// kEscape), kEscape for a line whose residuals follow as numbers after all the bytes.
constexpr uint8_t kEscape = 255;
constexpr int32_t kMaxHalfWidth = 7;
// The encoder's histogram of residuals clamped to ±kClamp: kClamp stands for "beyond".
constexpr int32_t kClamp = kMaxHalfWidth + 1;
constexpr std::size_t kClampCells = 2 * kClamp + 1;
// What an escaped line's number bytes cost after deflating, bits a byte (they spread widely).
constexpr double kEscapeByteBits = 6.0;

constexpr unsigned kVarintBits = 7;
constexpr uint8_t kVarintMore = 0x80;
constexpr uint8_t kVarintLow = 0x7F;
constexpr std::size_t kMaxVarintBytes = 10; // 64 bits
constexpr unsigned kLastVarintShift = 63;   // the tenth byte holds only the top bit
constexpr unsigned kSignShift = 63;         // int64's sign to every bit

// FNV-1a over the file's bytes, its two halves folded into the 16-bit check.
constexpr uint32_t kFnvOffset = 2166136261U;
constexpr uint32_t kFnvPrime = 16777619U;
constexpr unsigned kHalfBits = 16;
constexpr uint32_t kHalfMask = 0xFFFF;
constexpr unsigned kByteBits = 8;
constexpr uint32_t kByteMask = 0xFF;
constexpr std::size_t kCheckBytes = 2;

uint16_t fileCheck(std::span<const uint8_t> bytes) noexcept {
    uint32_t hash = kFnvOffset;
    for (const uint8_t byte : bytes) {
        hash = (hash ^ byte) * kFnvPrime;
    }
    return static_cast<uint16_t>((hash >> kHalfBits) ^ (hash & kHalfMask));
}

struct Columns {
    std::vector<int32_t> x{};
    std::vector<int32_t> y{};
    std::vector<int32_t> released{};
    std::vector<int32_t> elapsedMs{};
};

// The numbers of a line exactly as formatGestureLine writes them, or nothing.
std::optional<GestureLine> canonicalLine(std::string_view text) {
    GestureLine line;
    const std::array<int32_t*, kLineFields> fields{&line.x, &line.y, &line.released,
                                                   &line.elapsedMs};
    const char* at = text.data();
    const char* const end = at + text.size();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != kFieldSeparator) {
                return std::nullopt;
            }
            ++at;
        }
        const auto [stop, error] = std::from_chars(at, end, *fields[i]);
        if (error != std::errc{}) {
            return std::nullopt;
        }
        at = stop;
    }
    // Writing the numbers again catches "-0", leading zeros and a "+".
    if (at != end || formatGestureLine(line) != text) {
        return std::nullopt;
    }
    return line;
}

std::optional<Columns> canonicalColumns(std::string_view bytes) {
    Columns columns;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find(kLineEnd, at);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::optional<GestureLine> line = canonicalLine(bytes.substr(at, end - at));
        if (!line) {
            return std::nullopt;
        }
        columns.x.push_back(line->x);
        columns.y.push_back(line->y);
        columns.released.push_back(line->released);
        columns.elapsedMs.push_back(line->elapsedMs);
        at = end + kLineEnd.size();
    }
    return columns;
}

// A line's value as the lines before it predict it: the one before (first differences), or
// its continuation at the same step (second) within a stroke. A stroke's first two lines (after
// a release line) take the one before: the jump from the last stroke says nothing of the new
// one's direction. Zero for the first line.
int64_t predicted(std::span<const int64_t> before, const std::vector<int32_t>& released,
                  bool second) noexcept {
    const std::size_t i = before.size();
    if (i == 0) {
        return 0;
    }
    if (!second || i == 1 || released[i - 1] != 0 || released[i - 2] != 0) {
        return before[i - 1];
    }
    return 2 * before[i - 1] - before[i - 2];
}

std::vector<int64_t> residualsOf(const std::vector<int32_t>& values,
                                 const std::vector<int32_t>& released, bool second) {
    const std::vector<int64_t> wide(values.begin(), values.end());
    std::vector<int64_t> residuals;
    residuals.reserve(values.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        residuals.push_back(wide[i] - predicted(std::span(wide).first(i), released, second));
    }
    return residuals;
}

// The ms steps from one line to the next (the first from 0) less `base`.
std::vector<int64_t> msResiduals(const std::vector<int32_t>& elapsedMs,
                                 const std::vector<int32_t>& released, int64_t base) {
    std::vector<int64_t> residuals = residualsOf(elapsedMs, released, false);
    for (int64_t& residual : residuals) {
        residual -= base;
    }
    return residuals;
}

// The median step between lines (the lower of the two middle ones); 0 for fewer than two
// lines. A hand's steps spread evenly about it, which keeps the joined layout's ms residuals
// small on both sides.
int64_t medianStep(const std::vector<int32_t>& elapsedMs) {
    if (elapsedMs.size() < 2) {
        return 0;
    }
    std::vector<int64_t> steps;
    steps.reserve(elapsedMs.size() - 1);
    for (std::size_t i = 1; i < elapsedMs.size(); ++i) {
        steps.push_back(int64_t{elapsedMs[i]} - elapsedMs[i - 1]);
    }
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>((steps.size() - 1) / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

uint64_t zigzag(int64_t value) noexcept {
    return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> kSignShift);
}

int64_t unzigzag(uint64_t value) noexcept {
    return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

void putUnsigned(uint64_t value, std::vector<uint8_t>& out) {
    while (value > kVarintLow) {
        out.push_back(static_cast<uint8_t>((value & kVarintLow) | kVarintMore));
        value >>= kVarintBits;
    }
    out.push_back(static_cast<uint8_t>(value));
}

void putSigned(int64_t value, std::vector<uint8_t>& out) {
    putUnsigned(zigzag(value), out);
}

std::size_t signedBytes(int64_t value) {
    std::size_t bytes = 1;
    for (uint64_t rest = zigzag(value) >> kVarintBits; rest != 0; rest >>= kVarintBits) {
        ++bytes;
    }
    return bytes;
}

// Runs of equal flags: each the change from the run before (from 0), then its length.
void putReleaseRuns(const std::vector<int32_t>& released, std::vector<uint8_t>& out) {
    int64_t previous = 0;
    for (std::size_t i = 0; i < released.size();) {
        std::size_t j = i;
        while (j < released.size() && released[j] == released[i]) {
            ++j;
        }
        putSigned(released[i] - previous, out);
        putUnsigned(j - i, out);
        previous = released[i];
        i = j;
    }
}

struct HalfWidths {
    int32_t x = 0;
    int32_t y = 0;
    int32_t ms = 0;

    int32_t symbols() const noexcept { return (2 * x + 1) * (2 * y + 1) * (2 * ms + 1); }
    bool holds(int64_t dx, int64_t dy, int64_t dms) const noexcept {
        return std::abs(dx) <= x && std::abs(dy) <= y && std::abs(dms) <= ms;
    }
    uint8_t symbol(int64_t dx, int64_t dy, int64_t dms) const noexcept {
        return static_cast<uint8_t>(((dx + x) * (2 * y + 1) + (dy + y)) * (2 * ms + 1) + dms + ms);
    }
};

std::size_t clampCell(int64_t residual) noexcept {
    return static_cast<std::size_t>(std::clamp<int64_t>(residual, -kClamp, kClamp) + kClamp);
}

// The half-widths whose bytes cost least: their order-0 entropy, with the escaped lines'
// numbers at kEscapeByteBits a byte.
HalfWidths cheapestHalfWidths(const std::vector<int64_t>& dx, const std::vector<int64_t>& dy,
                              const std::vector<int64_t>& dms) {
    struct Cell {
        double lines = 0.0;
        double escapeBytes = 0.0;
    };
    std::vector<Cell> cells(kClampCells * kClampCells * kClampCells);
    for (std::size_t i = 0; i < dx.size(); ++i) {
        Cell& cell = cells[(clampCell(dx[i]) * kClampCells + clampCell(dy[i])) * kClampCells +
                           clampCell(dms[i])];
        cell.lines += 1.0;
        cell.escapeBytes +=
            static_cast<double>(signedBytes(dx[i]) + signedBytes(dy[i]) + signedBytes(dms[i]));
    }
    const auto total = static_cast<double>(dx.size());
    const auto residualAt = [](std::size_t index) { return static_cast<int64_t>(index) - kClamp; };
    HalfWidths cheapest;
    double cheapestBits = std::numeric_limits<double>::infinity();
    for (int32_t kx = 0; kx <= kMaxHalfWidth; ++kx) {
        for (int32_t ky = 0; ky <= kMaxHalfWidth; ++ky) {
            for (int32_t kms = 0; kms <= kMaxHalfWidth; ++kms) {
                const HalfWidths widths{kx, ky, kms};
                if (widths.symbols() >= kEscape) {
                    continue;
                }
                double bits = 0.0;
                double escapes = 0.0;
                double escapeBytes = 0.0;
                for (std::size_t i = 0; i < cells.size(); ++i) {
                    const Cell& cell = cells[i];
                    if (cell.lines == 0.0) {
                        continue;
                    }
                    if (widths.holds(residualAt(i / (kClampCells * kClampCells)),
                                     residualAt(i / kClampCells % kClampCells),
                                     residualAt(i % kClampCells))) {
                        bits += cell.lines * std::log2(total / cell.lines);
                    } else {
                        escapes += cell.lines;
                        escapeBytes += cell.escapeBytes;
                    }
                }
                if (escapes > 0.0) {
                    bits += escapes * std::log2(total / escapes) + escapeBytes * kEscapeByteBits;
                }
                if (bits < cheapestBits) {
                    cheapestBits = bits;
                    cheapest = widths;
                }
            }
        }
    }
    return cheapest;
}

void putJoined(const std::vector<int64_t>& dx, const std::vector<int64_t>& dy,
               const std::vector<int64_t>& dms, std::vector<uint8_t>& out) {
    const HalfWidths widths = cheapestHalfWidths(dx, dy, dms);
    for (const int32_t width : {widths.x, widths.y, widths.ms}) {
        out.push_back(static_cast<uint8_t>(width));
    }
    std::vector<uint8_t> escaped;
    for (std::size_t i = 0; i < dx.size(); ++i) {
        if (widths.holds(dx[i], dy[i], dms[i])) {
            out.push_back(widths.symbol(dx[i], dy[i], dms[i]));
        } else {
            out.push_back(kEscape);
            for (const int64_t residual : {dx[i], dy[i], dms[i]}) {
                putSigned(residual, escaped);
            }
        }
    }
    out.insert(out.end(), escaped.begin(), escaped.end());
}

// Reads what the writers above wrote; every read fails rather than pass the end.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) noexcept : m_bytes(bytes) {}

    std::size_t left() const noexcept { return m_bytes.size() - m_at; }

    bool byte(uint8_t& value) noexcept {
        if (m_at == m_bytes.size()) {
            return false;
        }
        value = m_bytes[m_at++];
        return true;
    }

    bool unsignedNumber(uint64_t& value) noexcept {
        value = 0;
        for (std::size_t i = 0; i < kMaxVarintBytes; ++i) {
            uint8_t part = 0;
            if (!byte(part)) {
                return false;
            }
            const auto shift = static_cast<unsigned>(i * kVarintBits);
            if (shift == kLastVarintShift && part > 1) {
                return false; // bits beyond 64
            }
            value |= static_cast<uint64_t>(part & kVarintLow) << shift;
            if ((part & kVarintMore) == 0) {
                return true;
            }
        }
        return false;
    }

    // A zigzag number within ±kMaxResidual.
    bool residual(int64_t& value) noexcept {
        uint64_t raw = 0;
        if (!unsignedNumber(raw)) {
            return false;
        }
        value = unzigzag(raw);
        return value >= -kMaxResidual && value <= kMaxResidual;
    }

    bool residuals(std::vector<int64_t>& values) noexcept {
        return std::all_of(values.begin(), values.end(),
                           [this](int64_t& value) { return residual(value); });
    }

private:
    std::span<const uint8_t> m_bytes;
    std::size_t m_at = 0;
};

bool fitsInt32(int64_t value) noexcept {
    return value >= std::numeric_limits<int32_t>::min() &&
           value <= std::numeric_limits<int32_t>::max();
}

// The values whose residuals these are (each less `base`), or nothing when one falls outside
// int32.
std::optional<std::vector<int32_t>> valuesOf(const std::vector<int64_t>& residuals,
                                             const std::vector<int32_t>& released, bool second,
                                             int64_t base) {
    std::vector<int64_t> wide;
    wide.reserve(residuals.size());
    for (const int64_t residual : residuals) {
        const int64_t value = predicted(wide, released, second) + residual + base;
        if (!fitsInt32(value)) {
            return std::nullopt;
        }
        wide.push_back(value);
    }
    return std::vector<int32_t>(wide.begin(), wide.end());
}

bool readReleaseRuns(Reader& reader, std::vector<int32_t>& released) {
    int64_t value = 0;
    for (std::size_t at = 0; at < released.size();) {
        int64_t change = 0;
        uint64_t length = 0;
        if (!reader.residual(change) || !reader.unsignedNumber(length) || length == 0 ||
            length > released.size() - at) {
            return false;
        }
        value += change;
        if (!fitsInt32(value)) {
            return false;
        }
        std::fill_n(released.begin() + static_cast<std::ptrdiff_t>(at), length,
                    static_cast<int32_t>(value));
        at += static_cast<std::size_t>(length);
    }
    return true;
}

bool readReleasedPerLine(Reader& reader, std::vector<int32_t>& released) {
    return std::all_of(released.begin(), released.end(), [&reader](int32_t& flag) {
        int64_t value = 0;
        if (!reader.residual(value) || !fitsInt32(value)) {
            return false;
        }
        flag = static_cast<int32_t>(value);
        return true;
    });
}

bool readJoined(Reader& reader, std::vector<int64_t>& dx, std::vector<int64_t>& dy,
                std::vector<int64_t>& dms) {
    std::array<uint8_t, 3> widthBytes{};
    for (uint8_t& width : widthBytes) {
        if (!reader.byte(width) || width > kMaxHalfWidth) {
            return false;
        }
    }
    const HalfWidths widths{widthBytes[0], widthBytes[1], widthBytes[2]};
    if (widths.symbols() >= kEscape) {
        return false;
    }
    const int64_t msSpan = 2 * widths.ms + 1;
    const int64_t ySpan = 2 * widths.y + 1;
    std::vector<std::size_t> escapedLines;
    for (std::size_t i = 0; i < dx.size(); ++i) {
        uint8_t symbol = 0;
        if (!reader.byte(symbol)) {
            return false;
        }
        if (symbol == kEscape) {
            escapedLines.push_back(i);
            continue;
        }
        if (symbol >= widths.symbols()) {
            return false;
        }
        dms[i] = symbol % msSpan - widths.ms;
        dy[i] = symbol / msSpan % ySpan - widths.y;
        dx[i] = symbol / msSpan / ySpan - widths.x;
    }
    return std::all_of(escapedLines.begin(), escapedLines.end(), [&](std::size_t i) {
        return reader.residual(dx[i]) && reader.residual(dy[i]) && reader.residual(dms[i]);
    });
}

} // namespace

std::optional<std::vector<uint8_t>> compactRecording(std::span<const uint8_t> savBytes,
                                                     std::size_t layoutIndex) {
    if (layoutIndex >= kLayouts.size()) {
        return std::nullopt;
    }
    const std::string_view text(reinterpret_cast<const char*>(savBytes.data()), savBytes.size());
    const std::optional<Columns> columns = canonicalColumns(text);
    if (!columns) {
        return std::nullopt;
    }
    const uint8_t layout = kLayouts[layoutIndex];
    const bool second = (layout & kSecondDifferences) != 0;
    const int64_t base = medianStep(columns->elapsedMs);
    const std::vector<int64_t> dx = residualsOf(columns->x, columns->released, second);
    const std::vector<int64_t> dy = residualsOf(columns->y, columns->released, second);
    const std::vector<int64_t> dms = msResiduals(columns->elapsedMs, columns->released, base);

    std::vector<uint8_t> out{layout};
    putUnsigned(dx.size(), out);
    putSigned(base, out);
    if ((layout & kRows) != 0) {
        for (std::size_t i = 0; i < dx.size(); ++i) {
            putSigned(dx[i], out);
            putSigned(dy[i], out);
            putSigned(columns->released[i], out);
            putSigned(dms[i], out);
        }
    } else {
        if ((layout & kJoined) != 0) {
            putJoined(dx, dy, dms, out);
        } else {
            for (const std::vector<int64_t>* column : {&dx, &dy}) {
                for (const int64_t residual : *column) {
                    putSigned(residual, out);
                }
            }
        }
        if ((layout & kReleaseRuns) != 0) {
            putReleaseRuns(columns->released, out);
        } else {
            for (const int32_t flag : columns->released) {
                putSigned(flag, out);
            }
        }
        if ((layout & kJoined) == 0) {
            for (const int64_t residual : dms) {
                putSigned(residual, out);
            }
        }
    }
    const uint16_t check = fileCheck(savBytes);
    out.push_back(static_cast<uint8_t>(check & kByteMask));
    out.push_back(static_cast<uint8_t>(check >> kByteBits));
    return out;
}

ExpandedRecording expandCompactRecording(std::span<const uint8_t> compact,
                                         std::size_t maxSavBytes) {
    const ExpandedRecording damaged{{}, ExpandProblem::Damaged};
    Reader reader(compact);
    uint8_t layout = 0;
    uint64_t lineCount = 0;
    int64_t base = 0;
    if (!reader.byte(layout) || (layout & ~kLayoutBits) != 0 ||
        ((layout & kRows) != 0 && (layout & (kJoined | kReleaseRuns)) != 0) ||
        !reader.unsignedNumber(lineCount) || !reader.residual(base)) {
        return damaged;
    }
    // Every line takes at least one byte in every layout: a larger count is damage, and
    // nothing is allocated for it.
    if (lineCount > reader.left()) {
        return damaged;
    }
    if (lineCount > maxSavBytes / kMinLineBytes) {
        return {{}, ExpandProblem::TooLarge};
    }
    const auto lines = static_cast<std::size_t>(lineCount);
    std::vector<int64_t> dx(lines);
    std::vector<int64_t> dy(lines);
    std::vector<int64_t> dms(lines);
    std::vector<int32_t> released(lines);
    bool read = true;
    if ((layout & kRows) != 0) {
        for (std::size_t i = 0; i < lines && read; ++i) {
            int64_t flag = 0;
            read = reader.residual(dx[i]) && reader.residual(dy[i]) && reader.residual(flag) &&
                   fitsInt32(flag) && reader.residual(dms[i]);
            released[i] = static_cast<int32_t>(flag);
        }
    } else {
        read = (layout & kJoined) != 0 ? readJoined(reader, dx, dy, dms)
                                       : reader.residuals(dx) && reader.residuals(dy);
        read = read && ((layout & kReleaseRuns) != 0 ? readReleaseRuns(reader, released)
                                                     : readReleasedPerLine(reader, released));
        read = read && ((layout & kJoined) != 0 || reader.residuals(dms));
    }
    std::array<uint8_t, kCheckBytes> checkBytes{};
    read = read && reader.byte(checkBytes[0]) && reader.byte(checkBytes[1]) && reader.left() == 0;
    if (!read) {
        return damaged;
    }
    const bool second = (layout & kSecondDifferences) != 0;
    const std::optional<std::vector<int32_t>> x = valuesOf(dx, released, second, 0);
    const std::optional<std::vector<int32_t>> y = valuesOf(dy, released, second, 0);
    const std::optional<std::vector<int32_t>> elapsedMs = valuesOf(dms, released, false, base);
    if (!x || !y || !elapsedMs) {
        return damaged;
    }
    ExpandedRecording expanded;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::string line =
            formatGestureLine({(*x)[i], (*y)[i], released[i], (*elapsedMs)[i]});
        if (line.size() + kLineEnd.size() > maxSavBytes - expanded.savBytes.size()) {
            return {{}, ExpandProblem::TooLarge};
        }
        expanded.savBytes.insert(expanded.savBytes.end(), line.begin(), line.end());
        expanded.savBytes.insert(expanded.savBytes.end(), kLineEnd.begin(), kLineEnd.end());
    }
    const uint16_t check = fileCheck(expanded.savBytes);
    if (checkBytes[0] != (check & kByteMask) || checkBytes[1] != (check >> kByteBits)) {
        return damaged;
    }
    return expanded;
}

namespace {

// The tuning is the most significant digit and Classic is 0, so a number made before there was
// a choice of tuning reads as Classic with everything else as it was.
constexpr int32_t kLinkTunings = 2;
constexpr int32_t kLinkScaleModes = 4;
constexpr auto kLinkRoots = static_cast<int32_t>(noteNames.size());
constexpr int32_t kLinkVoiceTypes = 2;
constexpr int32_t kLinkGridStates = 2;
constexpr int32_t kLinkSpeedSteps = kMaxPlaySpeedTenths - kMinPlaySpeedTenths + 1;

} // namespace

int32_t linkSettingsNumber(const ControlSettings& settings) {
    const auto within = [](int32_t value, int32_t low, int32_t count) {
        return value >= low && value < low + count;
    };
    if (!within(settings.scaleMode, 0, kLinkScaleModes) ||
        !within(settings.rootIndex, 0, kLinkRoots) ||
        !within(settings.voiceType, 1, kLinkVoiceTypes) ||
        !within(settings.speedTenths, kMinPlaySpeedTenths, kLinkSpeedSteps) ||
        !within(settings.tuning, 0, kLinkTunings)) {
        return -1;
    }
    int32_t number = settings.tuning * kLinkScaleModes + settings.scaleMode;
    number = number * kLinkRoots + settings.rootIndex;
    number = number * kLinkVoiceTypes + (settings.voiceType - 1);
    number = number * kLinkGridStates + (settings.grid ? 1 : 0);
    return number * kLinkSpeedSteps + (settings.speedTenths - kMinPlaySpeedTenths);
}

std::optional<ControlSettings> linkSettingsOf(int64_t number) {
    constexpr int64_t kCount = int64_t{kLinkTunings} * kLinkScaleModes * kLinkRoots *
                               kLinkVoiceTypes * kLinkGridStates * kLinkSpeedSteps;
    if (number < 0 || number >= kCount) {
        return std::nullopt;
    }
    const auto digit = [&number](int32_t radix) {
        const auto value = static_cast<int32_t>(number % radix);
        number /= radix;
        return value;
    };
    ControlSettings settings;
    settings.speedTenths = digit(kLinkSpeedSteps) + kMinPlaySpeedTenths;
    settings.grid = digit(kLinkGridStates) == 1;
    settings.voiceType = digit(kLinkVoiceTypes) + 1;
    settings.rootIndex = digit(kLinkRoots);
    settings.scaleMode = digit(kLinkScaleModes);
    settings.tuning = static_cast<int32_t>(number);
    return settings;
}

} // namespace doodle
