#pragma once

#include "program/ProgramView.h"
#include "web/SampleTicks.h"

#include <optional>
#include <string>

namespace doodle {

// The program's view inside the audio worklet: every call goes to the worklet's script
// (web/view_library.js), which posts it to the page. The play clock is the sample clock.
// Dialogs cannot wait there, so the page answers them before it hands the menu event over.
class WebView final : public ProgramView {
public:
    explicit WebView(SampleTicks& ticks) noexcept : m_ticks(ticks) {}

    // The answer the next file dialog gives: a path in the module's file system, or nothing
    // for a cancelled dialog. Used once.
    void prepareFileAnswer(std::optional<std::string> path) { m_fileAnswer = std::move(path); }

    void repaintCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) override;
    void drawGridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink) override;
    void showDot(int32_t x, int32_t y) override;
    void showNote(std::string_view name) override;
    void setRecording(bool down) override;
    void setPlaying(bool down) override;
    void setPlayEnabled(bool enabled) override;
    void setGrid(bool checked, bool enabled) override;
    void setRootEnabled(bool enabled) override;
    void markVoiceType(VoiceType type) override;
    void showMessage(std::string_view title, std::string_view text) override;
    std::optional<std::string> chooseSaveFile(std::string_view title,
                                              const std::string& proposedPath) override;
    std::optional<std::string> chooseOpenFile(std::string_view title,
                                              const std::string& folder) override;
    void showHelp() override;
    void resumeTicks() override { m_ticks.resume(); }
    void pauseTicks() override { m_ticks.pause(); }
    void quit() override {} // a page is closed by the browser, never by the program

private:
    std::optional<std::string> takeFileAnswer();

    SampleTicks& m_ticks;
    std::optional<std::string> m_fileAnswer{};
};

} // namespace doodle
