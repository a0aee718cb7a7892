// libFuzzer target: arbitrary bytes as a MIDI file through the reader and into a recording,
// and as a stream of messages through the performance, checking what must hold for any file
// or keyboard.
#include "mapping/MidiMap.h"
#include "mapping/VowelMap.h"
#include "recording/GestureLine.h"
#include "recording/MidiFile.h"
#include "recording/MidiFileInput.h"
#include "recording/MidiPerformance.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

namespace {

using namespace doodle;

constexpr std::size_t kMessageBytes = 4; // status, two data bytes, time step

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The lines a drag makes: in the area, a release only after a sounding point and at its place,
// times never going back.
class LineChecker {
public:
    void add(const GestureLine& line) {
        check(line.x >= 0 && line.x <= kMaxPointX && line.y >= 0 && line.y <= kMaxPointY,
              "the point lies in the area");
        check(line.released == 0 || line.released == 1, "released is 0 or 1");
        check(line.elapsedMs >= m_lastMs, "times never decrease");
        if (line.released == 1) {
            check(m_sounding, "a release follows a sounding point");
            check(line.x == m_x && line.y == m_y, "a release repeats the point it releases");
        } else {
            check(!m_sounding || line.x != m_x || line.y != m_y, "a line changes what sounds");
        }
        m_sounding = line.released == 0;
        m_x = line.x;
        m_y = line.y;
        m_lastMs = line.elapsedMs;
    }
    bool sounding() const noexcept { return m_sounding; }

private:
    bool m_sounding = false;
    int32_t m_x = 0;
    int32_t m_y = 0;
    int32_t m_lastMs = 0;
};

GestureLine lineOf(std::string_view text) {
    auto field = [&](int32_t n) { return roundToWhole(parseDecimal(lineField(text, n))); };
    return {field(kFieldX), field(kFieldY), field(kFieldReleased), field(kFieldTime)};
}

void checkFile(std::span<const std::byte> bytes) {
    std::string error;
    const std::optional<MidiFile> file = MidiFile::read(bytes, error);
    if (!file) {
        check(!error.empty() && error.find('\n') == std::string::npos,
              "a refusal says why on one line");
        return;
    }
    check(file->trackCount() > 0, "a file read has a track");
    for (std::size_t index = 0; index < file->trackCount(); ++index) {
        MidiTrackReader reader = file->track(index);
        uint64_t lastTick = 0;
        double lastMs = 0.0;
        while (const std::optional<MidiTrackEvent> event = reader.next()) {
            check(event->tick >= lastTick, "ticks never decrease");
            const double ms = file->msAtTick(event->tick);
            check(ms >= lastMs, "time never goes back");
            lastTick = event->tick;
            lastMs = ms;
        }
        check(reader.error() == nullptr, "a track read once reads again");
    }
    const uint8_t first = bytes.size() > 8 ? static_cast<uint8_t>(bytes[8]) : 0;
    MidiInputChoice choice;
    choice.performance.scaleMode = static_cast<ScaleMode>(first % 4);
    choice.performance.scale = buildScale(choice.performance.scaleMode, first % 12, {});
    for (const std::optional<int32_t> channel :
         {std::optional<int32_t>{}, std::optional(1 + first % 16)}) {
        choice.channel = channel;
        const MidiFileRecording sung = recordingOfMidiFile(bytes, choice);
        if (!sung.recording) {
            check(!sung.error.empty(), "a refusal says why");
            continue;
        }
        LineChecker lines;
        for (const std::string_view text : *sung.recording) {
            lines.add(lineOf(text));
        }
        check(!lines.sounding(), "the voice is released at the end");
    }
}

// The bytes as messages, four at a time: status, two data bytes, the milliseconds since the one
// before; settings change now and then as a user changes the scale.
void checkPerformance(std::span<const uint8_t> data) {
    MidiPerformance performance;
    LineChecker lines;
    int32_t timeMs = 0;
    for (std::size_t at = 0; at + kMessageBytes <= data.size(); at += kMessageBytes) {
        const uint8_t step = data[at + 3];
        if (step == 0xFF) {
            const auto mode = static_cast<ScaleMode>(data[at] % 4);
            const auto tuning = static_cast<Tuning>(data[at] / 4 % 2);
            performance.setSettings(
                {mode, buildScale(mode, data[at + 1] % 12, {}),
                 data[at + 2] % 2 == 0 ? std::optional(data[at + 2] % 201) : std::nullopt, tuning});
            continue;
        }
        timeMs += step % 16;
        if (const auto line = performance.feed({data[at], data[at + 1], data[at + 2]}, timeMs)) {
            lines.add(*line);
        }
        if (step >= 0xF0) {
            if (const auto line = performance.flush()) {
                lines.add(*line);
            }
        }
    }
    if (const auto line = performance.flush()) {
        lines.add(*line);
    }
    check(lines.sounding() == performance.sounding(), "the performance knows what sounds");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    checkFile(std::as_bytes(bytes));
    checkPerformance(bytes);
    return 0;
}
