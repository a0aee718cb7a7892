#include "app/HelpWindow.h"

#include "program/HelpText.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>

namespace doodle {
namespace {

constexpr int kTextMarginPx = 5;
constexpr int kTextWidthPx = 610;
constexpr int kTextHeightPx = 360;

} // namespace

QString helpText() {
    return QString::fromStdString(programHelpText());
}

HelpWindow::HelpWindow() {
    setWindowTitle(QStringLiteral("DoodleChorus Help"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(kClientWidthPx, kClientHeightPx);

    m_helpText = new QPlainTextEdit(this);
    m_helpText->setGeometry(kTextMarginPx, kTextMarginPx, kTextWidthPx, kTextHeightPx);
    m_helpText->setReadOnly(true);
    // Lines wrap at the box's width, so none needs the horizontal scroll bar (which stays, idle).
    m_helpText->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_helpText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_helpText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_helpText->setPlainText(helpText());
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
