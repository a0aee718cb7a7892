#include "app/DrawingArea.h"

#include "mapping/DrawingSurface.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace doodle {
namespace {

constexpr QRgb kInkColour = 0xff0000ff;        // RGB(0, 0, 255)
constexpr QRgb kGridLineColour = 0xffc0c0c0;   // RGB(192, 192, 192), strip edges
constexpr QRgb kOctaveLineColour = 0xff800000; // RGB(128, 0, 0), octave starts

// Only the left button draws; the others are not reported.
int32_t buttonBits(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton) ? kLeftButtonBit : 0;
}

} // namespace

DrawingArea::DrawingArea(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWidthPx, kHeightPx);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent); // the image covers every pixel
    m_image.fill(Qt::white);
}

void DrawingArea::fillWhite() {
    m_image.fill(Qt::white);
    update();
}

void DrawingArea::drawInkDot(int32_t x, int32_t y) {
    // A dot whose square misses the image draws nothing (and keeps x + dx from overflowing).
    if (x < -kInkDotRadiusPx || x > kWidthPx + kInkDotRadiusPx || y < -kInkDotRadiusPx ||
        y > kHeightPx + kInkDotRadiusPx) {
        return;
    }
    for (const PixelOffset& offset : inkDotPixels()) {
        const int px = x + offset.dx;
        const int py = y + offset.dy;
        if (m_image.valid(px, py)) {
            m_image.setPixel(px, py, kInkColour);
        }
    }
    const int side = 2 * kInkDotRadiusPx + 1;
    update(QRect(x - kInkDotRadiusPx, y - kInkDotRadiusPx, side, side));
}

void DrawingArea::drawGridLines(const GridLines& lines) {
    auto drawColumn = [this](int32_t x, QRgb colour) {
        if (x < 0 || x >= kWidthPx) {
            return; // the line at X = 240 lies just outside the visible columns
        }
        for (int y = 0; y < kHeightPx; ++y) {
            m_image.setPixel(x, y, colour);
        }
    };
    for (int32_t x : lines.lightX) {
        drawColumn(x, kGridLineColour);
    }
    for (int32_t x : lines.darkX) {
        drawColumn(x, kOctaveLineColour);
    }
    update();
}

void DrawingArea::redrawInk(std::span<const InkPoint> ink) {
    for (const InkPoint& point : ink) {
        drawInkDot(point.x, point.y);
    }
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
