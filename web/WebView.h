#pragma once

#include "program/ProgramView.h"
#include "web/SampleTicks.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace doodle {

// Paint steps as one array of numbers, as the page reads them: for each, its kind, the colour's
// three channels, how many values follow, then the values (a column's X, or a dot's X and Y).
// Appended to `flat`.
void appendFlatPaint(const CanvasPaint& paint, std::vector<int32_t>& flat);

// The paint calls of one render quantum, gathered for one message to the page: every call's
// flat steps one after the other, where each call's steps end, and the frame of each call.
// Made once with room for a quantum's usual paints; the room grows only past the largest
// quantum so far (a whole repaint of long ink) and is kept, so that a quantum allocates nothing.
class PaintBatch {
public:
    PaintBatch();
    void add(const CanvasPaint& paint, int64_t frame);
    void clear() noexcept;
    std::span<const int32_t> steps() const noexcept { return m_steps; }
    std::span<const int32_t> ends() const noexcept { return m_ends; }
    std::span<const double> frames() const noexcept { return m_frames; }

private:
    std::vector<int32_t> m_steps{};
    std::vector<int32_t> m_ends{};  // offsets into m_steps
    std::vector<double> m_frames{}; // sample-clock frames, exact up to 2^53
};

// The program's view inside the audio worklet: every call goes to the worklet's script (through
// embind, or web/view_library.js for those a playback's ticks make), which posts it to the page;
// paints wait in a batch that the worklet posts at the end of the render quantum. The play clock is
// the sample clock. Dialogs cannot wait there: the page's file choice arrives first, as a recording
// another copy of the program read, and the save dialog's answer is the name of the download.
class WebView final : public ProgramView {
public:
    explicit WebView(SampleTicks& ticks) noexcept : m_ticks(ticks) {}

    // The answer the next open dialog gives: a recording, why there is none, or a cancel
    // (nothing). Used once.
    void prepareOpenAnswer(std::optional<ChosenRecording> answer) {
        m_openAnswer = std::move(answer);
    }

    void paintCanvas(const CanvasPaint& paint) override;
    void showNote(std::string_view name) override;
    void setRecording(bool down) override;
    void setPlaying(bool down) override;
    void setPlayEnabled(bool enabled) override;
    void setGrid(bool checked, bool enabled) override;
    void setRootEnabled(bool enabled) override;
    void markVoiceType(VoiceType type) override;
    void markTuning(Tuning tuning) override;
    void markMidiInChannel(int32_t channel) override;
    void showMessage(std::string_view title, std::string_view text) override;
    std::optional<std::string> chooseSaveFile(FileKind kind,
                                              std::string_view proposedName) override;
    StoreResult storeFile(const std::string& destination, const StoredFile& file) override;
    std::optional<ChosenRecording> chooseOpenFile() override;
    void showHelp() override;
    // The page keeps its drawing in the browser, and has no Undo: lines are never asked for.
    SaveChoice askSaveChanges() override { return SaveChoice::Discard; }
    void showDocument(std::string_view /*name*/, bool /*unsaved*/) override {}
    void setUndoAvailable(bool /*available*/) override {}
    void resumeTicks() override { m_ticks.resume(); }
    void pauseTicks() override { m_ticks.pause(); }
    void quit() override {} // a page is closed by the browser, never by the program
    void sendMidi(std::span<const MidiMessage> messages) override;
    // The page shows MIDI's state in its own menu.
    std::string midiStatus() const override { return {}; }

    // What was painted since the last clear(): the worklet posts it once a render quantum.
    PaintBatch& paints() noexcept { return m_paints; }

    // Whether the page has a MIDI output chosen: without one, sendMidi posts nothing.
    void setMidiOutOpen(bool open) noexcept { m_midiOutOpen = open; }

private:
    SampleTicks& m_ticks;
    std::optional<ChosenRecording> m_openAnswer{};
    PaintBatch m_paints{};
    bool m_midiOutOpen = false;
};

} // namespace doodle
