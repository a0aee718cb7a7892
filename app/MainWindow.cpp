#include "app/MainWindow.h"

#include "app/AxisHints.h"
#include "app/DrawingArea.h"
#include "mapping/DrawingSurface.h"
#include "program/Captions.h"
#include "program/Hints.h"
#include "recording/PlaySpeed.h"
#include "recording/Recorder.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QUrl>
#include <algorithm>

namespace doodle {
namespace {

// Text size: the largest from kLargestFontPx down that lets every control show its whole text
// in its fixed box with the fonts of this desktop.
constexpr int kLargestFontPx = 12;
constexpr int kSmallestFontPx = 8;
// Between the vowel axis's names and the drawing area.
constexpr int kVowelAxisGapPx = 4;

// Where a control sits, in client pixels below the menu bar, and the name it goes by.
struct ControlPlace {
    const char* name;
    int x, y, widthPx, heightPx;
};
constexpr ControlPlace kRecordTogglePlace{"recordToggle", 280, 28, 60, 20};
constexpr ControlPlace kPlayTogglePlace{"playToggle", 280, 50, 60, 20};
constexpr ControlPlace kClearButtonPlace{"clearButton", 280, 5, 60, 20};
constexpr ControlPlace kDrawingAreaPlace{"drawingArea", 10, 10, DrawingArea::kWidthPx,
                                         DrawingArea::kHeightPx};
constexpr ControlPlace kSpeedSliderPlace{"speedSlider", 275, 70, 75, 20};
constexpr ControlPlace kGridCheckBoxPlace{"gridCheckBox", 300, 90, 60, 20};
constexpr ControlPlace kUnrestrictedOptionPlace{"unrestrictedOption", 265, 125, 80, 20};
constexpr ControlPlace kMajorOptionPlace{"majorOption", 265, 145, 45, 20};
constexpr ControlPlace kMinorOptionPlace{"minorOption", 265, 165, 45, 20};
constexpr ControlPlace kPentatonicOptionPlace{"pentatonicOption", 265, 185, 100, 20};
constexpr ControlPlace kScaleFramePlace{"scaleFrame", 255, 110, 115, 100};
constexpr ControlPlace kNoteLabelPlace{"noteLabel", 350, 30, 20, 20};
constexpr ControlPlace kRootNoteComboPlace{"rootNoteCombo", 315, 155, 45, 20};

// Names `widget` and puts it at its place in `client`, also when it sits inside a frame there.
void place(QWidget* widget, const ControlPlace& where, const QWidget* client) {
    widget->setObjectName(QLatin1String(where.name));
    const QPoint parentOriginPx = widget->parentWidget()->mapTo(client, QPoint(0, 0));
    widget->setGeometry(
        QRect(where.x, where.y, where.widthPx, where.heightPx).translated(-parentOriginPx));
}

// The speed as a screen reader says it: "1.0×" to "5.0×".
QString speedText(int tenths) {
    return QString::number(playSpeedFromTenths(tenths), 'f', kSpeedCaptionDecimals) +
           QString::fromUtf8(kSpeedCaptionSuffix.data(),
                             static_cast<qsizetype>(kSpeedCaptionSuffix.size()));
}

QString captionText(std::string_view caption) {
    return QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size()));
}

void setToggle(QPushButton& toggle, const ToggleCaptions& captions, bool down) {
    toggle.setChecked(down);
    toggle.setText(captionText(down ? captions.down : captions.up));
}

// A push button that Return and the keypad's Enter press as Space does. Qt leaves those keys to
// a dialog's default button, and this window has none, so they would do nothing.
class KeyboardButton final : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enterKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (!enterKey || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            QPushButton::keyPressEvent(event);
            return;
        }
        // One activation per press, as with Space: a held key's repeats click no more.
        if (!event->isAutoRepeat()) {
            click();
        }
        event->accept();
    }
};

// The note label to a screen reader: its name says what it is ("Current note"), its
// description is the note it shows, read whenever asked, as the text changes while drawing.
class NoteLabelAccessible final : public QAccessibleWidget {
public:
    explicit NoteLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Description) {
            return static_cast<const QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
};

// A checkable button of the main window to assistive technology. Qt's own interface answers
// the "Toggle" action by flipping the check without a click, which the program never hears: the
// button would show recording, Grid or a scale that is not in effect. Here the action clicks,
// as a hand or the keyboard does.
class ClickingToggleAccessible final : public QAccessibleWidget {
public:
    explicit ClickingToggleAccessible(QAbstractButton* button)
        : QAccessibleWidget(button, qobject_cast<QRadioButton*>(button) != nullptr
                                        ? QAccessible::RadioButton
                                        : QAccessible::CheckBox) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isChecked();
        state.pressed = button()->isDown();
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return QString(button()->text()).remove(u'&'); // without the mnemonic marker
        }
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        return QStringList{toggleAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& actionName) override {
        if (actionName != toggleAction()) {
            QAccessibleWidget::doAction(actionName);
        } else if (button()->isEnabled()) {
            button()->click();
        }
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* makeControlAccessible(const QString& className, QObject* object) {
    if (auto* label = qobject_cast<QLabel*>(object); label != nullptr &&
                                                     className == QLatin1String("QLabel") &&
                                                     label->objectName() == kNoteLabelPlace.name) {
        return new NoteLabelAccessible(label);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(object);
        button != nullptr && button->isCheckable() &&
        qobject_cast<MainWindow*>(button->window()) != nullptr) {
        return new ClickingToggleAccessible(button);
    }
    return nullptr; // Qt's own interface
}

// The option buttons and the check box sit in boxes 45 to 100 pixels wide: a narrower gap
// between indicator and text leaves room for a larger, more readable font.
class CompactLabelStyle final : public QProxyStyle {
public:
    static constexpr int kLabelSpacingPx = 3;

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_RadioButtonLabelSpacing || metric == PM_CheckBoxLabelSpacing) {
            return kLabelSpacingPx;
        }
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// A titled frame whose title sits on its top line. Styles put the line below the title (Fusion
// a whole indicator's height below it), which in a 100-pixel frame with options from 15 pixels
// down runs through the first option; so the frame draws its own line.
class TitleOnLineFrame final : public QGroupBox {
public:
    static constexpr int kTitleIndentPx = 6;  // from the frame's left edge to the title's gap
    static constexpr int kTitlePaddingPx = 2; // blank on either side of the title on the line
    static constexpr qreal kCornerRadiusPx = 2.0;

    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        const int lineY = metrics.height() / 2; // through the middle of the title
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRoundedRect(QRectF(rect().adjusted(0, lineY, -1, -1)).translated(0.5, 0.5),
                                kCornerRadiusPx, kCornerRadiusPx);
        const QRect titleRect(kTitleIndentPx, 0,
                              metrics.horizontalAdvance(title()) + 2 * kTitlePaddingPx,
                              metrics.height());
        painter.fillRect(titleRect, palette().window());
        style()->drawItemText(&painter, titleRect, Qt::AlignCenter, palette(), isEnabled(), title(),
                              QPalette::WindowText);
    }
};

} // namespace

MainWindow::MainWindow(EventSink sink) : m_sink(std::move(sink)) {
    showDocument({}, false);
    setAcceptDrops(true); // a recording dropped on the window opens
    // Title bar, window menu, maximize and close boxes and a sizing border; no minimize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    createMenu();
    auto* client = new QWidget(this);
    setCentralWidget(client);
    createControls(client);
    createHints(client);
    fitFont();
    // Moves and releases that a drag brings over the area; the client's resizes.
    qApp->installEventFilter(this);
    setMinimumSize(kClientWidthPx, kClientHeightPx);
    resize(kClientWidthPx, kClientHeightPx);
    layOutClient();
}

bool MainWindow::textsFit() const {
    // Push buttons and the list: the text plus the style's margins (their size hints carry
    // a minimum width that has nothing to do with the text).
    for (const QPushButton* button : {m_recordToggle, m_playToggle, m_clearButton}) {
        // The widest text a toggle ever shows counts, not the one it starts with.
        const QString widest = button == m_recordToggle ? captionText(kRecordCaptions.down)
                               : button == m_playToggle ? captionText(kPlayCaptions.down)
                                                        : button->text();
        const int marginPx =
            2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        const QFontMetrics metrics = button->fontMetrics();
        if (metrics.horizontalAdvance(widest) + marginPx > button->width() ||
            metrics.height() > button->height()) {
            return false;
        }
    }
    // Option buttons and the check box: the text must fit the room the style leaves beside
    // the indicator.
    for (const QAbstractButton* option :
         {static_cast<const QAbstractButton*>(m_gridCheckBox),
          static_cast<const QAbstractButton*>(m_unrestrictedOption),
          static_cast<const QAbstractButton*>(m_majorOption),
          static_cast<const QAbstractButton*>(m_minorOption),
          static_cast<const QAbstractButton*>(m_pentatonicOption)}) {
        QStyleOptionButton styleOption;
        styleOption.initFrom(option);
        styleOption.text = option->text();
        const QStyle::SubElement contents =
            option == m_gridCheckBox ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents;
        const QRect room = option->style()->subElementRect(contents, &styleOption, option);
        const QFontMetrics metrics = option->fontMetrics();
        if (metrics.horizontalAdvance(option->text()) > room.width() ||
            metrics.height() > room.height()) {
            return false;
        }
    }
    // The root list: its widest name beside the arrow.
    QStyleOptionComboBox comboOption;
    comboOption.initFrom(m_rootNoteCombo);
    const QRect field = m_rootNoteCombo->style()->subControlRect(
        QStyle::CC_ComboBox, &comboOption, QStyle::SC_ComboBoxEditField, m_rootNoteCombo);
    const QFontMetrics comboMetrics = m_rootNoteCombo->fontMetrics();
    int widestNamePx = 0;
    for (int i = 0; i < m_rootNoteCombo->count(); ++i) {
        widestNamePx =
            std::max(widestNamePx, comboMetrics.horizontalAdvance(m_rootNoteCombo->itemText(i)));
    }
    return widestNamePx <= field.width() && comboMetrics.height() <= field.height();
}

void MainWindow::fitFont() {
    QWidget* client = centralWidget();
    QFont textFont = client->font();
    for (int px = kLargestFontPx; px >= kSmallestFontPx; --px) {
        textFont.setPixelSize(px);
        client->setFont(textFont);
        if (textsFit()) {
            return;
        }
    }
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->geometry();
    const QSize outer = window.frameGeometry().size();
    const int left = outer.width() > area.width() ? 0 : (area.width() - outer.width()) / 2;
    const int top = outer.height() > area.height() ? 0 : (area.height() - outer.height()) / 2;
    window.move(area.left() + left, area.top() + top);
}

void MainWindow::setRecording(bool down) {
    setToggle(*m_recordToggle, kRecordCaptions, down);
}

void MainWindow::setPlaying(bool down) {
    setToggle(*m_playToggle, kPlayCaptions, down);
}

void MainWindow::setPlayEnabled(bool enabled) {
    m_playToggle->setEnabled(enabled);
}

void MainWindow::setGrid(bool checked, bool enabled) {
    m_gridCheckBox->setChecked(checked);
    m_gridCheckBox->setEnabled(enabled);
}

void MainWindow::setRootEnabled(bool enabled) {
    m_rootNoteCombo->setEnabled(enabled);
}

void MainWindow::markVoiceType(VoiceType type) {
    m_menuType1->setChecked(type == VoiceType::Type1);
    m_menuType2->setChecked(type == VoiceType::Type2);
    m_vowelAxis->setLabels(vowelLabels(type));
}

void MainWindow::markTuning(Tuning tuning) {
    m_menuTuningClassic->setChecked(tuning == Tuning::Classic);
    m_menuTuningConcert->setChecked(tuning == Tuning::Concert);
}

void MainWindow::markMidiInChannel(int32_t channel) {
    m_midiInChannelMarked = channel;
    for (std::size_t item = 0; item < m_menuMidiInChannels.size(); ++item) {
        m_menuMidiInChannels[item]->setChecked(static_cast<int32_t>(item) == channel);
    }
}

void MainWindow::showStatus(const QString& text) {
    // The bar is made with the first line: a window that never needs one keeps its size. It
    // adds to the window's height, so that the controls keep theirs.
    if (text.isEmpty() && findChild<QStatusBar*>() == nullptr) {
        return;
    }
    QStatusBar* bar = statusBar();
    bar->showMessage(text);
    const bool show = !text.isEmpty();
    if (show == bar->isVisible()) {
        return;
    }
    const int barHeight = bar->sizeHint().height();
    if (show) {
        bar->setVisible(true);
        setMinimumHeight(minimumHeight() + barHeight);
        resize(width(), height() + barHeight);
    } else {
        bar->setVisible(false);
        setMinimumHeight(minimumHeight() - barHeight);
        resize(width(), height() - barHeight);
    }
}

void MainWindow::showNote(std::string_view name) {
    m_noteLabel->setText(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void MainWindow::paintCanvas(const CanvasPaint& paint) {
    m_drawingArea->paint(paint);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // A left button pressed elsewhere in the window keeps the drag's moves and release at the
    // widget it was pressed on (and Qt passes them on to its parents). Over the drawing area
    // they count as the area's own: the drag sings once it enters, a release there silences.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) {
        return false;
    }
    const QEvent::Type type = event->type();
    if (type == QEvent::Resize && widget == centralWidget()) {
        layOutClient();
        return false;
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress) {
        if (mouse->button() == Qt::LeftButton) {
            // Qt gives the drag to the widget under the pointer at the press.
            m_pressedWidget = QApplication::widgetAt(mouse->globalPosition().toPoint());
        }
        return false;
    }
    if (widget != m_pressedWidget) {
        return false; // a parent's copy of the same event, or no drag from outside
    }
    const bool release = type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton;
    if (release) {
        m_pressedWidget = nullptr;
    }
    if (widget == m_drawingArea || (!release && !(mouse->buttons() & Qt::LeftButton))) {
        return false; // the area reports its own drags
    }
    const QPoint pos = m_drawingArea->mapFromGlobal(mouse->globalPosition()).toPoint();
    if (m_drawingArea->rect().contains(pos)) {
        if (!release) {
            m_dragReachedArea = true;
            m_lastAreaPointPx = pos;
        }
        m_drawingArea->reportPointer(release ? PointerAction::LeftRelease : PointerAction::Move,
                                     pos, mouse->buttons());
    } else if (release && m_dragReachedArea) {
        // The drag sang over the area and ends elsewhere: the area hears the release at its
        // last point, or the voice would sound on until the next click in the area.
        m_drawingArea->reportPointer(PointerAction::LeftRelease, m_lastAreaPointPx,
                                     mouse->buttons());
    }
    if (release) {
        m_dragReachedArea = false;
    }
    return false; // the pressed widget still gets its event
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The dispatch decides whether the program ends; Qt must not close the window itself.
    event->ignore();
    m_sink(Event::close());
}

QAction* MainWindow::addMenuItem(QMenu* menu, std::string_view text, std::string_view name,
                                 int32_t id, bool checkable) {
    QAction* action =
        menu->addAction(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    action->setObjectName(QLatin1String(name.data(), static_cast<qsizetype>(name.size())));
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, [this, action, id, checkable](bool checked) {
        // Qt flips a checkable item before reporting it; the voice-type rule belongs to the
        // dispatch, so the mark goes back to where it was first.
        if (checkable) {
            action->setChecked(!checked);
        }
        m_sink(Event::menu(id));
    });
    return action;
}

namespace {

// A menu title with its Alt mnemonic on its first letter ("&File"); "?" has none to give.
QString menuTitleWithMnemonic(std::string_view title) {
    const QString text = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    return !text.isEmpty() && text.front().isLetter() ? u'&' + text : text;
}

// The desktop's keys for the items that have one.
QKeySequence shortcutOf(int32_t id) {
    switch (id) {
    case kMenuOpen:
        return QKeySequence(Qt::CTRL | Qt::Key_O);
    case kMenuSave:
        return QKeySequence(Qt::CTRL | Qt::Key_S);
    case kMenuUndo:
        return QKeySequence(Qt::CTRL | Qt::Key_Z);
    default:
        return {};
    }
}

} // namespace

void MainWindow::createMenu() {
    QMenuBar* bar = menuBar();
    const auto addMenu = [this, bar](const MenuCaption& caption) {
        QMenu* menu = bar->addMenu(menuTitleWithMnemonic(caption.title));
        for (const MenuItemCaption& item : caption.items) {
            QAction* action = addMenuItem(menu, item.caption, item.name, item.id, item.checkable);
            action->setShortcut(shortcutOf(item.id));
            if (item.id == kMenuType1) {
                m_menuType1 = action;
            } else if (item.id == kMenuType2) {
                m_menuType2 = action;
            } else if (item.id == kMenuUndo) {
                m_menuUndo = action;
            }
        }
        return menu;
    };
    for (const MenuCaption& caption : kMenus) {
        QMenu* menu = addMenu(caption);
        if (caption.title == kMenus.front().title) {
            addFileMenuExtras(menu);
            addMenu(kEditMenu);
        }
        if (caption.items.data() == kVoiceMenuItems.data()) {
            addTuningMenu(menu);
            addMidiMenu();
        }
    }
    m_menuType1->setChecked(true);
    m_menuUndo->setEnabled(false); // nothing to bring back yet
    // F10 opens the menu bar, the desktop's convention.
    auto* openMenuBar = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(openMenuBar, &QShortcut::activated, bar,
            [bar] { bar->setActiveAction(bar->actions().constFirst()); });
}

void MainWindow::addFileMenuExtras(QMenu* fileMenu) {
    // After the program's own items: the files opened or saved last, and Quit, which closes
    // the window as its close box does.
    fileMenu->addSeparator();
    m_recentMenu = fileMenu->addMenu(QStringLiteral("Open &Recent"));
    m_recentMenu->setObjectName(QStringLiteral("menuOpenRecent"));
    m_recentMenu->setEnabled(false);
    fileMenu->addSeparator();
    QAction* quit = fileMenu->addAction(QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("menuQuit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
}

void MainWindow::addTuningMenu(QMenu* voiceMenu) {
    voiceMenu->addSeparator();
    QMenu* tunings = voiceMenu->addMenu(menuTitleWithMnemonic(kTuningMenuTitle));
    tunings->setObjectName(QStringLiteral("menuTuning"));
    for (const MenuItemCaption& item : kTuningMenuItems) {
        QAction* action = addMenuItem(tunings, item.caption, item.name, item.id, item.checkable);
        (item.id == kMenuTuningClassic ? m_menuTuningClassic : m_menuTuningConcert) = action;
    }
    markTuning(Tuning::Classic);
}

void MainWindow::addMidiMenu() {
    QMenu* midiMenu = menuBar()->addMenu(menuTitleWithMnemonic(kMidiMenuTitle));
    QMenu* channels = midiMenu->addMenu(menuTitleWithMnemonic(kMidiInChannelMenuTitle));
    channels->setObjectName(QStringLiteral("menuMidiInChannel"));
    auto* group = new QActionGroup(channels); // exclusive: radio marks
    for (const MenuItemCaption& item : kMidiInChannelItems) {
        QAction* action = channels->addAction(
            QString::fromUtf8(item.caption.data(), static_cast<qsizetype>(item.caption.size())));
        action->setObjectName(
            QLatin1String(item.name.data(), static_cast<qsizetype>(item.name.size())));
        action->setCheckable(true);
        group->addAction(action);
        const int32_t id = item.id;
        connect(action, &QAction::triggered, this, [this, id] {
            // The group has moved the mark already; it stays where the program marked it
            // unless the program takes the choice (it drops events while Help is open).
            markMidiInChannel(m_midiInChannelMarked);
            m_sink(Event::menu(id));
        });
        m_menuMidiInChannels.at(static_cast<std::size_t>(
            midiInChannelOfMenuId(id).value_or(kMidiAllChannels))) = action;
    }
    markMidiInChannel(kMidiAllChannels);
}

void MainWindow::setOpenPathHandler(OpenPathHandler handler) {
    m_openPath = std::move(handler);
}

void MainWindow::setRecentFiles(const QStringList& paths) {
    m_recentMenu->clear();
    for (const QString& path : paths) {
        // The name first, where the eye looks for it; the folder after it.
        const QFileInfo file(path);
        QString text = file.fileName() + QStringLiteral("  —  ") + file.absolutePath();
        text.replace(u'&', QStringLiteral("&&")); // no mnemonic out of a name's ampersand
        QAction* action = m_recentMenu->addAction(text);
        action->setData(path);
        connect(action, &QAction::triggered, this, [this, path] {
            if (m_openPath) {
                m_openPath(path);
            }
        });
    }
    m_recentMenu->setEnabled(!paths.isEmpty());
}

void MainWindow::showDocument(const QString& path, bool unsaved) {
    // "*tune.sav — DoodleChorus": the mark first, where a long name cannot push it out of sight.
    QString title = QStringLiteral("DoodleChorus");
    if (!path.isEmpty()) {
        title = QFileInfo(path).fileName() + QStringLiteral(" \u2014 ") + title;
    }
    setWindowTitle(unsaved ? u'*' + title : title);
}

void MainWindow::setUndoEnabled(bool enabled) {
    m_menuUndo->setEnabled(enabled);
}

void MainWindow::showScale(ScaleMode mode, int rootIndex) {
    QRadioButton* option = m_unrestrictedOption;
    switch (mode) {
    case ScaleMode::Major:
        option = m_majorOption;
        break;
    case ScaleMode::Minor:
        option = m_minorOption;
        break;
    case ScaleMode::Pentatonic:
        option = m_pentatonicOption;
        break;
    case ScaleMode::Unrestricted:
        break;
    }
    const QSignalBlocker optionSignals(option);
    option->setChecked(true);
    const QSignalBlocker rootSignals(m_rootNoteCombo);
    m_rootNoteCombo->setCurrentIndex(rootIndex);
}

void MainWindow::showSpeed(int tenths) {
    const QSignalBlocker speedSignals(m_speedSlider);
    m_speedSlider->setValue(tenths);
    m_speedSlider->setAccessibleDescription(speedText(tenths));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.constFirst().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.constFirst().isLocalFile()) {
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop is over: Open may ask questions, and the drag source waits for the
    // drop's answer meanwhile.
    const QString path = urls.constFirst().toLocalFile();
    QMetaObject::invokeMethod(
        this,
        [this, path] {
            if (m_openPath) {
                m_openPath(path);
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::createControls(QWidget* client) {
    // Before any control exists: Qt keeps the first interface it makes for a widget.
    QAccessible::installFactory(makeControlAccessible); // once, however many windows
    m_compactStyle = new CompactLabelStyle;
    m_compactStyle->setParent(this);
    createButtons(client);
    createDrawingArea(client);
    createSpeedSlider(client);
    m_gridCheckBox = new QCheckBox(captionText(kControlLabels.grid), client);
    m_gridCheckBox->setStyle(m_compactStyle);
    place(m_gridCheckBox, kGridCheckBoxPlace, client);
    createScaleFrame(client);
    m_noteLabel = new QLabel(client);
    m_noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    place(m_noteLabel, kNoteLabelPlace, client);
    const QString noteName = captionText(kControlLabels.currentNote);
    m_noteLabel->setAccessibleName(noteName);
    m_noteLabel->setToolTip(noteName);

    // Tab follows the controls as they are seen: the three buttons from the top, the speed,
    // Grid, the scale options (one stop, at the selected one; the arrow keys move among
    // them), the root list.
    QWidget* previous = nullptr;
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_clearButton, m_recordToggle, m_playToggle, m_speedSlider,
                                         m_gridCheckBox, m_unrestrictedOption, m_majorOption,
                                         m_minorOption, m_pentatonicOption, m_rootNoteCombo}) {
        if (previous != nullptr) {
            setTabOrder(previous, control);
        }
        previous = control;
    }
    connectControls();
}

void MainWindow::createButtons(QWidget* client) {
    // A toggle's caption says what it is doing ("recording"); to a screen reader it keeps its
    // name, and being down is its checked state. Checkable before anything else: Qt makes a
    // widget's screen-reader interface at the first change it reports, and keeps it.
    auto makeToggle = [client](const ToggleCaptions& captions) {
        auto* toggle = new KeyboardButton(client);
        toggle->setCheckable(true);
        toggle->setAccessibleName(captionText(captions.up));
        toggle->setText(captionText(captions.up));
        return toggle;
    };
    m_recordToggle = makeToggle(kRecordCaptions);
    place(m_recordToggle, kRecordTogglePlace, client);
    m_playToggle = makeToggle(kPlayCaptions);
    place(m_playToggle, kPlayTogglePlace, client);
    m_clearButton = new KeyboardButton(captionText(kControlLabels.clear), client);
    place(m_clearButton, kClearButtonPlace, client);
}

void MainWindow::createDrawingArea(QWidget* client) {
    m_drawingArea = new DrawingArea(client);
    place(m_drawingArea, kDrawingAreaPlace, client);
    // It shows no text of its own: a name for screen readers, and the same as a tooltip.
    const QString areaName = captionText(kControlLabels.drawingArea);
    m_drawingArea->setAccessibleName(areaName);
    m_drawingArea->setToolTip(areaName);
}

void MainWindow::createHints(QWidget* client) {
    m_vowelAxis = new VowelAxis(client);
    m_vowelAxis->setObjectName(QStringLiteral("vowelAxis"));
    m_vowelAxis->setLabels(vowelLabels(VoiceType::Type1)); // the Voice menu's first check
    m_pitchAxis = new PitchAxis(client);
    m_pitchAxis->setObjectName(QStringLiteral("pitchAxis"));
    m_vowelAxis->hide();
    m_pitchAxis->hide();
}

void MainWindow::layOutClient() {
    QWidget* client = centralWidget();
    // The room beyond the default size; the menu bar's height is part of the default height.
    const int extraWidthPx = std::max(0, client->width() - kClientWidthPx);
    const int extraHeightPx = std::max(0, client->y() + client->height() - kClientHeightPx);
    // The controls beside the area keep their distance from the right edge and the top.
    for (const auto& [widget, where] : std::initializer_list<std::pair<QWidget*, ControlPlace>>{
             {m_clearButton, kClearButtonPlace},
             {m_recordToggle, kRecordTogglePlace},
             {m_playToggle, kPlayTogglePlace},
             {m_noteLabel, kNoteLabelPlace},
             {m_speedSlider, kSpeedSliderPlace},
             {m_gridCheckBox, kGridCheckBoxPlace},
             {m_scaleFrame, kScaleFramePlace}}) {
        widget->setGeometry(where.x + extraWidthPx, where.y, where.widthPx, where.heightPx);
    }
    // The axes take their room first, so that the area grows smoothly from its default size;
    // their labels show once the room is whole.
    const int vowelAxisWidthPx = std::min(extraWidthPx, kVowelAxisWidthPx);
    const int pitchAxisHeightPx = std::min(extraHeightPx, kPitchAxisHeightPx);
    const QRect area(kDrawingAreaPlace.x + vowelAxisWidthPx, kDrawingAreaPlace.y,
                     kDrawingAreaPlace.widthPx + extraWidthPx - vowelAxisWidthPx,
                     kDrawingAreaPlace.heightPx + extraHeightPx - pitchAxisHeightPx);
    m_drawingArea->setGeometry(area);
    const bool hints =
        vowelAxisWidthPx == kVowelAxisWidthPx && pitchAxisHeightPx == kPitchAxisHeightPx;
    // The vowel axis from the window's left edge to a small gap before the area; it reaches
    // above and below the area, where the names of its first and last rows stand.
    m_vowelAxis->setGeometry(0, 0, area.left() - kVowelAxisGapPx,
                             area.bottom() + 1 + pitchAxisHeightPx);
    m_vowelAxis->setRows(area.top(), area.height());
    m_pitchAxis->setGeometry(area.left(), area.bottom() + 1, area.width(), pitchAxisHeightPx);
    m_vowelAxis->setVisible(hints);
    m_pitchAxis->setVisible(hints);
    m_drawingArea->setPromptAllowed(hints);
}

void MainWindow::createSpeedSlider(QWidget* client) {
    m_speedSlider = new QSlider(Qt::Horizontal, client);
    m_speedSlider->setRange(kMinPlaySpeedTenths, kMaxPlaySpeedTenths);
    m_speedSlider->setValue(kMinPlaySpeedTenths);
    place(m_speedSlider, kSpeedSliderPlace, client);
    const QString speedName = captionText(kControlLabels.playbackSpeed);
    m_speedSlider->setAccessibleName(speedName);
    m_speedSlider->setToolTip(speedName);
    m_speedSlider->setAccessibleDescription(speedText(m_speedSlider->value()));
    connect(m_speedSlider, &QSlider::valueChanged, this,
            [this](int tenths) { m_speedSlider->setAccessibleDescription(speedText(tenths)); });
}

void MainWindow::createScaleFrame(QWidget* client) {
    // The options and the root list live inside the frame, so that screen readers hear them
    // as the "Scale" group; they keep their places in the client area.
    m_scaleFrame = new TitleOnLineFrame(captionText(kControlLabels.scale), client);
    place(m_scaleFrame, kScaleFramePlace, client);
    auto addOption = [&](ScaleMode mode, const ControlPlace& where) {
        auto* option = new QRadioButton(captionText(kScaleNames.at(static_cast<std::size_t>(mode))),
                                        m_scaleFrame);
        option->setStyle(m_compactStyle);
        place(option, where, client);
        return option;
    };
    m_unrestrictedOption = addOption(ScaleMode::Unrestricted, kUnrestrictedOptionPlace);
    m_majorOption = addOption(ScaleMode::Major, kMajorOptionPlace);
    m_minorOption = addOption(ScaleMode::Minor, kMinorOptionPlace);
    m_pentatonicOption = addOption(ScaleMode::Pentatonic, kPentatonicOptionPlace);
    auto* scaleGroup = new QButtonGroup(m_scaleFrame); // exactly one selected
    for (QRadioButton* option :
         {m_unrestrictedOption, m_majorOption, m_minorOption, m_pentatonicOption}) {
        scaleGroup->addButton(option);
    }
    m_unrestrictedOption->setChecked(true);

    m_rootNoteCombo = new QComboBox(m_scaleFrame);
    m_rootNoteCombo->setEditable(false);
    for (std::string_view name : noteNames) {
        m_rootNoteCombo->addItem(
            QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    m_rootNoteCombo->setCurrentIndex(0);
    m_rootNoteCombo->setEnabled(false);
    place(m_rootNoteCombo, kRootNoteComboPlace, client);
    // Qt on Linux names a list by its current item and takes the name from a label beside it;
    // the list has no such label, so the description says it there too.
    const QString rootName = captionText(kControlLabels.rootNote);
    m_rootNoteCombo->setAccessibleName(rootName);
    m_rootNoteCombo->setAccessibleDescription(rootName);
}

void MainWindow::connectControls() {
    // Only the user's own actions become events; programmatic changes raise none. Each carries
    // the value the user set; the record toggle and the drawing area also the time.
    auto forward = [this](int32_t id) { return [this, id] { m_sink(Event::control(id)); }; };
    connect(m_recordToggle, &QPushButton::clicked, this,
            [this](bool down) { m_sink(Event::recordToggle(down, monotonicMs())); });
    connect(m_playToggle, &QPushButton::clicked, this,
            [this](bool down) { m_sink(Event::playToggle(down)); });
    connect(m_clearButton, &QPushButton::clicked, this, forward(kClearButton));
    connect(m_speedSlider, &QSlider::valueChanged, this,
            [this](int tenths) { m_sink(Event::speedSlider(tenths)); });
    connect(m_gridCheckBox, &QCheckBox::clicked, this,
            [this](bool ticked) { m_sink(Event::gridBox(ticked)); });
    connect(m_unrestrictedOption, &QRadioButton::clicked, this, forward(kUnrestrictedOption));
    connect(m_majorOption, &QRadioButton::clicked, this, forward(kMajorOption));
    connect(m_minorOption, &QRadioButton::clicked, this, forward(kMinorOption));
    connect(m_pentatonicOption, &QRadioButton::clicked, this, forward(kPentatonicOption));
    connect(m_rootNoteCombo, &QComboBox::activated, this,
            [this](int index) { m_sink(Event::rootNote(index)); });
    connect(m_drawingArea, &DrawingArea::pointerEvent, this,
            [this](PointerAction action, int x, int y, int buttons) {
                m_sink(Event::pointerEvent(action, x, y, buttons, monotonicMs()));
            });
}

} // namespace doodle
