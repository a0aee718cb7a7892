#pragma once

#include <QWidget>

namespace doodle {

// "DoodleChorus Help": a window of 620×373 at first, which can be resized, filled by the help
// text ("helpText"), read-only and scrollable, its paragraphs wrapped at the box's width. Escape
// closes it. Screen readers hear a window.
class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidthPx = 620;
    static constexpr int kClientHeightPx = 373;
    // Room for a few words a line and a few lines.
    static constexpr int kMinimumWidthPx = 300;
    static constexpr int kMinimumHeightPx = 200;

    HelpWindow();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace doodle
