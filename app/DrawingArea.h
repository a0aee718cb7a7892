#pragma once

#include "mapping/DrawingSurface.h"
#include "mapping/Pointer.h"

#include <QImage>
#include <QWidget>
#include <span>

namespace doodle {

// The 240×200 canvas. It owns its image, paints into it and repaints only what changed;
// pointer events leave it as pointerEvent signals for the dispatch.
class DrawingArea final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 240;
    static constexpr int kHeightPx = 200;

    explicit DrawingArea(QWidget* parent = nullptr);

    const QImage& image() const { return m_image; }
    // Fills the whole area white.
    void fillWhite();
    // A filled blue dot of radius 2 centred on (x, y), pixel-exact; repaints only its square.
    // Points far outside the area draw nothing.
    void drawInkDot(int32_t x, int32_t y);
    // Vertical 1-pixel lines over the whole height: the light ones, then the dark ones.
    void drawGridLines(const GridLines& lines);
    // A dot at every point of the ink.
    void redrawInk(std::span<const InkPoint> ink);

    // Reports a pointer event that reached another widget while the left button was held and
    // the pointer was over this area; pos in area pixels.
    void reportPointer(PointerAction action, QPoint pos, Qt::MouseButtons buttons);

signals:
    void pointerEvent(doodle::PointerAction action, int x, int y, int buttons);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage m_image{kWidthPx, kHeightPx, QImage::Format_RGB32};
};

} // namespace doodle
