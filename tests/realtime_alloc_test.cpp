// Proves that the audio path never allocates: every global operator new in this binary is
// counted, and rendering must leave the count unchanged.
#include "app/midi/MidiRings.h"
#include "mapping/Harmony.h"
#include "program/MidiInput.h"
#include "recording/MidiPerformance.h"
#include "voice/Choir.h"
#include "voice/Synth.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace doodle {
namespace {

TEST(RealtimeSafety, RenderingAllocatesNothing) {
    VoiceParams voice;
    VoiceRenderer renderer(voice);
    VoiceRenderer live(voice, VoiceOutput::Live); // the desktop's and the page's, guarded
    std::vector<float> buffer(4096);              // allocated before counting starts
    const long beforeSanity = g_allocations.load();
    auto* probe = new std::vector<int>(3);
    delete probe;
    ASSERT_GT(g_allocations.load(), beforeSanity) << "the counter must see allocations";

    setFormants(voice, {{620, 1660, 2430}, {70, 150, 320}});
    startVoice(voice);
    setPitch(voice, 110.0);
    setPitch(voice, 300.0); // a running glide

    // The renderer tunes its resonators itself when a new vowel arrives, and takes stops and
    // starts: all of that inside the callback.
    const long before = g_allocations.load();
    for (int block = 0; block < 50; ++block) {
        renderer.process(buffer.data(), buffer.size());
        live.process(buffer.data(), buffer.size());
        if (block == 10) {
            setFormants(voice, {{310, 2020, 2960}, {45, 200, 400}});
        }
        if (block == 25) {
            stopVoice(voice);
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
}

// The chorus at its largest, in both modes and outputs: requests of the voice and of the parts
// taken, singers retuned, started and stopped, all inside the callback.
TEST(RealtimeSafety, ChoirRenderingAllocatesNothing) {
    VoiceParams voice;
    ChoirShared parts;
    ChoirRenderer unison(voice, parts, ChorusMode::Unison, kMaxSingersPerPart, VoiceOutput::Live);
    ChoirRenderer harmony(voice, parts, ChorusMode::Harmony, kMaxSingersPerPart);
    std::vector<float> left(4096);
    std::vector<float> right(4096);
    const FormantSet vowel{{620, 1660, 2430}, {70, 150, 320}};
    ChoirSettings settings;
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        settings.parts[p] = {330.0 - 50.0 * static_cast<double>(p), vowel};
    }
    parts.publish(settings);
    setFormants(voice, vowel);
    startVoice(voice);
    setPitch(voice, 440.0);

    const long before = g_allocations.load();
    for (int block = 0; block < 30; ++block) {
        unison.process(left.data(), right.data(), left.size());
        harmony.process(left.data(), right.data(), left.size());
        if (block % 3 == 0) {
            setPitch(voice, 440.0 + block);
            settings.parts[1].pitchHz = block % 2 == 0 ? 0.0 : 349.0;
            settings.parts[2].formants.freqHz[0] = 600.0 + block;
            parts.publish(settings);
        }
        if (block == 20) {
            stopVoice(voice);
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
}

// MIDI input runs in the audio callback too: every kind of message, a full stack of held notes
// and every scale mode, with no allocation once the performance exists.
TEST(RealtimeSafety, MidiPerformanceAllocatesNothingPerMessage) {
    MidiPerformance performance;
    const std::array<MidiPerformanceSettings, 2> settings{
        MidiPerformanceSettings{},
        MidiPerformanceSettings{ScaleMode::Pentatonic, buildScale(ScaleMode::Pentatonic, 3, {}), 50,
                                Tuning::Concert}};
    const long before = g_allocations.load();
    int32_t timeMs = 0;
    long lines = 0;
    for (const MidiPerformanceSettings& setting : settings) {
        performance.setSettings(setting);
        for (int value = 0; value < 128; ++value) {
            const auto data = static_cast<uint8_t>(value);
            for (const MidiMessage message :
                 {MidiMessage{0x90, data, 100}, MidiMessage{0xE0, data, data},
                  MidiMessage{0xB0, 74, data}, MidiMessage{0xB0, 101, 0}, MidiMessage{0xB0, 100, 0},
                  MidiMessage{0xB0, 6, static_cast<uint8_t>(value % 48)},
                  MidiMessage{0xC0, data, 0}, MidiMessage{0xD0, data, 0}}) {
                lines += performance.feed(message, timeMs++).has_value() ? 1 : 0;
            }
        }
        for (int value = 127; value >= 0; value -= 2) {
            lines += performance.feed({0x80, static_cast<uint8_t>(value), 0}, timeMs++) ? 1 : 0;
        }
        lines += performance.feed({0xB0, 123, 0}, timeMs++) ? 1 : 0;
        lines += performance.flush() ? 1 : 0;
    }
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_GT(lines, 100); // the messages were played
}

// A JACK host's callback sings MIDI input at each message's frame: the program's steps for it,
// the controls changing (a new channel lets go of the held notes) and the renderer reading both
// publishers, with no allocation once they exist.
TEST(RealtimeSafety, SingingMidiInputInTheCallbackAllocatesNothing) {
    VoiceParams mainThread;
    MidiVoice callback;
    VoiceRenderer renderer(mainThread, VoiceOutput::Live, &callback.voice());
    std::vector<float> buffer(64);
    MidiInputControls controls;
    controls.map = {ScaleMode::Major, buildScale(ScaleMode::Major, 2, {}), VoiceType::Type2};
    const long before = g_allocations.load();
    int32_t timeMs = 0;
    for (int round = 0; round < 20; ++round) {
        controls.channel = round % 3;
        callback.setControls(controls);
        for (const MidiMessage message :
             {MidiMessage{0x90, 60, 100}, MidiMessage{0xB0, 74, 10}, MidiMessage{0xE0, 0, 70},
              MidiMessage{0xB0, 7, 90}, MidiMessage{0x91, 64, 100}, MidiMessage{0xB0, 64, 127},
              MidiMessage{0x80, 60, 0}, MidiMessage{0xB0, 64, 0}, MidiMessage{0x81, 64, 0}}) {
            callback.feed(message, timeMs++);
            callback.flush();
            renderer.process(buffer.data(), buffer.size());
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_GT(callback.voice().pitchHz(), 0.0) << "the keys sang";
}

// The JACK process thread's MIDI work, on plain buffers: incoming events of every kind into the
// ring, and outgoing messages out of it into a period, with no allocation once the rings exist.
TEST(RealtimeSafety, JackMidiPeriodAllocatesNothing) {
    MidiRings rings;
    ASSERT_TRUE(rings.valid());
    constexpr uint32_t kPeriodFrames = 64;
    const std::array<std::array<uint8_t, 3>, 5> events{
        {{0x90, 60, 100}, {0xE0, 0, 64}, {0xB0, 74, 20}, {0xF8, 0, 0}, {0xF0, 1, 0xF7}}};
    std::array<uint8_t, 3 * kPeriodFrames> portBuffer{}; // stands in for JACK's port buffer
    std::size_t portBytes = 0;
    std::size_t outgoing = 0;
    const long before = g_allocations.load();
    for (uint32_t period = 0; period < 200; ++period) {
        const uint32_t periodStart = period * kPeriodFrames;
        for (uint32_t offset = 0; offset < kPeriodFrames; offset += 16) {
            const std::array<uint8_t, 3>& event = events[(period + offset) % events.size()];
            static_cast<void>(rings.queueIncoming(periodStart + offset, event));
            static_cast<void>(
                rings.queueOutgoing({periodStart + offset,
                                     {event[0], event[1], static_cast<uint8_t>(event[2] & 0x7F)}}));
        }
        portBytes = 0;
        outgoing += rings.writeOutgoing(
            periodStart, kPeriodFrames,
            [&portBuffer, &portBytes](uint32_t /*offsetFrames*/, std::span<const uint8_t> bytes) {
                if (portBytes + bytes.size() > portBuffer.size()) {
                    return false;
                }
                std::copy(bytes.begin(), bytes.end(),
                          portBuffer.begin() + static_cast<long>(portBytes));
                portBytes += bytes.size();
                return true;
            });
        TimedMidiMessage message;
        while (rings.takeIncoming(message)) {
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_GT(outgoing, 500u); // the messages went through
}

// The choir's chords may be chosen in the callback: every path of the voicer (chords, a lead
// off the scale, no scale at all) with no allocation.
TEST(RealtimeSafety, HarmonyAllocatesNothing) {
    HarmonyVoicer voicer;
    constexpr std::array<int32_t, 7> kCMajor{0, 2, 4, 5, 7, 9, 11};
    constexpr std::array<int32_t, 5> kCPentatonic{0, 2, 4, 7, 9};
    constexpr int32_t kRootC = 0;
    constexpr int32_t kBaseMidiNote = 32;
    constexpr int32_t kHighestLeadSemitone = 47;
    constexpr std::size_t kBass = partIndex(ChoirPart::Bass);
    long bassMoves = 0;
    const long before = g_allocations.load();
    for (int32_t lead = 0; lead <= kHighestLeadSemitone; ++lead) {
        const int32_t bass = voicer.next(lead, kCMajor, kRootC, kBaseMidiNote)[kBass];
        const ChoirNotes pentatonic =
            voicer.next(kHighestLeadSemitone - lead, kCPentatonic, kRootC, kBaseMidiNote);
        bassMoves += pentatonic[kBass] != bass ? 1 : 0;
        static_cast<void>(voicer.next(lead, {}, kRootC, kBaseMidiNote));
        if (lead % kSemitonesPerOctave == 0) {
            voicer.reset();
        }
    }
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_GT(bassMoves, 0); // the choir sang
}

} // namespace
} // namespace doodle
