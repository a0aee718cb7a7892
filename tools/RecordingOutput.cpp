#include "tools/RecordingOutput.h"

#include "files/WriteAll.h"
#include "recording/AsciiCase.h"
#include "recording/RecordingFile.h"
#include "tools/OutputFile.h"
#include "tools/SoundFileOutput.h"
#include "tools/ToolConsole.h"

#include <memory>

namespace doodle {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

class RecordingJob final : public RenderJob {
public:
    explicit RecordingJob(const RenderOptions& options) : m_options(options) {}

    std::string tooLong(const RenderPlan&) const override { return {}; }

    int run(const Recording& recording, const RenderPlan&) override {
        std::string text;
        for (const std::string_view line : recording) {
            text += line;
            text += kLineEnd;
        }
        return writeWholeOutput(m_options, std::as_bytes(std::span(text)));
    }

private:
    const RenderOptions& m_options;
};

std::string refusal(std::string_view option, std::string_view what) {
    return std::string(option) + " " + std::string(what) + "; a " +
           std::string(kRecordingExtension) + " file holds the recording, not a render";
}

} // namespace

bool isRecordingFileName(std::string_view fileName) noexcept {
    return hasExtension(fileName, kRecordingExtension);
}

bool isRecordingType(std::string_view type) noexcept {
    return equalsIgnoringAsciiCase(kRecordingExtension.substr(1), type);
}

std::string recordingFormatLine() {
    return formatLine(kRecordingExtension,
                      "the recording itself, its lines as the program saves them");
}

ChosenJob chooseRecordingJob(const RenderOptions& options) {
    if (options.normalize) {
        return {nullptr, refusal("--normalize", "scales sound files")};
    }
    if (options.bits) {
        return {nullptr, refusal("--bits", "sets the samples of a sound file")};
    }
    if (options.settings.playSpeed != RenderSettings{}.playSpeed) {
        return {nullptr, refusal("--speed", "sets how fast a recording plays")};
    }
    if (options.settings.chorus != ChorusMode::Solo) {
        return {nullptr, refusal("--chorus", "sets who sings a recording")};
    }
    return {std::make_unique<RecordingJob>(options), {}};
}

int writeWholeOutput(const RenderOptions& options, std::span<const std::byte> bytes) {
    if (interrupted()) {
        return endByInterrupt(options.outputPath, false);
    }
    OutputFile output;
    if (!output.open(options.outputPath, bytes.size())) {
        return failWith(output.error());
    }
    if (!writeAll(output.fd(), bytes)) {
        const std::string reason = output.systemFailure();
        output.discard();
        return failWith(reason);
    }
    if (interrupted()) {
        output.discard();
        return endByInterrupt(options.outputPath, false);
    }
    if (!output.commit()) {
        return failWith(output.error());
    }
    return interrupted() ? endByInterrupt(options.outputPath, true) : 0;
}

} // namespace doodle
