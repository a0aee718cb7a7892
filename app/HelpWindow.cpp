#include "app/HelpWindow.h"

#include "program/HelpText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

namespace doodle {
namespace {

constexpr int kTextMarginPx = 5;

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
    setMinimumSize(kMinimumWidthPx, kMinimumHeightPx);
    resize(kClientWidthPx, kClientHeightPx);

    auto* text = new QPlainTextEdit(this);
    text->setObjectName(QStringLiteral("helpText"));
    text->setAccessibleName(QStringLiteral("Help text"));
    text->setReadOnly(true);
    // Lines wrap at the box's width, so none needs the horizontal scroll bar (which stays, idle).
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setPlainText(QString::fromStdString(programHelpText()));
    // The box fills the window, so that a wider window shows longer lines.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kTextMarginPx, kTextMarginPx, kTextMarginPx, kTextMarginPx);
    layout->addWidget(text);
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
