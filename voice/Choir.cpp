#include "voice/Choir.h"

#include <algorithm>
#include <cmath>

namespace doodle {
namespace {

constexpr std::memory_order kPublish = std::memory_order_release;
constexpr std::memory_order kTake = std::memory_order_acquire;
constexpr double kSampleRate = VoiceParams::sampleRate;

bool complete(uint64_t sequence) noexcept {
    return sequence % 2 == 0;
}

// The singers' spread. Detunes: normal, SD 15 cents, cut at 2.5 SD. Onsets: normal about 20 ms
// with SD 10 ms, cut to 0..40 ms (never ahead of the voice). Vibrato: uniform 5.0..6.2 Hz and
// 50..100 cents peak to peak, as trained singers' lie.
constexpr double kDetuneSdCents = 15.0;
constexpr double kDetuneLimitSd = 2.5;
constexpr double kOnsetMeanMs = 20.0;
constexpr double kOnsetSdMs = 10.0;
constexpr double kOnsetLimitMs = 40.0;
constexpr double kVibratoLowHz = 5.0;
constexpr double kVibratoHighHz = 6.2;
constexpr double kVibratoLowCents = 50.0;   // peak to peak
constexpr double kVibratoHighCents = 100.0; // peak to peak
// Vibrato begins once a note has held its pitch, glide done, this long (0.3 s), and reaches
// its full extent over the next 0.3 s.
constexpr int32_t kVibratoSettleSamples = 13230;
constexpr int32_t kVibratoRiseSamples = 13230;
// Jitter and shimmer: random walks with a new goal every 5 ms, at most 4 cents (0.23 %) of
// pitch and 0.5 % of amplitude.
constexpr int32_t kWalkSamples = 220;
constexpr double kJitterCents = 4.0;
constexpr double kShimmerDepth = 0.005;
constexpr double kCentsPerOctave = 1200.0;
constexpr double kLn2 = 0.693147180559945; // 15 digits, as the voice's constants

// Places in the stereo field, -1 (left) .. 1 (right): soprano and tenor left of centre, alto
// and bass right, the singers of a part spread evenly up to kPartSpread either side of it. In
// Unison the voice stands in the centre and the others alternate left and right out to
// kUnisonWidth.
constexpr std::array<double, kChorusParts> kPartPlace{-0.6, 0.6, -0.3, 0.3};
constexpr double kPartSpread = 0.15;
constexpr double kUnisonWidth = 0.7;

// Fixed seeds, so that singer k is the same singer in every render.
constexpr uint64_t kChoirSeed = 0x9E3779B97F4A7C15ULL;

// SplitMix64: spreads a seed over all 64 bits (never 0 for the generator below).
uint64_t mixSeed(uint64_t x) noexcept {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x == 0 ? 1 : x;
}

// xorshift64*: our own generator, the same numbers from every standard library.
uint64_t nextRandom(uint64_t& state) noexcept {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1DULL;
}

// Uniform in [0, 1) from the top 53 bits.
double uniform(uint64_t& state) noexcept {
    constexpr double kTwoToMinus53 = 1.0 / 9007199254740992.0;
    return static_cast<double>(nextRandom(state) >> 11) * kTwoToMinus53;
}

// Standard normal by Marsaglia's polar form of Box-Muller: only sqrt (exact in IEEE) and log.
double normal(uint64_t& state) noexcept {
    for (;;) {
        const double u = 2.0 * uniform(state) - 1.0;
        const double v = 2.0 * uniform(state) - 1.0;
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) {
            return u * std::sqrt(-2.0 * std::log(s) / s);
        }
    }
}

// 2^(cents / 1200) for |cents| up to ~150, by the cubic of e^x: within 0.001 cent, and no libm
// call in the sample loop.
double centsRatio(double cents) noexcept {
    const double x = cents * (kLn2 / kCentsPerOctave);
    return 1.0 + x * (1.0 + x * (0.5 + x * (1.0 / 6.0)));
}

SingerVariation drawVariation(uint64_t singerNumber) noexcept {
    uint64_t state = mixSeed(kChoirSeed + singerNumber);
    SingerVariation variation;
    const double detuneCents =
        std::clamp(normal(state) * kDetuneSdCents, -kDetuneLimitSd * kDetuneSdCents,
                   kDetuneLimitSd * kDetuneSdCents);
    variation.detuneRatio = std::exp2(detuneCents / kCentsPerOctave);
    const double onsetMs =
        std::clamp(kOnsetMeanMs + normal(state) * kOnsetSdMs, 0.0, kOnsetLimitMs);
    variation.onsetDelaySamples = static_cast<int32_t>(std::lround(onsetMs * kSampleRate / 1000.0));
    const double vibratoHz = kVibratoLowHz + uniform(state) * (kVibratoHighHz - kVibratoLowHz);
    variation.vibratoTurnsPerSample = vibratoHz / kSampleRate;
    variation.vibratoPeakCents =
        0.5 * (kVibratoLowCents + uniform(state) * (kVibratoHighCents - kVibratoLowCents));
    variation.seed = nextRandom(state);
    return variation;
}

struct PanGains {
    double left = 0.0;
    double right = 0.0;
};

// Constant power: the angle runs over a quarter turn from left to right.
PanGains panGains(double place, double mixGain) noexcept {
    const double angle = (place + 1.0) * (VoiceParams::pi / 4.0);
    return {mixGain * std::cos(angle), mixGain * std::sin(angle)};
}

double singerPlace(ChorusMode mode, std::size_t singer, std::size_t singersPerPart,
                   std::size_t singerCount) noexcept {
    if (mode == ChorusMode::Solo) {
        return 0.0;
    }
    if (mode == ChorusMode::Unison) {
        if (singer == 0) {
            return 0.0;
        }
        const std::size_t pairs = singerCount / 2;
        const double side = singer % 2 == 1 ? -1.0 : 1.0;
        return side * kUnisonWidth * static_cast<double>((singer + 1) / 2) /
               static_cast<double>(pairs);
    }
    const std::size_t part = singer / singersPerPart;
    const std::size_t inPart = singer % singersPerPart;
    if (singersPerPart == 1) {
        return kPartPlace[part];
    }
    const double spread =
        2.0 * static_cast<double>(inPart) / static_cast<double>(singersPerPart - 1) - 1.0;
    return kPartPlace[part] + kPartSpread * spread;
}

// A walk's next goal and the increment that reaches it in kWalkSamples.
void aimWalk(double& value, double& increment, uint64_t& random) noexcept {
    const double goal = 2.0 * uniform(random) - 1.0;
    increment = (goal - value) / kWalkSamples;
}

} // namespace

void ChoirShared::publish(const ChoirSettings& settings) noexcept {
    const uint64_t sequence = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(sequence + 1, std::memory_order_relaxed);
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        m_parts[p].pitchHz.store(settings.parts[p].pitchHz, kPublish);
        for (std::size_t k = 0; k < kFormantCount; ++k) {
            m_parts[p].freqHz[k].store(settings.parts[p].formants.freqHz[k], kPublish);
            m_parts[p].bwHz[k].store(settings.parts[p].formants.bwHz[k], kPublish);
        }
    }
    m_sequence.store(sequence + 2, kPublish);
}

bool ChoirShared::read(uint64_t sequence, ChoirSettings& settings) const noexcept {
    ChoirSettings copy;
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        copy.parts[p].pitchHz = m_parts[p].pitchHz.load(kTake);
        for (std::size_t k = 0; k < kFormantCount; ++k) {
            copy.parts[p].formants.freqHz[k] = m_parts[p].freqHz[k].load(kTake);
            copy.parts[p].formants.bwHz[k] = m_parts[p].bwHz[k].load(kTake);
        }
    }
    if (m_sequence.load(std::memory_order_relaxed) != sequence) {
        return false;
    }
    settings = copy;
    return true;
}

ChoirSinger::ChoirSinger(uint64_t seed) noexcept : m_random(mixSeed(seed)) {
    // The walks start from rest, heading for their first goals.
    aimWalk(m_jitter.value, m_jitter.increment, m_random);
    aimWalk(m_shimmer.value, m_shimmer.increment, m_random);
}

// As the voice applies its requests: a stop restarts the fade-in and ends a glide, a start ends
// a fade-out, a new pitch is glided to from the previous one since the last stop. A part that
// falls silent is released on the pitch it had, as after a stop; when it sings again it starts
// as after a start.
void ChoirSinger::apply(const ChoirRequest& request, std::size_t part) noexcept {
    const PartRequest& sung = request.parts[part];
    const bool partSilent = !(sung.pitchHz > 0.0);
    if (request.stops != m_stops || (partSilent && !m_partSilent)) {
        m_envelope.restartFadeIn();
        m_glide.cancel();
        m_lastPitchHz = 0.0;
        m_settledCount = 0;
    }
    if (request.starts != m_starts || (!partSilent && m_partSilent)) {
        m_envelope.endFadeOut();
    }
    if (!partSilent && sung.pitchHz != m_lastPitchHz) {
        m_glide.setTarget(sung.pitchHz);
        if (m_lastPitchHz != 0.0) {
            m_glide.glideFrom(m_lastPitchHz);
        }
        m_lastPitchHz = sung.pitchHz;
        m_settledCount = 0;
    }
    m_envelope.setReleased(request.released || partSilent);
    if (sung.formants != m_tunedFormants) {
        m_tuning = tuneResonators(sung.formants);
        m_tunedFormants = sung.formants;
    }
    m_starts = request.starts;
    m_stops = request.stops;
    m_partSilent = partSilent;
}

double ChoirSinger::step(const SingerVariation& variation) noexcept {
    // Vibrato only on a held, sounding note, rising in after the settle time.
    double vibratoCents = 0.0;
    if (!m_glide.running() && !m_envelope.released() && m_lastPitchHz > 0.0) {
        if (m_settledCount < kVibratoSettleSamples + kVibratoRiseSamples) {
            ++m_settledCount;
        }
    } else {
        m_settledCount = 0;
    }
    if (m_settledCount > kVibratoSettleSamples) {
        const double turn = VoiceParams::twoPi * variation.vibratoTurnsPerSample;
        // The phasor turns by a fixed angle; its small drift in radius is renormalised.
        const double cosStep = 1.0 - turn * turn * 0.5;
        const double sinStep = turn - turn * turn * turn / 6.0;
        const double c = m_vibratoCos * cosStep - m_vibratoSin * sinStep;
        const double s = m_vibratoSin * cosStep + m_vibratoCos * sinStep;
        const double radiusCorrection = 1.5 - 0.5 * (c * c + s * s); // one Newton step to 1
        m_vibratoCos = c * radiusCorrection;
        m_vibratoSin = s * radiusCorrection;
        const double rise = std::min(
            1.0, static_cast<double>(m_settledCount - kVibratoSettleSamples) / kVibratoRiseSamples);
        vibratoCents = variation.vibratoPeakCents * rise * m_vibratoSin;
    } else {
        m_vibratoCos = 1.0;
        m_vibratoSin = 0.0;
    }

    // The walks: a new goal every kWalkSamples.
    if (++m_walkCount >= kWalkSamples) {
        m_walkCount = 0;
        aimWalk(m_jitter.value, m_jitter.increment, m_random);
        aimWalk(m_shimmer.value, m_shimmer.increment, m_random);
    }
    m_jitter.value += m_jitter.increment;
    m_shimmer.value += m_shimmer.increment;

    const double hz = m_glide.step() * variation.detuneRatio *
                      centsRatio(vibratoCents + kJitterCents * m_jitter.value);
    const double x = sourceSample(m_phase);
    m_phase += hz / VoiceParams::sampleRate;
    if (m_phase > 1.0) {
        m_phase -= 1.0;
    }
    const double mixed = mixFormants(m_res, m_tuning, x);
    return m_envelope.apply(mixed) * (1.0 + kShimmerDepth * m_shimmer.value);
}

ChoirRenderer::ChoirRenderer(const VoiceParams& params, const ChoirShared& parts, ChorusMode mode,
                             int32_t singersPerPart, VoiceOutput output,
                             const VoiceParams* callbackParams)
    : m_shared(params.shared()),
      m_callbackShared(callbackParams != nullptr ? &callbackParams->shared() : nullptr),
      m_partsShared(parts), m_mode(mode), m_output(output), m_lead(params, output, callbackParams) {
    const auto perPart =
        static_cast<std::size_t>(std::clamp(singersPerPart, int32_t{1}, kMaxSingersPerPart));
    m_singerCount = mode == ChorusMode::Solo ? 1 : kChorusParts * perPart;
    const double mixGain = 1.0 / std::sqrt(static_cast<double>(m_singerCount));
    const PanGains lead = panGains(singerPlace(mode, 0, perPart, m_singerCount), mixGain);
    m_leadGainLeft = lead.left;
    m_leadGainRight = lead.right;
    m_followers.resize(m_singerCount - 1);
    for (std::size_t k = 1; k < m_singerCount; ++k) {
        Follower& follower = m_followers[k - 1];
        follower.variation = drawVariation(k);
        follower.singer.reset(follower.variation.seed);
        follower.part = mode == ChorusMode::Harmony ? k / perPart : 0;
        const PanGains gains = panGains(singerPlace(mode, k, perPart, m_singerCount), mixGain);
        follower.gainLeft = gains.left;
        follower.gainRight = gains.right;
    }
    m_ring.resize(kRequestRing);
}

void ChoirRenderer::reset() noexcept {
    m_lead.reset();
    for (Follower& follower : m_followers) {
        follower.singer.reset(follower.variation.seed);
        follower.nextRequest = 0;
        follower.guard.reset();
    }
    m_requestCount = 0;
    m_sample = 0;
    m_appliedSequence = 0;
    m_applied = {};
    m_callbackAppliedSequence = 0;
    m_callbackApplied = {};
    m_partsAppliedSequence = 0;
    m_partsApplied = {};
    m_leadPitchHz = 0.0;
    m_leadFormants = {};
    m_leadReleased = false;
    m_volume = Lag{1.0, 1.0 / kVolumeLagSamples};
}

// The voice's publications and the parts' taken since the last pass, as the voice's renderer
// takes them (the callback's winning over the main thread's), made into one request.
void ChoirRenderer::takeRequests() noexcept {
    bool taken = false;
    const uint64_t sequence = m_shared.sequence();
    if (sequence != m_appliedSequence && complete(sequence)) {
        VoiceSettings settings;
        if (m_shared.read(sequence, settings)) {
            if (settings.volume != m_applied.volume) {
                m_volume.setTarget(settings.volume);
            }
            m_applied = settings;
            m_appliedSequence = sequence;
            m_leadPitchHz = settings.pitchHz;
            m_leadFormants = settings.formants;
            m_leadReleased = settings.released;
            taken = true;
        }
    }
    if (m_callbackShared != nullptr) {
        const uint64_t callbackSequence = m_callbackShared->sequence();
        if (callbackSequence != m_callbackAppliedSequence && complete(callbackSequence)) {
            VoiceSettings settings;
            if (m_callbackShared->read(callbackSequence, settings)) {
                m_callbackApplied = settings;
                m_callbackAppliedSequence = callbackSequence;
                m_leadPitchHz = settings.pitchHz;
                m_leadFormants = settings.formants;
                m_leadReleased = settings.released;
                taken = true;
            }
        }
    }
    const uint64_t partsSequence = m_partsShared.sequence();
    if (partsSequence != m_partsAppliedSequence && complete(partsSequence)) {
        if (m_partsShared.read(partsSequence, m_partsApplied)) {
            m_partsAppliedSequence = partsSequence;
            taken = true;
        }
    }
    if (taken) {
        pushRequest();
    }
}

void ChoirRenderer::pushRequest() noexcept {
    ChoirRequest request;
    request.starts = m_applied.starts + m_callbackApplied.starts;
    request.stops = m_applied.stops + m_callbackApplied.stops;
    request.released = m_leadReleased;
    for (std::size_t p = 0; p < kChorusParts; ++p) {
        if (m_mode == ChorusMode::Harmony) {
            request.parts[p] = m_partsApplied.parts[p];
        } else {
            request.parts[p] = {m_leadPitchHz, m_leadFormants};
        }
    }
    // The soprano sings the voice's own line.
    request.parts[0].pitchHz = m_leadPitchHz;
    // With the ring full, a singer that has not yet heard its oldest request skips it: the
    // next one holds every start and stop it counted, so only a passing state is lost.
    if (m_requestCount >= kRequestRing) {
        const uint64_t oldestKept = m_requestCount - kRequestRing + 1;
        for (Follower& follower : m_followers) {
            follower.nextRequest = std::max(follower.nextRequest, oldestKept);
        }
    }
    m_ring[m_requestCount % kRequestRing] = {m_sample, request};
    ++m_requestCount;
}

void ChoirRenderer::process(float* left, float* right, std::size_t frameCount,
                            std::span<float* const> singerSamples) noexcept {
    if (m_output == VoiceOutput::Live) {
        render<VoiceOutput::Live>(left, right, frameCount, singerSamples);
    } else {
        render<VoiceOutput::Exact>(left, right, frameCount, singerSamples);
    }
}

template <VoiceOutput kOutput>
void ChoirRenderer::render(float* left, float* right, std::size_t frameCount,
                           std::span<float* const> singerSamples) noexcept {
    std::array<float, kChunkFrames> leadOut{};
    std::array<double, kChunkFrames> mixLeft{};
    std::array<double, kChunkFrames> mixRight{};
    std::array<double, kChunkFrames> volume{};
    std::size_t chunkStart = 0;
    while (chunkStart < frameCount) {
        const std::size_t chunkFrames = std::min(kChunkFrames, frameCount - chunkStart);
        // The voice first, then the requests it may have taken, stamped at the chunk's start.
        float* const leadTarget = !singerSamples.empty() && singerSamples[0] != nullptr
                                      ? singerSamples[0] + chunkStart
                                      : leadOut.data();
        m_lead.process(leadTarget, chunkFrames);
        takeRequests();
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            const double sample = leadTarget[i];
            mixLeft[i] = sample * m_leadGainLeft;
            mixRight[i] = sample * m_leadGainRight;
            volume[i] = kOutput == VoiceOutput::Live ? m_volume.step() : 1.0;
        }
        for (std::size_t f = 0; f < m_followers.size(); ++f) {
            Follower& follower = m_followers[f];
            float* const own = f + 1 < singerSamples.size() && singerSamples[f + 1] != nullptr
                                   ? singerSamples[f + 1] + chunkStart
                                   : nullptr;
            const auto delay = static_cast<uint64_t>(follower.variation.onsetDelaySamples);
            for (std::size_t i = 0; i < chunkFrames; ++i) {
                // The latest request that has reached this singer by now.
                const uint64_t now = m_sample + i;
                bool due = false;
                while (follower.nextRequest < m_requestCount &&
                       m_ring[follower.nextRequest % kRequestRing].sample + delay <= now) {
                    ++follower.nextRequest;
                    due = true;
                }
                if (due) {
                    follower.singer.apply(m_ring[(follower.nextRequest - 1) % kRequestRing].request,
                                          follower.part);
                }
                double v = follower.singer.step(follower.variation);
                if constexpr (kOutput == VoiceOutput::Live) {
                    const VoiceGuard::Output guarded = follower.guard.process(
                        kLiveGuardLimits, v, largestLevel(follower.singer.resonators()),
                        follower.singer.released());
                    if (guarded.resetResonators) {
                        follower.singer.restResonators();
                    }
                    v = static_cast<double>(guarded.sample) * volume[i];
                }
                const auto sample = static_cast<float>(v);
                if (own != nullptr) {
                    own[i] = sample;
                }
                const double mixed = kOutput == VoiceOutput::Live ? double{sample} : v;
                mixLeft[i] += mixed * follower.gainLeft;
                mixRight[i] += mixed * follower.gainRight;
            }
        }
        for (std::size_t i = 0; i < chunkFrames; ++i) {
            if constexpr (kOutput == VoiceOutput::Live) {
                left[chunkStart + i] = static_cast<float>(softKnee(mixLeft[i], kLiveGuardLimits));
                right[chunkStart + i] = static_cast<float>(softKnee(mixRight[i], kLiveGuardLimits));
            } else {
                left[chunkStart + i] = static_cast<float>(mixLeft[i]);
                right[chunkStart + i] = static_cast<float>(mixRight[i]);
            }
        }
        m_sample += chunkFrames;
        chunkStart += chunkFrames;
    }
}

} // namespace doodle
