#include "web/WebView.h"

#include "program/HelpText.h"
#include "recording/MidiExport.h"

#include <vector>

// Implemented by web/view_library.js in the module's script.
extern "C" {
void dc_view_paint(const int32_t* steps, int32_t count);
void dc_view_note(const char* name, int32_t length);
void dc_view_state(const char* control, int32_t value);
void dc_view_message(const char* title, int32_t titleLength, const char* text, int32_t textLength);
void dc_view_help(const char* text, int32_t length);
void dc_view_store(const char* name, int32_t nameLength, const uint8_t* bytes, int32_t byteCount);
void dc_view_export(const char* name, int32_t nameLength, int32_t kind, const char* text,
                    int32_t textLength, double playSpeed, int32_t voiceType, int32_t scaleMode,
                    int32_t rootIndex);
void dc_view_midi(const uint8_t* bytes, int32_t byteCount);
}

namespace doodle {
namespace {

int32_t count(std::size_t size) {
    return static_cast<int32_t>(size);
}

} // namespace

std::vector<int32_t> flattenPaint(const CanvasPaint& paint) {
    constexpr std::size_t kStepHeadValues = 5; // kind, red, green, blue, count
    std::size_t values = 0;
    for (const CanvasStep& step : paint) {
        values += kStepHeadValues + 2 * step.dots.size() + step.columnsX.size();
    }
    std::vector<int32_t> flat;
    flat.reserve(values);
    for (const CanvasStep& step : paint) {
        flat.push_back(static_cast<int32_t>(step.kind));
        flat.push_back(step.colour.red);
        flat.push_back(step.colour.green);
        flat.push_back(step.colour.blue);
        if (step.kind == CanvasStep::Kind::Dots) {
            flat.push_back(count(2 * step.dots.size()));
            for (const InkPoint& dot : step.dots) {
                flat.push_back(dot.x);
                flat.push_back(dot.y);
            }
        } else {
            flat.push_back(count(step.columnsX.size()));
            flat.insert(flat.end(), step.columnsX.begin(), step.columnsX.end());
        }
    }
    return flat;
}

void WebView::paintCanvas(const CanvasPaint& paint) {
    const std::vector<int32_t> flat = flattenPaint(paint);
    dc_view_paint(flat.data(), count(flat.size()));
}

void WebView::showNote(std::string_view name) {
    dc_view_note(name.data(), count(name.size()));
}

void WebView::setRecording(bool down) {
    dc_view_state("recording", down ? 1 : 0);
}

void WebView::setPlaying(bool down) {
    dc_view_state("playing", down ? 1 : 0);
}

void WebView::setPlayEnabled(bool enabled) {
    dc_view_state("playEnabled", enabled ? 1 : 0);
}

void WebView::setGrid(bool checked, bool enabled) {
    dc_view_state("gridChecked", checked ? 1 : 0);
    dc_view_state("gridEnabled", enabled ? 1 : 0);
}

void WebView::setRootEnabled(bool enabled) {
    dc_view_state("rootEnabled", enabled ? 1 : 0);
}

void WebView::markVoiceType(VoiceType type) {
    dc_view_state("voiceType", static_cast<int32_t>(type));
}

void WebView::showMessage(std::string_view title, std::string_view text) {
    dc_view_message(title.data(), count(title.size()), text.data(), count(text.size()));
}

std::optional<std::string> WebView::chooseSaveFile(FileKind /*kind*/,
                                                   std::string_view proposedName) {
    // A page saves by downloading: the browser asks where, or keeps it in its downloads.
    return std::string(proposedName);
}

StoreResult WebView::storeFile(const std::string& destination, const StoredFile& file) {
    if (file.kind == FileKind::Recording || file.recording == nullptr) {
        dc_view_store(destination.data(), count(destination.size()), file.bytes.data(),
                      count(file.bytes.size()));
        return {StoreStatus::Stored};
    }
    // Never rendered here, on the audio thread: the page's worker makes the file from the
    // recording's lines and offers it; a failure there is the page's to report.
    const std::string_view text = file.recording->storedText();
    const RenderSettings& settings = file.settings;
    dc_view_export(destination.data(), count(destination.size()), static_cast<int32_t>(file.kind),
                   text.data(), count(text.size()), settings.playSpeed,
                   static_cast<int32_t>(settings.voiceType),
                   static_cast<int32_t>(settings.scaleMode), settings.rootIndex);
    return {StoreStatus::Stored};
}

std::optional<ChosenRecording> WebView::chooseOpenFile() {
    std::optional<ChosenRecording> answer = std::move(m_openAnswer);
    m_openAnswer.reset();
    return answer;
}

// The worklet handles every tick at its own frame, so a played tick is never late here: the
// messages go out at the frame of the call.
void WebView::sendMidi(std::span<const MidiMessage> messages, std::optional<int32_t> /*playTick*/) {
    if (!m_midiOutOpen || messages.empty()) {
        return;
    }
    std::vector<uint8_t> bytes; // as Web MIDI's send() takes them
    for (const MidiMessage& message : messages) {
        appendMidiMessage(bytes, message);
    }
    dc_view_midi(bytes.data(), count(bytes.size()));
}

void WebView::showHelp() {
    const std::string text = programHelpText();
    dc_view_help(text.data(), count(text.size()));
}

} // namespace doodle
