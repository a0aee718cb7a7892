#pragma once

#include "app/clock/SpscQueue.h"
#include "recording/PlayTickClock.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace doodle {

inline constexpr int64_t kNsPerSecond = 1'000'000'000;

// CLOCK_MONOTONIC in ns: the clock MIDI out is stamped on. Safe in an audio callback (vDSO).
int64_t monotonicNs() noexcept;
// Frames at kRenderSampleRate as ns, and back (rounded down), without overflow for any frame
// count a program reaches.
int64_t framesToNs(int64_t frames) noexcept;
int64_t nsToFrames(int64_t ns) noexcept;

// The desktop program's play clock. Its ticks are counted on a sample clock by the shared
// PlayTickClock, as the page and the offline render count them, driven by one of two:
// - the audio stream: its callback counts the voice's frames as it renders them;
// - where no stream runs, the main thread itself, from CLOCK_MONOTONIC (advanceSteady).
// The driver pushes each tick, with the CLOCK_MONOTONIC time its frame is heard at, into a
// lock-free queue; the main thread takes them with takeTicks(). resume() and pause() belong to
// the main thread and reach the driver through one atomic word.
class PlayClock {
public:
    // A counted tick: its count since its resume, the resume it belongs to, when its frame is
    // heard (CLOCK_MONOTONIC ns), and its frame on the host's own clock where the driver has one
    // (a JACK frame time, at the server's rate; 0 otherwise).
    struct Tick {
        int32_t tick = 0;
        uint32_t resumeCount = 0;
        int64_t dueNs = 0;
        uint32_t hostFrame = 0;
    };
    // Where the frames of one count() lie on the host's clock: the first, and host frames per
    // voice frame.
    struct HostFrames {
        uint32_t first = 0;
        double perVoiceFrame = 1.0;
    };
    // Ticks waiting for the main thread: about 4 s of them. A driver finding the queue full
    // holds its ticks back; none is lost.
    static constexpr std::size_t kQueueTicks = 4096;
    // The most the steady driver catches up at once after a stall (suspend, a debugger): the
    // rest of the stall is skipped, as a clock that lags that far has lost its beat anyway.
    static constexpr int64_t kMaxSteadyLagFrames = kRenderSampleRate / 10;

    // --- main thread ---
    // Which driver counts. Set before the stream starts (its callback then counts) or after it
    // has stopped; the steady driver counts by default.
    void setStreamDriven(bool streamDriven) noexcept { m_streamDriven = streamDriven; }
    bool streamDriven() const noexcept { return m_streamDriven; }

    // Tick events count from 1 again; none of an earlier resume is handed over after this.
    void resume() noexcept;
    // No tick is handed over after this.
    void pause() noexcept;
    // Between resume() and pause(), as the main thread asked.
    bool running() const noexcept { return m_running; }

    // The steady driver, where no stream counts: advances the sample clock to nowNs
    // (CLOCK_MONOTONIC) and counts the ticks due on the way. A clock that was paused starts
    // again from nowNs.
    void advanceSteady(int64_t nowNs) noexcept;

    // Hands every tick waiting, in order, to onTick(const Tick&) while the clock runs in the
    // resume it was counted for; ticks of an earlier resume or after a pause are dropped.
    // onTick may pause or resume the clock. Returns how many ticks were handed over.
    template <class OnTick>
    std::size_t takeTicks(OnTick&& onTick) {
        std::size_t handed = 0;
        while (const std::optional<Tick> next = m_queue.pop()) {
            if (m_running && next->resumeCount == m_resumeCount) {
                onTick(*next);
                ++handed;
            }
        }
        return handed;
    }

    // --- the driver: the audio callback, or the main thread through advanceSteady ---
    // Advances the sample clock by frameCount frames, the first of which is heard at
    // firstFrameNs (CLOCK_MONOTONIC) and lies at `host` on the host's clock, counting the ticks
    // due on the way; the frames between them go to render(offsetFrames, frames). No lock, no
    // allocation.
    template <class Render>
    void count(std::size_t frameCount, int64_t firstFrameNs, Render&& render,
               HostFrames host = {}) noexcept {
        applyCommand(firstFrameNs);
        const int64_t firstFrame = m_clock.frame();
        m_clock.advance(
            frameCount,
            [this, firstFrame, host](int32_t tick) {
                const int64_t dueNs =
                    m_zeroNs + framesToNs(m_clock.frame() - m_clock.resumeFrame());
                const auto hostOffset = static_cast<uint32_t>(
                    static_cast<double>(m_clock.frame() - firstFrame) * host.perVoiceFrame);
                return m_queue.push({tick, m_drivenResumeCount, dueNs, host.first + hostOffset});
            },
            render);
    }

private:
    void applyCommand(int64_t firstFrameNs) noexcept;

    // Main thread only.
    bool m_streamDriven = false;
    bool m_running = false;
    uint32_t m_resumeCount = 0;   // resumes so far
    int64_t m_steadyOriginNs = 0; // steady driver: when its frame 0 was (CLOCK_MONOTONIC)
    bool m_steadyTicking = false; // steady driver: the clock ran at the last advance

    // The main thread's last word: (resumes << 1) | running. Written by the main thread, read
    // by the driver.
    std::atomic<uint64_t> m_command{0};

    // The driver's only.
    uint64_t m_appliedCommand = 0;
    uint32_t m_drivenResumeCount = 0; // the resume the clock counts for
    int64_t m_zeroNs = 0;             // when tick 0 of that resume is heard (CLOCK_MONOTONIC)
    PlayTickClock m_clock{};

    SpscQueue<Tick, kQueueTicks> m_queue{};
};

} // namespace doodle
