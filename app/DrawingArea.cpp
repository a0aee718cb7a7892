#include "app/DrawingArea.h"

#include "mapping/DrawingSurface.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace doodle {
namespace {

QRgb qRgbOf(Rgb colour) {
    return qRgb(colour.red, colour.green, colour.blue);
}

// Only the left button draws; the others are not reported.
int32_t buttonBits(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton) ? kLeftButtonBit : 0;
}

} // namespace

DrawingArea::DrawingArea(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidthPx, kHeightPx);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent); // the image covers every pixel
    fill(kBackgroundColour);
}

void DrawingArea::paint(const CanvasPaint& paint) {
    for (const CanvasStep& step : paint) {
        switch (step.kind) {
        case CanvasStep::Kind::Fill:
            fill(step.colour);
            break;
        case CanvasStep::Kind::Columns:
            drawColumns(step.columnsX, step.colour);
            break;
        case CanvasStep::Kind::Dots:
            for (const InkPoint& dot : step.dots) {
                drawDot(dot, qRgbOf(step.colour));
            }
            break;
        }
    }
}

void DrawingArea::fill(Rgb colour) {
    m_image.fill(qRgbOf(colour));
    update();
}

void DrawingArea::drawDot(InkPoint dot, QRgb colour) {
    const int32_t x = dot.x;
    const int32_t y = dot.y;
    // A dot whose square misses the image draws nothing (and keeps x + dx from overflowing).
    if (x < -kInkDotRadiusPx || x > kWidthPx + kInkDotRadiusPx || y < -kInkDotRadiusPx ||
        y > kHeightPx + kInkDotRadiusPx) {
        return;
    }
    for (const PixelOffset& offset : inkDotPixels()) {
        const int px = x + offset.dx;
        const int py = y + offset.dy;
        if (m_image.valid(px, py)) {
            m_image.setPixel(px, py, colour);
        }
    }
    const int side = 2 * kInkDotRadiusPx + 1;
    update(QRect(x - kInkDotRadiusPx, y - kInkDotRadiusPx, side, side));
}

void DrawingArea::drawColumns(std::span<const int32_t> columnsX, Rgb colour) {
    const QRgb pixel = qRgbOf(colour);
    for (const int32_t x : columnsX) {
        if (x < 0 || x >= kWidthPx) {
            continue; // the line at X = 240 lies just outside the visible columns
        }
        for (int y = 0; y < kHeightPx; ++y) {
            m_image.setPixel(x, y, pixel);
        }
    }
    update();
}

void DrawingArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.drawImage(dirty, m_image, dirty);
}

void DrawingArea::mousePressEvent(QMouseEvent* event) {
    reportPointer(event->button() == Qt::LeftButton ? PointerAction::LeftPress
                                                    : PointerAction::Other,
                  event->position().toPoint(), event->buttons());
}

void DrawingArea::mouseMoveEvent(QMouseEvent* event) {
    reportPointer(PointerAction::Move, event->position().toPoint(), event->buttons());
}

void DrawingArea::mouseReleaseEvent(QMouseEvent* event) {
    reportPointer(event->button() == Qt::LeftButton ? PointerAction::LeftRelease
                                                    : PointerAction::Other,
                  event->position().toPoint(), event->buttons());
}

void DrawingArea::reportPointer(PointerAction action, QPoint pos, Qt::MouseButtons buttons) {
    // Pixel coordinates; outside the area while a drag goes past its edges.
    emit pointerEvent(action, pos.x(), pos.y(), buttonBits(buttons));
}

} // namespace doodle
