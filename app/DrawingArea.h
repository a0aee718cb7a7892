#pragma once

#include "mapping/CanvasPaint.h"
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
    // Paints the steps into the image, one pixel for one, and repaints what they changed: a
    // dot only its square. Dots far outside the area draw nothing.
    void paint(const CanvasPaint& paint);

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
    void fill(Rgb colour);
    void drawColumns(std::span<const int32_t> columnsX, Rgb colour);
    void drawDot(InkPoint dot, QRgb colour);

    QImage m_image{kWidthPx, kHeightPx, QImage::Format_RGB32};
};

} // namespace doodle
