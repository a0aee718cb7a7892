#include "web/WebView.h"

#include "program/HelpText.h"

#include <vector>

// Implemented by web/view_library.js in the module's script.
extern "C" {
void dc_view_canvas(int32_t repaint, int32_t withGrid, const int32_t* lightX, int32_t lightCount,
                    const int32_t* darkX, int32_t darkCount, const int32_t* inkXY,
                    int32_t inkCount);
void dc_view_dot(int32_t x, int32_t y);
void dc_view_note(const char* name, int32_t length);
void dc_view_state(const char* control, int32_t value);
void dc_view_message(const char* title, int32_t titleLength, const char* text, int32_t textLength);
void dc_view_help(const char* text, int32_t length);
}

namespace doodle {
namespace {

int32_t count(std::size_t size) {
    return static_cast<int32_t>(size);
}

void sendCanvas(bool repaint, bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) {
    const GridLines lines = withGrid ? gridLinesFor(mode) : GridLines{};
    // InkPoint is two int32 and nothing else: the span is the x, y pairs as they are.
    static_assert(sizeof(InkPoint) == 2 * sizeof(int32_t));
    const auto* inkXY = reinterpret_cast<const int32_t*>(ink.data());
    dc_view_canvas(repaint ? 1 : 0, withGrid ? 1 : 0, lines.lightX.data(),
                   count(lines.lightX.size()), lines.darkX.data(), count(lines.darkX.size()), inkXY,
                   count(ink.size()));
}

} // namespace

void WebView::repaintCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) {
    sendCanvas(true, withGrid, mode, ink);
}

void WebView::drawGridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink) {
    sendCanvas(false, true, mode, ink);
}

void WebView::showDot(int32_t x, int32_t y) {
    dc_view_dot(x, y);
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

std::optional<std::string> WebView::chooseSaveFile(std::string_view /*title*/,
                                                   const std::string& /*proposedPath*/) {
    return takeFileAnswer();
}

std::optional<std::string> WebView::chooseOpenFile(std::string_view /*title*/,
                                                   const std::string& /*folder*/) {
    return takeFileAnswer();
}

void WebView::showHelp() {
    const std::string text = programHelpText();
    dc_view_help(text.data(), count(text.size()));
}

std::optional<std::string> WebView::takeFileAnswer() {
    std::optional<std::string> answer = std::move(m_fileAnswer);
    m_fileAnswer.reset();
    return answer;
}

} // namespace doodle
