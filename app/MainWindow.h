#pragma once

#include "mapping/CanvasPaint.h"
#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Event.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace doodle {

class DrawingArea;
class PitchAxis;
class VowelAxis;

// Places a shown top-level window in the middle of its screen (at 0 where it does not fit).
void centreOnScreen(QWidget& window);

// The main window: menu bar, the drawing area and the twelve other controls. At its default size
// (also its least) every control has its own place; a larger window moves the controls right
// with its right edge, gives the drawing area the rest and shows hints around it. User actions
// leave it as Events that carry the values the user set; the program changes the controls
// through the methods below, none of which raises an event.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kClientWidthPx = 380;
    static constexpr int kClientHeightPx = 240; // the menu bar's height comes out of this
    // Room the hints take beside and under the drawing area once the window is larger.
    static constexpr int kVowelAxisWidthPx = 30;
    static constexpr int kPitchAxisHeightPx = 20;

    using EventSink = std::function<void(const Event&)>;
    explicit MainWindow(EventSink sink);

    // Whether every control's text fits its box at the current font.
    bool textsFit() const;

    // The toggles: down or up, with the caption that goes with it.
    void setRecording(bool down);
    void setPlaying(bool down);
    void setPlayEnabled(bool enabled);
    void setGrid(bool checked, bool enabled);
    void setRootEnabled(bool enabled);
    // Moves the Voice menu's check mark to the type.
    void markVoiceType(VoiceType type);
    // Moves Voice > Tuning's check mark to the tuning.
    void markTuning(Tuning tuning);
    // Moves MIDI > Input Channel's mark to the channel: kMidiAllChannels or 1..16.
    void markMidiInChannel(int32_t channel);
    void showNote(std::string_view name); // empty clears the label
    // A line at the window's foot about the program's sound (a lost server); empty hides it.
    void showStatus(const QString& text);

    // The drawing area: the steps in order (see DrawingArea).
    void paintCanvas(const CanvasPaint& paint);

    // The scale options, the root list and the speed as remembered settings put them, as a
    // click would have left them; no event.
    void showScale(ScaleMode mode, int rootIndex);
    void showSpeed(int tenths);

    // The title: the recording's file (empty: none yet), marked while it has unsaved lines.
    void showDocument(const QString& path, bool unsaved);
    void setUndoEnabled(bool enabled);

    // File > Open Recent, most recent first; choosing one, or dropping a file on the window,
    // hands its path to `handler`.
    using OpenPathHandler = std::function<void(const QString& path)>;
    void setOpenPathHandler(OpenPathHandler handler);
    void setRecentFiles(const QStringList& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createMenu();
    void addFileMenuExtras(class QMenu* fileMenu);
    void addTuningMenu(class QMenu* voiceMenu); // Voice > Tuning, after the voice types
    void addMidiMenu();
    // The controls at their places in `client`, each with an object name ("recordToggle",
    // "scaleFrame") by which it can be found.
    void createControls(QWidget* client);
    void createButtons(QWidget* client);
    void createDrawingArea(QWidget* client);
    void createSpeedSlider(QWidget* client);
    void createScaleFrame(QWidget* client);
    void createHints(QWidget* client);
    // Places the controls, the drawing area and the hints for the client's size.
    void layOutClient();
    void connectControls();
    void fitFont();
    // A menu item named `name` ("menuOpen") that reports `id` when chosen.
    QAction* addMenuItem(class QMenu* menu, std::string_view text, std::string_view name,
                         int32_t id, bool checkable);

    QAction* m_menuType1 = nullptr; // the Voice menu's check marks
    QAction* m_menuType2 = nullptr;
    QAction* m_menuTuningClassic = nullptr; // Voice > Tuning's check marks
    QAction* m_menuTuningConcert = nullptr;
    QAction* m_menuUndo = nullptr;
    // MIDI > Input Channel's radio items, by channel (0: kMidiAllChannels).
    std::array<QAction*, kMidiChannels + 1> m_menuMidiInChannels{};
    int32_t m_midiInChannelMarked = kMidiAllChannels;
    class QMenu* m_recentMenu = nullptr; // File > Open Recent
    OpenPathHandler m_openPath{};

    QPushButton* m_recordToggle = nullptr;
    QPushButton* m_playToggle = nullptr;
    QPushButton* m_clearButton = nullptr;
    DrawingArea* m_drawingArea = nullptr;
    QSlider* m_speedSlider = nullptr;
    QCheckBox* m_gridCheckBox = nullptr;
    QRadioButton* m_unrestrictedOption = nullptr;
    QRadioButton* m_majorOption = nullptr;
    QRadioButton* m_minorOption = nullptr;
    QRadioButton* m_pentatonicOption = nullptr;
    QGroupBox* m_scaleFrame = nullptr;
    QLabel* m_noteLabel = nullptr;
    QComboBox* m_rootNoteCombo = nullptr;
    VowelAxis* m_vowelAxis = nullptr;
    PitchAxis* m_pitchAxis = nullptr;

    EventSink m_sink;
    QWidget* m_pressedWidget = nullptr;     // where the left button went down, until its release
    bool m_dragReachedArea = false;         // that drag has moved over the drawing area
    QPoint m_lastAreaPointPx{};             // its last point there, in area pixels
    class QStyle* m_compactStyle = nullptr; // owned by this window
};

} // namespace doodle
