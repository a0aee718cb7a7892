#pragma once

#include <QWidget>

namespace doodle {

// "DoodleChorus Help": a fixed 620×373 window with the help text ("helpText"), read-only and
// scrollable, wrapped at the box's width. Escape closes it. Screen readers hear a window.
class HelpWindow final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidthPx = 620;
    static constexpr int kClientHeightPx = 373;

    HelpWindow();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace doodle
