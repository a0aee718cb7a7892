#include "app/MainWindow.h"

#include "mapping/DrawingArea.h"
#include "mapping/DrawingSurface.h"
#include "recording/PlaySpeed.h"
#include "recording/Recorder.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace doodle {
namespace {

constexpr const char* kControlIdProperty = "controlId";
// Text size: the largest from kLargestFontPx down that lets every control show its whole text
// in its fixed box with the fonts of this desktop.
constexpr int kLargestFontPx = 12;
constexpr int kSmallestFontPx = 8;
// Where each control sits, in client pixels below the menu bar.
struct ControlPlace {
    int32_t id;
    int x, y, widthPx, heightPx;
};
constexpr ControlPlace kPlaces[] = {
    {kRecordToggle, 280, 28, 60, 20},
    {kPlayToggle, 280, 50, 60, 20},
    {kClearButton, 280, 5, 60, 20},
    {kDrawingArea, 10, 10, DrawingArea::kWidthPx, DrawingArea::kHeightPx},
    {kSpeedSlider, 275, 70, 75, 20},
    {kGridCheckBox, 300, 90, 60, 20},
    {kUnrestrictedOption, 265, 125, 80, 20},
    {kMajorOption, 265, 145, 45, 20},
    {kMinorOption, 265, 165, 45, 20},
    {kPentatonicOption, 265, 185, 100, 20},
    {kScaleFrame, 255, 110, 115, 100},
    {kNoteLabel, 350, 30, 20, 20},
    {kRootNoteCombo, 315, 155, 45, 20},
};

constexpr int kSpeedDecimals = 1;
constexpr char16_t kTimesSign = u'×';

// The speed as a screen reader says it: "1.0×" to "5.0×".
QString speedText(int tenths) {
    return QString::number(playSpeedFromTenths(tenths), 'f', kSpeedDecimals) + kTimesSign;
}

// A toggle's caption while up and while down.
struct ToggleCaptions {
    const char* up;
    const char* down;
};
constexpr ToggleCaptions kRecordCaptions{"record", "recording"};
constexpr ToggleCaptions kPlayCaptions{"play", "playing"};

void setToggle(QPushButton& toggle, const ToggleCaptions& captions, bool down) {
    toggle.setChecked(down);
    toggle.setText(QString::fromLatin1(down ? captions.down : captions.up));
}

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

QAccessibleInterface* makeNoteLabelAccessible(const QString& className, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (className != QLatin1String("QLabel") || label == nullptr ||
        label->property(kControlIdProperty).toInt() != kNoteLabel) {
        return nullptr; // Qt's own interface
    }
    return new NoteLabelAccessible(label);
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
    setWindowTitle(QStringLiteral("DoodleChorus"));
    // Title bar, window menu and close box; no minimize, maximize or sizing border.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    createMenu();
    auto* client = new QWidget(this);
    setCentralWidget(client);
    createControls(client);
    fitFont();
    qApp->installEventFilter(this); // moves and releases that a drag brings over the area
    setFixedSize(kClientWidthPx, kClientHeightPx);
}

bool MainWindow::textsFit() const {
    // Push buttons and the list: the text plus the style's margins (their size hints carry
    // a minimum width that has nothing to do with the text).
    for (const QPushButton* button : {m_recordToggle, m_playToggle, m_clearButton}) {
        // The widest text a toggle ever shows counts, not the one it starts with.
        const QString widest = button == m_recordToggle ? QString::fromLatin1(kRecordCaptions.down)
                               : button == m_playToggle ? QString::fromLatin1(kPlayCaptions.down)
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

QWidget* MainWindow::control(int32_t id) const {
    for (QWidget* child : centralWidget()->findChildren<QWidget*>()) {
        if (child->property(kControlIdProperty).toInt() == id) {
            return child;
        }
    }
    return nullptr;
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
}

void MainWindow::showNote(std::string_view name) {
    m_noteLabel->setText(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void MainWindow::repaintCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) {
    m_drawingArea->fillWhite();
    if (withGrid) {
        m_drawingArea->drawGridLines(gridLinesFor(mode));
    }
    m_drawingArea->redrawInk(ink);
}

void MainWindow::drawGridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink) {
    m_drawingArea->drawGridLines(gridLinesFor(mode));
    m_drawingArea->redrawInk(ink);
}

void MainWindow::drawDot(int32_t x, int32_t y) {
    m_drawingArea->drawInkDot(x, y);
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

QAction* MainWindow::addMenuItem(QMenu* menu, const char* text, int32_t id, bool checkable) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(id);
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

void MainWindow::createMenu() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    m_menuOpen = addMenuItem(file, "Open", kMenuOpen, false);
    m_menuSave = addMenuItem(file, "Save", kMenuSave, false);
    QMenu* voice = bar->addMenu(QStringLiteral("Voice"));
    m_menuType1 = addMenuItem(voice, "Type 1", kMenuType1, true);
    m_menuType2 = addMenuItem(voice, "Type 2", kMenuType2, true);
    QMenu* help = bar->addMenu(QStringLiteral("?"));
    m_menuAbout = addMenuItem(help, "About", kMenuAbout, false);
    m_menuHelp = addMenuItem(help, "Help", kMenuHelp, false);
    m_menuType1->setChecked(true);
    // F10 opens the menu bar, the desktop's convention; the items themselves keep no shortcuts.
    auto* openMenuBar = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(openMenuBar, &QShortcut::activated, bar,
            [bar] { bar->setActiveAction(bar->actions().constFirst()); });
}

void MainWindow::place(QWidget* widget, int32_t id) {
    widget->setProperty(kControlIdProperty, id);
    for (const ControlPlace& p : kPlaces) {
        if (p.id == id) {
            widget->setGeometry(p.x, p.y, p.widthPx, p.heightPx);
        }
    }
}

void MainWindow::createControls(QWidget* client) {
    // Before any control exists: Qt keeps the first interface it makes for a widget.
    QAccessible::installFactory(makeNoteLabelAccessible); // once, however many windows
    // Created in this order.
    m_recordToggle = new QPushButton(QString::fromLatin1(kRecordCaptions.up), client);
    m_recordToggle->setCheckable(true);
    place(m_recordToggle, kRecordToggle);

    m_playToggle = new QPushButton(QString::fromLatin1(kPlayCaptions.up), client);
    m_playToggle->setCheckable(true);
    place(m_playToggle, kPlayToggle);

    m_clearButton = new QPushButton(QStringLiteral("clear"), client);
    place(m_clearButton, kClearButton);

    m_drawingArea = new DrawingArea(client);
    place(m_drawingArea, kDrawingArea);

    m_speedSlider = new QSlider(Qt::Horizontal, client);
    m_speedSlider->setRange(kMinPlaySpeedTenths, kMaxPlaySpeedTenths);
    m_speedSlider->setValue(kMinPlaySpeedTenths);
    place(m_speedSlider, kSpeedSlider);

    m_gridCheckBox = new QCheckBox(QStringLiteral("Grid"), client);
    place(m_gridCheckBox, kGridCheckBox);

    m_unrestrictedOption = new QRadioButton(QStringLiteral("Unrestricted"), client);
    place(m_unrestrictedOption, kUnrestrictedOption);
    m_majorOption = new QRadioButton(QStringLiteral("Major"), client);
    place(m_majorOption, kMajorOption);
    m_minorOption = new QRadioButton(QStringLiteral("Minor"), client);
    place(m_minorOption, kMinorOption);
    m_pentatonicOption = new QRadioButton(QStringLiteral("Pentatonic"), client);
    place(m_pentatonicOption, kPentatonicOption);
    m_compactStyle = new CompactLabelStyle;
    m_compactStyle->setParent(this);
    for (QWidget* w :
         {static_cast<QWidget*>(m_gridCheckBox), static_cast<QWidget*>(m_unrestrictedOption),
          static_cast<QWidget*>(m_majorOption), static_cast<QWidget*>(m_minorOption),
          static_cast<QWidget*>(m_pentatonicOption)}) {
        w->setStyle(m_compactStyle);
    }
    auto* scaleGroup = new QButtonGroup(client); // exactly one selected
    for (QRadioButton* option :
         {m_unrestrictedOption, m_majorOption, m_minorOption, m_pentatonicOption}) {
        scaleGroup->addButton(option);
    }
    m_unrestrictedOption->setChecked(true);

    m_scaleFrame = new TitleOnLineFrame(QStringLiteral("Scale"), client);
    place(m_scaleFrame, kScaleFrame);
    m_scaleFrame->lower(); // drawn around the options, never over them

    m_noteLabel = new QLabel(client);
    m_noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    place(m_noteLabel, kNoteLabel);

    m_rootNoteCombo = new QComboBox(client);
    m_rootNoteCombo->setEditable(false);
    for (std::string_view name : noteNames) {
        m_rootNoteCombo->addItem(
            QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    }
    m_rootNoteCombo->setCurrentIndex(0);
    m_rootNoteCombo->setEnabled(false);
    place(m_rootNoteCombo, kRootNoteCombo);

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

    // Names for screen readers where a control shows no text of its own to name it, and the
    // same as a tooltip where it shows none at all.
    const QString areaName =
        QStringLiteral("Drawing area: left to right is pitch, top to bottom is vowel");
    m_drawingArea->setAccessibleName(areaName);
    m_drawingArea->setToolTip(areaName);
    const QString speedName = QStringLiteral("Playback speed");
    m_speedSlider->setAccessibleName(speedName);
    m_speedSlider->setToolTip(speedName);
    m_speedSlider->setAccessibleDescription(speedText(m_speedSlider->value()));
    connect(m_speedSlider, &QSlider::valueChanged, this,
            [this](int tenths) { m_speedSlider->setAccessibleDescription(speedText(tenths)); });
    // Qt on Linux names a list by its current item and takes the name from a label beside it;
    // the list has no such label, so the description says it there too.
    const QString rootName = QStringLiteral("Root note");
    m_rootNoteCombo->setAccessibleName(rootName);
    m_rootNoteCombo->setAccessibleDescription(rootName);
    const QString noteName = QStringLiteral("Current note");
    m_noteLabel->setAccessibleName(noteName);
    m_noteLabel->setToolTip(noteName);

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
