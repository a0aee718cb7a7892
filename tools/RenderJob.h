#pragma once

#include "recording/OfflineRender.h"
#include "tools/RenderOptions.h"

#include <memory>
#include <string>

namespace doodle {

// What the tool makes of a recording: a sound file or a MIDI file, decided once from the
// options.
class RenderJob {
public:
    virtual ~RenderJob() = default;

    // Why a playback of this length does not fit OUT's format ("plays too long for ..."), or
    // nothing.
    virtual std::string tooLong(const RenderPlan& plan) const = 0;
    // Plays the recording into OUT. The exit status: 0, kExitError after one line on stderr, or
    // the status of an interrupt; OUT is complete only with 0.
    virtual int run(const Recording& recording, const RenderPlan& plan) = 0;
};

// The job the options ask for, or the line saying why there is none: an unknown extension or
// --type, --bits or --normalize where they do not apply, a format that standard output cannot
// take.
struct ChosenJob {
    std::unique_ptr<RenderJob> job{};
    std::string error{};
};
ChosenJob chooseRenderJob(const RenderOptions& options);

} // namespace doodle
