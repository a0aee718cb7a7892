#pragma once

#include "voice/FadeEnvelope.h"
#include "voice/FormantSet.h"
#include "voice/Glide.h"
#include "voice/Lag.h"
#include "voice/ResonatorTuning.h"
#include "voice/Synth.h"
#include "voice/VoiceGuard.h"
#include "voice/VoiceParams.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace doodle {

// How many sing the drawn line: the voice alone (VoiceRenderer, mono), the voice doubled by
// more singers of the same line, or four parts of which the soprano sings the line.
enum class ChorusMode : int32_t { Solo, Unison, Harmony };

// The parts of a chorus, highest first: soprano, alto, tenor, bass (mapping's ChoirPart order).
inline constexpr std::size_t kChorusParts = 4;
inline constexpr int32_t kMaxSingersPerPart = 4;
inline constexpr std::size_t kMaxChoirSingers = kChorusParts * kMaxSingersPerPart;

// What one part sings: 0 Hz = the part is silent (it fades out on the pitch it had).
struct PartRequest {
    double pitchHz = 0.0;
    FormantSet formants{};

    friend bool operator==(const PartRequest&, const PartRequest&) = default;
};

// Everything the main thread asks of the parts, as one whole. In Harmony the soprano sings the
// voice's own pitch (its pitchHz here is not read) with the soprano's formants; in Unison every
// singer sings the voice's pitch and vowel, and none of this is read.
struct ChoirSettings {
    std::array<PartRequest, kChorusParts> parts{};
};

// The record the main thread shares with the audio callback, as VoiceShared: the latest
// ChoirSettings published whole under a sequence number; neither side ever waits, and a copy
// spoiled by a newer publication is left for a later one.
class ChoirShared {
public:
    // Main thread only.
    void publish(const ChoirSettings& settings) noexcept;

    // Audio thread. 0 before the first publication, odd while one is being written.
    uint64_t sequence() const noexcept { return m_sequence.load(std::memory_order_acquire); }
    // Copies publication `sequence` (even) into settings; false, leaving them, when another
    // publication has begun since.
    bool read(uint64_t sequence, ChoirSettings& settings) const noexcept;

private:
    static_assert(std::atomic<double>::is_always_lock_free,
                  "the callback must never wait on a lock");

    struct SharedPart {
        std::atomic<double> pitchHz{0.0};
        std::array<std::atomic<double>, kFormantCount> freqHz{};
        std::array<std::atomic<double>, kFormantCount> bwHz{};
    };
    std::atomic<uint64_t> m_sequence{0};
    std::array<SharedPart, kChorusParts> m_parts{};
};

// The fixed character of one singer other than the voice itself: drawn once from its seed, so
// that every render on every machine gives the same bytes.
struct SingerVariation {
    double detuneRatio = 1.0;           // frequency ratio of its steady pitch to the part's
    int32_t onsetDelaySamples = 0;      // starts and stops of the voice reach it this much later
    double vibratoTurnsPerSample = 0.0; // vibrato rate, 5.0..6.2 Hz, in cycles per sample
    double vibratoPeakCents = 0.0;      // half the vibrato's extent (50..100 cents peak to peak)
    uint64_t seed = 0;                  // of its jitter and shimmer
};

// What the singers other than the voice follow at one moment: the voice's start and stop
// counts over both publishers, whether it is released, and each part's pitch and vowel (in
// Unison every part holds the voice's own).
struct ChoirRequest {
    uint32_t starts = 0;
    uint32_t stops = 0;
    bool released = false;
    std::array<PartRequest, kChorusParts> parts{};
};

// One singer other than the voice: the voice's source shape, glide, three resonators and fades,
// with its own detune, onset delay, vibrato (once its note has settled), jitter and shimmer.
// Its variation is kept apart from its state, as a resonator's coefficients are.
class ChoirSinger {
public:
    explicit ChoirSinger(uint64_t seed) noexcept;

    // Takes a request of the voice as this singer hears it (after its onset delay).
    void apply(const ChoirRequest& request, std::size_t part) noexcept;
    // One sample, enveloped, before any guard.
    double step(const SingerVariation& variation) noexcept;
    // The start-up state: silence, nothing applied, its random walks from their seed again.
    void reset(uint64_t seed) noexcept { *this = ChoirSinger(seed); }

    // For the live guard: whether it is released, its resonators' levels, and their rest after
    // a runaway.
    bool released() const noexcept { return m_envelope.released(); }
    const Resonators& resonators() const noexcept { return m_res; }
    void restResonators() noexcept {
        for (Resonator& resonator : m_res) {
            resonator.reset();
        }
    }

private:
    // A slow random walk in -1..1: a new goal every kWalkSamples, reached linearly.
    struct Walk {
        double value = 0.0;
        double increment = 0.0; // per sample, towards the goal
    };

    double m_phase = 0.0; // cycles, 0.0..1.0, as the voice's
    Glide m_glide{kGlideSamples};
    Resonators m_res{};
    ResonatorTuning m_tuning{};
    FormantSet m_tunedFormants{};
    FadeEnvelope m_envelope{};
    uint32_t m_starts = 0;      // of the request applied last
    uint32_t m_stops = 0;       // of the request applied last
    bool m_partSilent = true;   // its part's pitch was 0 in the request applied last
    double m_lastPitchHz = 0.0; // the part's previous pitch since its last stop; 0 = none
    int32_t m_settledCount = 0; // samples its note has sounded unchanged, after any glide
    double m_vibratoCos = 1.0;  // the vibrato's phasor, turned a step each sample
    double m_vibratoSin = 0.0;
    uint64_t m_random = 0;   // xorshift64* state, never 0
    int32_t m_walkCount = 0; // samples into the current step of the walks
    Walk m_jitter{};         // pitch, in units of kJitterCents
    Walk m_shimmer{};        // amplitude, in units of kShimmerDepth
};

// The chorus as the audio callback or an offline render runs it, in stereo at 44100 Hz. The
// voice itself (the first soprano in Harmony, the first singer in Unison) is a VoiceRenderer on
// the voice's own records, so its samples are Solo's to the bit; the other singers follow the
// voice's starts and stops and the parts' record. Singers are numbered part by part (soprano
// first), singer 0 being the voice; in Unison they are one group. Everything is sized at
// construction: process() allocates nothing, takes no lock and does no I/O.
class ChoirRenderer {
public:
    // singersPerPart is clamped to 1..kMaxSingersPerPart (1, 2 or 4 are offered). Unison has
    // kChorusParts * singersPerPart singers, Harmony the same in four parts; Solo renders the
    // voice alone in the centre (callers that want Solo mono keep using VoiceRenderer).
    // `callbackParams`: the callback's own requests of the voice, as VoiceRenderer takes them.
    ChoirRenderer(const VoiceParams& params, const ChoirShared& parts, ChorusMode mode,
                  int32_t singersPerPart, VoiceOutput output = VoiceOutput::Exact,
                  const VoiceParams* callbackParams = nullptr);
    ChoirRenderer(const ChoirRenderer&) = delete;
    ChoirRenderer& operator=(const ChoirRenderer&) = delete;

    std::size_t singerCount() const noexcept { return m_singerCount; }

    // Renders frameCount stereo frames. Each singer is placed by constant-power panning and the
    // mix is scaled by 1 / sqrt(singerCount()). Exact output is the singers' own arithmetic,
    // past full scale included; Live output guards each singer as the voice's is guarded (its
    // runaway mute) and bends each channel within full scale through the voice's soft knee.
    // singerSamples, when not empty, gets singer k's own samples (before panning and the mix
    // gain) in singerSamples[k] when that pointer is not null: meters or stems per singer;
    // singer 0's are the voice's exactly as a VoiceRenderer gives them.
    void process(float* left, float* right, std::size_t frameCount,
                 std::span<float* const> singerSamples = {}) noexcept;
    // The start-up state of every singer and of the requests taken.
    void reset() noexcept;

private:
    static constexpr std::size_t kChunkFrames = 64;  // samples per pass, on the stack
    static constexpr std::size_t kRequestRing = 256; // requests awaiting the latest singer

    struct StampedRequest {
        uint64_t sample = 0; // when the voice's renderer took it
        ChoirRequest request{};
    };
    // One singer other than the voice: its place, variation and state.
    struct Follower {
        SingerVariation variation{};
        std::size_t part = 0;
        double gainLeft = 0.0; // pan and mix gain
        double gainRight = 0.0;
        uint64_t nextRequest = 0; // count of requests it has taken from the ring
        ChoirSinger singer{0};
        VoiceGuard guard{}; // live output only
    };

    void takeRequests() noexcept;
    void pushRequest() noexcept;
    template <VoiceOutput kOutput>
    void render(float* left, float* right, std::size_t frameCount,
                std::span<float* const> singerSamples) noexcept;

    const VoiceShared& m_shared;
    const VoiceShared* m_callbackShared = nullptr;
    const ChoirShared& m_partsShared;
    ChorusMode m_mode = ChorusMode::Unison;
    VoiceOutput m_output = VoiceOutput::Exact;
    std::size_t m_singerCount = 1;
    VoiceRenderer m_lead;
    double m_leadGainLeft = 0.0;
    double m_leadGainRight = 0.0;
    std::vector<Follower> m_followers;  // singers 1.., sized at construction
    std::vector<StampedRequest> m_ring; // kRequestRing entries, sized at construction
    uint64_t m_requestCount = 0;        // requests pushed since the start
    uint64_t m_sample = 0;              // samples rendered since the start
    // The voice's and the parts' publications taken last, and what they make together.
    uint64_t m_appliedSequence = 0;
    VoiceSettings m_applied{};
    uint64_t m_callbackAppliedSequence = 0;
    VoiceSettings m_callbackApplied{};
    uint64_t m_partsAppliedSequence = 0;
    ChoirSettings m_partsApplied{};
    double m_leadPitchHz = 0.0;
    FormantSet m_leadFormants{};
    bool m_leadReleased = false;
    Lag m_volume{1.0, 1.0 / kVolumeLagSamples}; // live output only: the voice's volume
};

} // namespace doodle
