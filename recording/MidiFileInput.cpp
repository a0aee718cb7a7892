#include "recording/MidiFileInput.h"

#include "recording/MidiFile.h"

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

namespace doodle {
namespace {

constexpr double kLastLineMs = std::numeric_limits<int32_t>::max();

bool isNoteStart(const MidiTrackEvent& event) noexcept {
    return event.kind == MidiTrackEvent::Kind::Channel &&
           (event.message.status & kMidiKindMask) == kMidiNoteOn && event.message.data2 > 0;
}

int32_t channelOf(const MidiMessage& message) noexcept {
    return message.status & kMidiChannelMask;
}

// The first track holding a note off the drums' channel, and the channel (0..15) of that note.
std::optional<std::pair<std::size_t, int32_t>> firstMelodyNote(const MidiFile& file) noexcept {
    for (std::size_t index = 0; index < file.trackCount(); ++index) {
        MidiTrackReader reader = file.track(index);
        while (const std::optional<MidiTrackEvent> event = reader.next()) {
            if (isNoteStart(*event) && channelOf(event->message) + 1 != kMidiDrumChannel) {
                return std::pair(index, channelOf(event->message));
            }
        }
    }
    return std::nullopt;
}

// The channels (1..16) that some note starts on, in every track, lowest first.
std::vector<int32_t> noteChannels(const MidiFile& file) {
    std::array<bool, kMidiChannels> holds{};
    for (std::size_t index = 0; index < file.trackCount(); ++index) {
        MidiTrackReader reader = file.track(index);
        while (const std::optional<MidiTrackEvent> event = reader.next()) {
            if (isNoteStart(*event)) {
                holds.at(static_cast<std::size_t>(channelOf(event->message))) = true;
            }
        }
    }
    std::vector<int32_t> channels;
    for (std::size_t channel = 0; channel < holds.size(); ++channel) {
        if (holds.at(channel)) {
            channels.push_back(static_cast<int32_t>(channel) + 1);
        }
    }
    return channels;
}

// The events of several tracks in the order they play: by tick, and at one tick by track.
class TrackMerger {
public:
    TrackMerger(const MidiFile& file, const std::vector<std::size_t>& tracks) {
        m_readers.reserve(tracks.size());
        m_pending.reserve(tracks.size());
        for (const std::size_t index : tracks) {
            m_readers.push_back(file.track(index));
            m_pending.emplace_back();
            advance(m_readers.size() - 1);
        }
    }

    std::optional<MidiTrackEvent> next() {
        if (m_order.empty()) {
            return std::nullopt;
        }
        const std::size_t reader = m_order.top().second;
        m_order.pop();
        const std::optional<MidiTrackEvent> event = m_pending[reader];
        advance(reader);
        return event;
    }

private:
    void advance(std::size_t reader) {
        m_pending[reader] = m_readers[reader].next();
        if (m_pending[reader]) {
            m_order.emplace(m_pending[reader]->tick, reader);
        }
    }

    using Key = std::pair<uint64_t, std::size_t>; // tick, reader
    std::vector<MidiTrackReader> m_readers{};
    std::vector<std::optional<MidiTrackEvent>> m_pending{};
    std::priority_queue<Key, std::vector<Key>, std::greater<>> m_order{};
};

bool isPerformed(const MidiMessage& message) noexcept {
    const auto kind = static_cast<uint8_t>(message.status & kMidiKindMask);
    return kind == kMidiNoteOn || kind == kMidiNoteOff || kind == kMidiControlChange ||
           kind == kMidiPitchBend;
}

MidiFileRecording refused(std::string reason) {
    MidiFileRecording result;
    result.error = std::move(reason);
    return result;
}

} // namespace

MidiFileRecording recordingOfMidiFile(std::span<const std::byte> bytes,
                                      const MidiInputChoice& choice) {
    std::string error;
    const std::optional<MidiFile> file = MidiFile::read(bytes, error);
    if (!file) {
        return refused(std::move(error));
    }
    std::vector<int32_t> channelsWithNotes = noteChannels(*file);
    std::vector<std::size_t> tracks;
    int32_t channel = 0;
    if (choice.channel) {
        channel = *choice.channel - 1;
        for (std::size_t index = 0; index < file->trackCount(); ++index) {
            tracks.push_back(index);
        }
    } else if (const auto found = firstMelodyNote(*file)) {
        tracks.push_back(found->first);
        channel = found->second;
    } else if (!channelsWithNotes.empty()) {
        MidiFileRecording drums = refused("its notes are all on channel " +
                                          std::to_string(kMidiDrumChannel) + ", the drums'");
        drums.onlyDrums = true;
        drums.noteChannels = std::move(channelsWithNotes);
        return drums;
    } else {
        return refused("it holds no notes");
    }

    MidiFileRecording result;
    result.channel = channel + 1;
    result.noteChannels = std::move(channelsWithNotes);
    Recording recording;
    MidiPerformance performance(choice.performance);
    bool anyNote = false;
    uint64_t endTick = 0;
    auto add = [&](const std::optional<GestureLine>& line) {
        if (line) {
            recording.append(*line);
        }
    };
    TrackMerger merger(*file, tracks);
    while (const std::optional<MidiTrackEvent> event = merger.next()) {
        endTick = std::max(endTick, event->tick);
        if (event->kind != MidiTrackEvent::Kind::Channel || channelOf(event->message) != channel ||
            !isPerformed(event->message)) {
            continue;
        }
        const double ms = std::round(file->msAtTick(event->tick));
        if (!(ms <= kLastLineMs)) {
            return refused("it plays for longer than 2147483647 ms (about 24.8 days)");
        }
        anyNote = anyNote || isNoteStart(*event);
        add(performance.feed(event->message, static_cast<int32_t>(ms)));
    }
    if (!anyNote) {
        return refused("it holds no notes on channel " + std::to_string(result.channel));
    }
    add(performance.flush());
    if (performance.sounding()) {
        const double endMs = std::round(file->msAtTick(endTick));
        const auto lastMs = static_cast<int32_t>(std::fmin(endMs, kLastLineMs));
        add(performance.feed({kMidiControlChange, kMidiCcAllNotesOff, 0}, lastMs));
        add(performance.flush());
    }
    if (recording.empty()) {
        // Every note ended in the millisecond it began: sung, it would be silence.
        return refused("none of its notes on channel " + std::to_string(result.channel) +
                       " lasts a millisecond");
    }
    recording.shrinkToFit();
    result.recording = std::move(recording);
    return result;
}

} // namespace doodle
