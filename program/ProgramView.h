#pragma once

#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// What the program shows and what it asks: the window of the desktop program or a web page.
// Every call comes from the program's one thread, and none of them raises an event. The dialog
// calls return only when answered; a view whose dialogs cannot block prepares the answer before
// it hands the menu event over.
class ProgramView {
public:
    virtual ~ProgramView() = default;

    // The drawing area. Each ink point is one dot. White, then the grid lines of `mode` when
    // `withGrid`, then the ink.
    virtual void repaintCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) = 0;
    // The grid lines of `mode` over the picture as it is, then the ink on top.
    virtual void drawGridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink) = 0;
    // One ink dot at drawing-area pixels (x, y).
    virtual void showDot(int32_t x, int32_t y) = 0;
    // The note label: a name of noteNames, or empty to clear it.
    virtual void showNote(std::string_view name) = 0;

    // The toggles, down or up with the caption that goes with it.
    virtual void setRecording(bool down) = 0;
    virtual void setPlaying(bool down) = 0;
    virtual void setPlayEnabled(bool enabled) = 0;
    // The Grid box: its tick and whether it can be clicked.
    virtual void setGrid(bool checked, bool enabled) = 0;
    virtual void setRootEnabled(bool enabled) = 0;
    // The Voice menu's check mark.
    virtual void markVoiceType(VoiceType type) = 0;

    // A message with one OK button; returns when it is dismissed.
    virtual void showMessage(std::string_view title, std::string_view text) = 0;
    // The save dialog, starting at `proposedPath` (a folder and a name). It neither asks before
    // replacing a file nor adds an extension. The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> chooseSaveFile(std::string_view title,
                                                      const std::string& proposedPath) = 0;
    // The open dialog, starting in `folder`. The chosen path (the file need not exist), or
    // nothing when cancelled.
    virtual std::optional<std::string> chooseOpenFile(std::string_view title,
                                                      const std::string& folder) = 0;
    // The Help text; a view that can wait returns when it is closed.
    virtual void showHelp() = 0;

    // The play clock: tick events count from 1 again after resumeTicks, and none is due after
    // pauseTicks (one already on its way still arrives; the program ignores it).
    virtual void resumeTicks() = 0;
    virtual void pauseTicks() = 0;

    // The user closed the program: leave the event loop.
    virtual void quit() = 0;
};

} // namespace doodle
