#pragma once

#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Event.h"

#include <QMainWindow>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace doodle {

class DrawingArea;

// Places a shown top-level window in the middle of its screen (at 0 where it does not fit).
void centreOnScreen(QWidget& window);

// The main window: menu bar and the thirteen controls at their fixed places. User actions leave
// it as Events that carry the values the user set; the program changes the controls through the
// methods below, none of which raises an event.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kClientWidthPx = 380;
    static constexpr int kClientHeightPx = 240; // the menu bar's height comes out of this

    using EventSink = std::function<void(const Event&)>;
    explicit MainWindow(EventSink sink);

    // Whether every control's text fits its box at the current font.
    bool textsFit() const;

    // Looks up a control by its id; nullptr for an unknown id.
    QWidget* control(int32_t id) const;

    // The toggles: down or up, with the caption that goes with it.
    void setRecording(bool down);
    void setPlaying(bool down);
    void setPlayEnabled(bool enabled);
    void setGrid(bool checked, bool enabled);
    void setRootEnabled(bool enabled);
    // Moves the Voice menu's check mark to the type.
    void markVoiceType(VoiceType type);
    void showNote(std::string_view name); // empty clears the label

    // The drawing area. Each entry of `ink` is a dot at its first two fields (see DrawingArea).
    // White, then the grid lines of `mode` when `withGrid`, then the ink.
    void repaintCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink);
    // The grid lines of `mode` over the picture as it is, then the ink on top.
    void drawGridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink);
    void drawDot(int32_t x, int32_t y); // an ink dot at drawing-area pixels (x, y)

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenu();
    void createControls(QWidget* client);
    void fitFont();
    QAction* addMenuItem(class QMenu* menu, const char* text, int32_t id, bool checkable);
    void place(QWidget* widget, int32_t id);

    QAction* m_menuOpen = nullptr;
    QAction* m_menuSave = nullptr;
    QAction* m_menuType1 = nullptr;
    QAction* m_menuType2 = nullptr;
    QAction* m_menuAbout = nullptr;
    QAction* m_menuHelp = nullptr;

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

    EventSink m_sink;
    QWidget* m_pressedWidget = nullptr;     // where the left button went down, until its release
    bool m_dragReachedArea = false;         // that drag has moved over the drawing area
    QPoint m_lastAreaPointPx{};             // its last point there, in area pixels
    class QStyle* m_compactStyle = nullptr; // owned by this window
};

} // namespace doodle
