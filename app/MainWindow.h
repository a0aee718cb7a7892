#pragma once

#include "app/Event.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

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

// The main window: menu bar and the thirteen controls at their fixed places. It keeps no
// state of its own beyond the controls; user actions leave it as Events through the sink.
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

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createMenu();
    void createControls(QWidget* client);
    void fitFont();
    QAction* addMenuItem(class QMenu* menu, const char* text, int32_t id, bool checkable);
    void place(QWidget* widget, int32_t id);

    EventSink m_sink;
    QWidget* m_pressedWidget = nullptr;     // where the left button went down, until its release
    bool m_dragReachedArea = false;         // that drag has moved over the drawing area
    QPoint m_lastAreaPointPx{};             // its last point there, in area pixels
    class QStyle* m_compactStyle = nullptr; // owned by this window
};

} // namespace doodle
