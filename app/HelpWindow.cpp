#include "app/HelpWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <array>

namespace doodle {
namespace {

// Each piece begins with a line break; the ones marked kParagraphEnd also end with one.
struct HelpPiece {
    const char* text;
    bool paragraphEnd;
};
constexpr bool kParagraphEnd = true;
constexpr bool kRunsOn = false;

constexpr std::array<HelpPiece, 14> kHelpPieces{{
    {"*Left click in the rectangular window area of the application and drag to draw an image.",
     kParagraphEnd},
    {"*As you draw, a synthesized voice will sound following the drawing movement. Vowel "
     "sounds change along the Y axis",
     kRunsOn},
    {"sound and the pitch along the X axis. Releasing and pressing left mouse button stops and "
     "starts sound respectively.",
     kParagraphEnd},
    {"*Choose 'Major', 'Minor' or 'Pentatonic' for the pitch change to follow a scale, and "
     "choose the Note of the scale.",
     kParagraphEnd},
    {"*Press 'clear' button to wipe the image from the drawing area.", kParagraphEnd},
    {"*To record your drawing movement, press 'Record' button, perform drawing and press the "
     "button again to finish.",
     kParagraphEnd},
    {"*Play back your recording by pressing 'Play' button. Use slider to adjust speed of "
     "playback.",
     kParagraphEnd},
    {"*If you have chosen 'Major', 'Minor' or 'Pentatonic' settings, you can tick the Grid "
     "checkbox during drawing/recording.",
     kRunsOn},
    {"The Grid shows position of notes of the scale in the drawing space, to aid your "
     "composition.",
     kParagraphEnd},
    {"*To save your recording, choose 'File>Save'. To load a recording, choose 'File>Open'.",
     kParagraphEnd},
    {"*The application synthesizes the voice sound by feeding a sawtooth wave into a set of "
     "three parallel narrow band-pass",
     kRunsOn},
    {"filters, each tuned to a resonant frequency (formant), and combining the outputs. Choosing "
     "'Voice>Type1' or",
     kRunsOn},
    {"'Voice>Type2' option from the menu simply alters the bandwidth and frequency tunings of "
     "each of the filters, which",
     kRunsOn},
    {"results in the vowel sweeps sounding a little different.", kParagraphEnd},
}};

constexpr int kTextMarginPx = 5;
constexpr int kTextWidthPx = 610;
constexpr int kTextHeightPx = 360;

// The help text as one string: fourteen pieces, each beginning with a line break; a piece that
// also ends with one leaves an empty line before the next paragraph.
QString helpText() {
    const QChar lineBreak = u'\n';
    QString text;
    for (const HelpPiece& piece : kHelpPieces) {
        text += lineBreak;
        text += QString::fromLatin1(piece.text);
        if (piece.paragraphEnd) {
            text += lineBreak;
        }
    }
    return text;
}

// Qt gives a plain top-level widget the role of a client area ("filler" to AT-SPI): the Help
// window is a window.
QAccessibleInterface* makeHelpWindowAccessible(const QString& /*className*/, QObject* object) {
    auto* help = qobject_cast<HelpWindow*>(object);
    return help != nullptr ? new QAccessibleWidget(help, QAccessible::Window) : nullptr;
}

} // namespace

HelpWindow::HelpWindow() {
    // Before the window's interface is first asked for: Qt keeps the first one it makes.
    QAccessible::installFactory(makeHelpWindowAccessible); // once, however many windows
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("DoodleChorus Help"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(kClientWidthPx, kClientHeightPx);

    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("helpText"));
    text->setAccessibleName(QStringLiteral("Help text"));
    text->setGeometry(kTextMarginPx, kTextMarginPx, kTextWidthPx, kTextHeightPx);
    text->setReadOnly(true);
    // Lines wrap at the box's width, so none needs the horizontal scroll bar (which stays, idle).
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setPlainText(helpText());
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
    // Escape closes the window, as it does a dialog. The text box passes on the keys it does
    // not use.
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HelpWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

} // namespace doodle
