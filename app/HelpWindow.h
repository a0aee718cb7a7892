#pragma once

#include <QWidget>

class QPlainTextEdit;

namespace doodle {

// The help text as one string: fourteen pieces, each beginning with a line break; a piece that
// also ends with one leaves an empty line before the next paragraph.
QString helpText();

// "DoodleChorus Help": a fixed 620×373 window with the help text, read-only and scrollable,
// wrapped at the box's width. Escape closes it.
class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidthPx = 620;
    static constexpr int kClientHeightPx = 373;

    HelpWindow();

    QPlainTextEdit* m_helpText = nullptr;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace doodle
