#include "recording/PlaybackStep.h"

#include "mapping/DrawingSurface.h"
#include "recording/GestureLine.h"

#include <limits>

namespace doodle {
namespace {

// Field 3 at or above this marks a release line.
constexpr double kReleasedFlag = 1.0;

} // namespace

PlaybackStep playbackStep(std::span<const std::string> recordingList, int32_t& playIndex,
                          int32_t tickCount, double playSpeed, bool tickerPaused) noexcept {
    if (tickerPaused) {
        return {}; // an event posted just before the ticker was paused
    }
    // playIndex cannot step past int32's end, so a list longer than that ends there.
    if (playIndex < 0 || static_cast<std::size_t>(playIndex) >= recordingList.size() ||
        playIndex == std::numeric_limits<int32_t>::max()) {
        return {PlaybackAction::Stop};
    }
    const std::string_view line = recordingList[static_cast<std::size_t>(playIndex)];
    const int32_t dueTick = roundToWhole(parseDecimal(lineField(line, kFieldTime)) / playSpeed);
    if (tickCount <= dueTick) {
        return {};
    }
    ++playIndex;
    if (parseDecimal(lineField(line, kFieldReleased)) >= kReleasedFlag) {
        return {PlaybackAction::Release};
    }
    return {PlaybackAction::Sound, clampX(roundToWhole(parseDecimal(lineField(line, kFieldX)))),
            clampY(roundToWhole(parseDecimal(lineField(line, kFieldY))))};
}

} // namespace doodle
