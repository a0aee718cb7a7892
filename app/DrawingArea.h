#pragma once

#include "mapping/CanvasPaint.h"
#include "mapping/DrawingSurface.h"
#include "mapping/Pointer.h"

#include <QImage>
#include <QWidget>
#include <vector>

namespace doodle {

// The drawing area: the program's 240×200 coordinates stretched over whatever size the window
// gives it, 240×200 pixels at the window's default size. It keeps what was painted (fills,
// columns and dots in program coordinates), draws it into its own image at device pixels and
// repaints only what changed; pointer events leave it as pointerEvent signals for the dispatch,
// in program coordinates.
class DrawingArea final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 240; // program coordinates across, and the default width
    static constexpr int kHeightPx = 200;

    explicit DrawingArea(QWidget* parent = nullptr);

    // The picture at device pixels: the area's size times its device pixel ratio, which the
    // image carries.
    const QImage& image() const { return m_image; }
    // Paints the steps into the picture and repaints what they changed: a dot only its
    // square. Dots far outside the area draw nothing.
    void paint(const CanvasPaint& paint);

    // Reports a pointer event that reached another widget while the left button was held and
    // the pointer was over this area; pos in the area's own pixels.
    void reportPointer(PointerAction action, QPoint pos, Qt::MouseButtons buttons);

    // Whether the prompt shows over the empty area: while the window has room for hints, until
    // the first press or the first ink.
    void setPromptAllowed(bool allowed);
    bool promptShown() const { return m_promptAllowed && !m_promptDismissed; }

signals:
    void pointerEvent(doodle::PointerAction action, int x, int y, int buttons);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // One column or dot as painted, in program coordinates (a column's y unused).
    struct Mark {
        enum class Kind { Column, Dot };
        Kind kind = Kind::Dot;
        int32_t x = 0;
        int32_t y = 0;
        QRgb colour = 0;
    };

    // Redraws the image from the marks when the area's size or device pixel ratio changed.
    void fitImage();
    void addDots(const CanvasStep& step);
    void drawColumn(int32_t x, QRgb colour);
    // Returns the area pixels the dot touched (empty when none).
    QRect drawDot(int32_t x, int32_t y, QRgb colour);
    void dismissPrompt();

    QRgb m_background =
        qRgb(kBackgroundColour.red, kBackgroundColour.green, kBackgroundColour.blue);
    std::vector<Mark> m_marks{}; // since the last fill, in the order painted
    QImage m_image{};            // made at the first fit
    bool m_promptAllowed = false;
    bool m_promptDismissed = false;
};

} // namespace doodle
