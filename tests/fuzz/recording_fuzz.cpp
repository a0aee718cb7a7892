// libFuzzer target: arbitrary file bytes through the line reader, the field readers and the
// player, checking what must hold for any file a user might open.
#include "files/RecordingFiles.h"
#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "recording/GestureLine.h"
#include "recording/Player.h"
#include "recording/RecordingFile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace doodle;

constexpr std::array<double, 5> kPlaySpeeds{1.0, 2.0, 3.7, 5.0, 0.0};
constexpr int32_t kFieldsToRead = 6;
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr double kInt32MinValue = std::numeric_limits<int32_t>::min();
constexpr double kInt32MaxValue = kInt32Max;
// Lines with more fields than this skip the rebuild check, which is quadratic in the count.
constexpr std::ptrdiff_t kMaxRebuiltFields = 1000;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The same event: two NaN times are the same reading of the line, though NaN != NaN.
bool sameEvent(const GestureEvent& a, const GestureEvent& b) {
    const bool sameTime = a.timeMs == b.timeMs || (std::isnan(a.timeMs) && std::isnan(b.timeMs));
    return a.x == b.x && a.y == b.y && a.released == b.released && sameTime;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// The reading rule byte by byte, to hold the chunked reader against.
using Lines = std::vector<std::string>;

Lines referenceSplit(std::string_view bytes) {
    Lines lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!isLineEnd(bytes[i])) {
            line += bytes[i];
            continue;
        }
        lines.push_back(line);
        line.clear();
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

// The C library's reading in the C locale (the fuzzer never sets one) for texts in the
// accepted form; hexadecimal and the words strtod also knows are outside it.
void checkAgainstStrtod(std::string_view text, double value) {
    const std::size_t start = text.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos) {
        check(value == 0.0, "blank text reads 0");
        return;
    }
    std::string_view rest = text.substr(start);
    if (rest.front() == '+' || rest.front() == '-') {
        rest.remove_prefix(1);
    }
    const bool digitFirst = !rest.empty() && rest[0] >= '0' && rest[0] <= '9';
    const bool pointFirst = rest.size() > 1 && rest[0] == '.' && rest[1] >= '0' && rest[1] <= '9';
    if (!digitFirst && !pointFirst) {
        return; // 0, or one of the three words: checked by the unit tests
    }
    if (rest.size() > 1 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        check(value == 0.0, "no hexadecimal");
        return;
    }
    const std::string copy(text);
    const double expected = std::strtod(copy.c_str(), nullptr);
    check(std::memcmp(&expected, &value, sizeof value) == 0, "parseDecimal agrees with strtod");
}

void checkRounding(double value) {
    const int32_t whole = roundToWhole(value);
    if (!std::isfinite(value)) {
        check(whole == kNoWholeNumber, "NaN and infinities round to INT32_MIN");
        return;
    }
    const double nearest = std::nearbyint(value);
    if (nearest < kInt32MinValue || nearest > kInt32MaxValue) {
        check(whole == kNoWholeNumber, "out of range rounds to INT32_MIN");
    } else {
        check(whole == static_cast<int32_t>(nearest), "rounds halves to even");
    }
}

void checkLine(const std::string& line) {
    check(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
          "no line end inside a line");
    std::string joined;
    for (int32_t n = 1; n <= kFieldsToRead; ++n) {
        const std::string_view field = lineField(line, n);
        check(field.find(kFieldSeparator) == std::string_view::npos, "a field holds no ';'");
        const double value = parseDecimal(field);
        checkAgainstStrtod(field, value);
        checkRounding(value);
    }
    // All fields joined again give the line back.
    const std::ptrdiff_t separators = std::count(line.begin(), line.end(), kFieldSeparator);
    if (separators < kMaxRebuiltFields) {
        const auto fieldCount = static_cast<int32_t>(separators + 1);
        for (int32_t n = 1; n <= fieldCount; ++n) {
            joined += lineField(line, n);
            if (n < fieldCount) {
                joined += kFieldSeparator;
            }
        }
        check(joined == line, "fields rebuild the line");
        check(lineField(line, fieldCount + 1).empty(), "no field past the last");
    }
}

// Plays the whole recording, jumping tickCount to each line's due tick instead of counting
// through hours of silence.
void checkPlayback(const Recording& recording, const Lines& lines, double playSpeed) {
    VoiceParams voice;
    VowelWorking vowel;
    const MapControls controls;
    Player player(recording, voice, vowel);
    int32_t tickCount = 1;
    for (std::size_t played = 0; played <= lines.size(); ++played) {
        const std::size_t before = player.playIndex();
        if (played == lines.size()) {
            check(player.step(tickCount, playSpeed, controls).action == PlaybackAction::Stop,
                  "the tick after the last line stops");
            check(player.playIndex() == before, "stopping keeps the play position");
            return;
        }
        const std::string& line = lines[played];
        const int32_t dueTick = roundToWhole(parseDecimal(lineField(line, kFieldTime)) / playSpeed);
        if (dueTick == kInt32Max) {
            check(!player.nextActingTick(tickCount, playSpeed), "never due: no acting tick");
            return; // due after the ticker's last tick: never plays
        }
        if (tickCount <= dueTick) {
            tickCount = dueTick;
            check(player.step(tickCount, playSpeed, controls).action == PlaybackAction::None &&
                      player.playIndex() == before,
                  "not due on its own tick");
            check(player.nextActingTick(tickCount, playSpeed) == tickCount + 1,
                  "the acting tick is the one after the due tick");
            ++tickCount;
        }
        const PlayedStep step = player.step(tickCount, playSpeed, controls);
        check(player.playIndex() == before + 1, "a due line advances the play position by one");
        check(step.action == PlaybackAction::Sound || step.action == PlaybackAction::Release,
              "a due line plays");
        check(step.x >= 0 && step.x <= kMaxPointX && step.y >= 0 && step.y <= kMaxPointY,
              "the point lies in the area");
        if (step.action == PlaybackAction::Sound) {
            check(step.x == clampX(roundToWhole(parseDecimal(lineField(line, kFieldX)))),
                  "x is the clamped field 1");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Recording recording = splitRecordingLines(bytes);
    const Lines lines = recording.lineTexts();
    check(lines == referenceSplit(bytes), "the reader follows the line-end rule");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        check(sameEvent(recording.event(i), parseGestureEvent(lines[i])),
              "the event is the line's");
    }

    // Fed in pieces, as from a file, the result is the same wherever the pieces are cut.
    const std::size_t pieceBytes = size == 0 ? 1 : 1 + data[0] % 7;
    Recording pieces;
    LineSplitter splitter(pieces);
    for (std::size_t at = 0; at < size; at += pieceBytes) {
        splitter.feed(bytes.substr(at, pieceBytes));
    }
    splitter.finish();
    check(pieces == recording, "pieces read like the whole");

    // Written back with CR LF, the lines read the same.
    std::string written;
    for (const std::string& line : lines) {
        written += line;
        written += "\r\n";
    }
    check(splitRecordingLines(written) == recording, "CR LF round trip");

    for (const std::string& line : lines) {
        checkLine(line);
    }
    for (const double playSpeed : kPlaySpeeds) {
        checkPlayback(recording, lines, playSpeed);
    }
    return 0;
}
