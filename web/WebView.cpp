#include "web/WebView.h"

#include "program/HelpText.h"
#include "recording/ControlSettings.h"
#include "recording/MidiExport.h"

#include <emscripten/val.h>
#include <span>
#include <string>
#include <vector>

// Implemented by web/view_library.js in the module's script: the view calls a playback's ticks
// make inside a render quantum, as plain calls (embind would make a std::string's copy in the
// module's memory for each text).
extern "C" {
void dc_view_note(const char* name, int32_t length);
void dc_view_state(const char* control, int32_t value);
void dc_view_midi(const uint8_t* bytes, int32_t byteCount);
}

namespace doodle {
namespace {

int32_t count(std::size_t size) {
    return static_cast<int32_t>(size);
}

// The page's side of the view (Module.view, which the worklet gives the module).
emscripten::val pageView() {
    return emscripten::val::module_property("view");
}

// A copy of `bytes` as a Uint8Array of its own.
emscripten::val bytesCopy(std::span<const uint8_t> bytes) {
    return emscripten::val::global("Uint8Array")
        .new_(emscripten::typed_memory_view(bytes.size(), bytes.data()));
}

// Room made at start for one quantum: a whole repaint of the area with a grid and a few hundred
// ink dots, and a paint per tick of a quantum's playback.
constexpr std::size_t kQuantumStepsRoom = 4096;
constexpr std::size_t kQuantumPaintsRoom = 64;

} // namespace

void appendFlatPaint(const CanvasPaint& paint, std::vector<int32_t>& flat) {
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
}

PaintBatch::PaintBatch() {
    m_steps.reserve(kQuantumStepsRoom);
    m_ends.reserve(kQuantumPaintsRoom);
    m_frames.reserve(kQuantumPaintsRoom);
}

void PaintBatch::add(const CanvasPaint& paint, int64_t frame) {
    appendFlatPaint(paint, m_steps);
    m_ends.push_back(count(m_steps.size()));
    m_frames.push_back(static_cast<double>(frame));
}

void PaintBatch::clear() noexcept {
    m_steps.clear();
    m_ends.clear();
    m_frames.clear();
}

void WebView::paintCanvas(const CanvasPaint& paint) {
    m_paints.add(paint, m_ticks.frame());
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

void WebView::markTuning(Tuning tuning) {
    dc_view_state("tuning", static_cast<int32_t>(tuning));
}

void WebView::markMidiInChannel(int32_t channel) {
    dc_view_state("midiInChannel", channel);
}

void WebView::showMessage(std::string_view title, std::string_view text) {
    pageView().call<void>("message", std::string(title), std::string(text));
}

std::optional<std::string> WebView::chooseSaveFile(FileKind /*kind*/,
                                                   std::string_view proposedName) {
    // A page saves by downloading: the browser asks where, or keeps it in its downloads.
    return std::string(proposedName);
}

StoreResult WebView::storeFile(const std::string& destination, const StoredFile& file) {
    if (file.kind == FileKind::Recording || file.recording == nullptr) {
        pageView().call<void>("store", destination, bytesCopy(file.bytes));
        return {StoreStatus::Stored};
    }
    // Never rendered here, on the audio thread: the page's worker makes the file from the
    // recording's lines and offers it; a failure there is the page's to report.
    const std::string_view text = file.recording->storedText();
    // An export plays without the grid, which only the drawing area shows.
    const ControlSettings settings = controlSettingsOf(file.settings, false);
    // The job is handed over as one object; the lines are copied out of the module's memory.
    emscripten::val job = emscripten::val::object();
    job.set("name", destination);
    job.set("kind", static_cast<int32_t>(file.kind));
    job.set("text", bytesCopy({reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
    job.set("settings", settings);
    pageView().call<void>("export", job);
    return {StoreStatus::Stored};
}

std::optional<ChosenRecording> WebView::chooseOpenFile() {
    std::optional<ChosenRecording> answer = std::move(m_openAnswer);
    m_openAnswer.reset();
    return answer;
}

// The worklet handles every tick at its own frame, so a played tick is never late here: the
// messages go out at the frame of the call.
void WebView::sendMidi(std::span<const MidiMessage> messages) {
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
    pageView().call<void>("help", programHelpText());
}

} // namespace doodle
