#include "mapping/DrawingArea.h"

#include "mapping/DrawingSurface.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace doodle {
namespace {

int32_t buttonBits(Qt::MouseButtons buttons) {
    int32_t bits = 0;
    if (buttons & Qt::LeftButton) {
        bits |= kLeftButtonBit;
    }
    if (buttons & Qt::RightButton) {
        bits |= kRightButtonBit;
    }
    if (buttons & Qt::MiddleButton) {
        bits |= kMiddleButtonBit;
    }
    return bits;
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

void DrawingArea::drawInkDot(int x, int y) {
    constexpr QRgb kInkColour = 0xff0000ff; // RGB(0, 0, 255)
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

void DrawingArea::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.drawImage(dirty, m_image, dirty);
}

void DrawingArea::mousePressEvent(QMouseEvent* event) {
    report(event->button() == Qt::LeftButton ? PointerAction::LeftPress : PointerAction::Other,
           *event);
}

void DrawingArea::mouseMoveEvent(QMouseEvent* event) {
    report(PointerAction::Move, *event);
}

void DrawingArea::mouseReleaseEvent(QMouseEvent* event) {
    report(event->button() == Qt::LeftButton ? PointerAction::LeftRelease : PointerAction::Other,
           *event);
}

void DrawingArea::report(PointerAction action, const QMouseEvent& event) {
    // Pixel coordinates; outside the area while a drag goes past its edges.
    const QPoint pos = event.position().toPoint();
    emit pointerEvent(action, pos.x(), pos.y(), buttonBits(event.buttons()));
}

} // namespace doodle
