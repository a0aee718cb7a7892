#include "app/DrawingArea.h"

#include "mapping/DrawingSurface.h"
#include "program/Hints.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

namespace doodle {
namespace {

QRgb qRgbOf(Rgb colour) {
    return qRgb(colour.red, colour.green, colour.blue);
}

// Only the left button draws; the others are not reported.
int32_t buttonBits(Qt::MouseButtons buttons) {
    return (buttons & Qt::LeftButton) ? kLeftButtonBit : 0;
}

// An area position along one axis in program coordinates: 0 to `programPx` across `areaPx`,
// rounded down; positions outside the area stay outside, for the program to clamp.
int32_t toProgram(int localPx, int areaPx, int programPx) {
    if (areaPx <= 0) {
        return 0;
    }
    return static_cast<int32_t>(
        std::floor(static_cast<double>(localPx) * programPx / static_cast<double>(areaPx)));
}

} // namespace

DrawingArea::DrawingArea(QWidget* parent) : QWidget(parent) {
    resize(kWidthPx, kHeightPx);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent); // the image covers every pixel
    fitImage();
}

void DrawingArea::paint(const CanvasPaint& paint) {
    fitImage();
    for (const CanvasStep& step : paint) {
        switch (step.kind) {
        case CanvasStep::Kind::Fill:
            m_background = qRgbOf(step.colour);
            m_marks.clear();
            m_image.fill(m_background);
            update();
            break;
        case CanvasStep::Kind::Columns:
            for (const int32_t x : step.columnsX) {
                m_marks.push_back({Mark::Kind::Column, x, 0, qRgbOf(step.colour)});
                drawColumn(x, qRgbOf(step.colour));
            }
            update();
            break;
        case CanvasStep::Kind::Dots:
            addDots(step);
            break;
        }
    }
}

void DrawingArea::addDots(const CanvasStep& step) {
    const QRgb colour = qRgbOf(step.colour);
    if (step.dots.size() > 1) {
        // The whole ink again over new grid lines: a dot painted again covers exactly the
        // pixels it covered before, so its earlier mark can go, and the marks do not grow with
        // every repaint.
        std::set<std::tuple<int32_t, int32_t>> again;
        for (const InkPoint& dot : step.dots) {
            again.emplace(dot.x, dot.y);
        }
        std::erase_if(m_marks, [&](const Mark& mark) {
            return mark.kind == Mark::Kind::Dot && mark.colour == colour &&
                   again.contains({mark.x, mark.y});
        });
    }
    for (const InkPoint& dot : step.dots) {
        m_marks.push_back({Mark::Kind::Dot, dot.x, dot.y, colour});
        update(drawDot(dot.x, dot.y, colour));
    }
    if (!step.dots.empty()) {
        dismissPrompt(); // the area shows a drawing
    }
}

void DrawingArea::fitImage() {
    const qreal ratio = devicePixelRatioF();
    const QSize devicePx(qRound(width() * ratio), qRound(height() * ratio));
    if (m_image.size() == devicePx && m_image.devicePixelRatio() == ratio) {
        return;
    }
    m_image = QImage(devicePx, QImage::Format_RGB32);
    m_image.setDevicePixelRatio(ratio);
    m_image.fill(m_background);
    for (const Mark& mark : m_marks) {
        if (mark.kind == Mark::Kind::Column) {
            drawColumn(mark.x, mark.colour);
        } else {
            drawDot(mark.x, mark.y, mark.colour);
        }
    }
    update();
}

QRect DrawingArea::drawDot(int32_t x, int32_t y, QRgb colour) {
    // A dot whose square misses the area draws nothing (and keeps the sums below in range).
    if (x < -kInkDotRadiusPx || x > kWidthPx + kInkDotRadiusPx || y < -kInkDotRadiusPx ||
        y > kHeightPx + kInkDotRadiusPx) {
        return {};
    }
    // Every device pixel whose centre lies within the dot's radius of the centre of the
    // program pixel (x, y), measured in program pixels: at one device pixel for one program
    // pixel exactly inkDotPixels(), at finer scales a finer disc.
    const double scaleX = m_image.width() / static_cast<double>(kWidthPx); // device px a unit
    const double scaleY = m_image.height() / static_cast<double>(kHeightPx);
    const double centreX = x + 0.5;
    const double centreY = y + 0.5;
    const double radius = kInkDotRadiusPx;
    // The pixels whose centres lie within the dot's square.
    const auto first = [](double fromUnits, double scale) {
        return static_cast<int>(std::ceil(fromUnits * scale - 0.5));
    };
    const auto last = [](double toUnits, double scale) {
        return static_cast<int>(std::floor(toUnits * scale - 0.5));
    };
    const int left = std::max(0, first(centreX - radius, scaleX));
    const int right = std::min(m_image.width() - 1, last(centreX + radius, scaleX));
    const int top = std::max(0, first(centreY - radius, scaleY));
    const int bottom = std::min(m_image.height() - 1, last(centreY + radius, scaleY));
    if (left > right || top > bottom) {
        return {};
    }
    for (int py = top; py <= bottom; ++py) {
        const double dy = (py + 0.5) / scaleY - centreY;
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(py));
        for (int px = left; px <= right; ++px) {
            const double dx = (px + 0.5) / scaleX - centreX;
            if (dx * dx + dy * dy <= radius * radius) {
                line[px] = colour;
            }
        }
    }
    const qreal ratio = m_image.devicePixelRatio();
    return QRectF(left / ratio, top / ratio, (right - left + 1) / ratio, (bottom - top + 1) / ratio)
        .toAlignedRect();
}

void DrawingArea::drawColumn(int32_t x, QRgb colour) {
    if (x < 0 || x >= kWidthPx) {
        return; // the line at X = 240 lies just outside the visible columns
    }
    // One pixel of the desktop wide, at the column's left edge, however wide the area.
    const int left = static_cast<int>(std::floor(x * m_image.width() / double{kWidthPx}));
    const int widthPx = std::max(1, qRound(m_image.devicePixelRatio()));
    const int right = std::min(m_image.width(), left + widthPx);
    for (int y = 0; y < m_image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(y));
        std::fill(line + left, line + right, colour);
    }
}

void DrawingArea::setPromptAllowed(bool allowed) {
    if (allowed != m_promptAllowed) {
        m_promptAllowed = allowed;
        update();
    }
}

void DrawingArea::dismissPrompt() {
    if (!m_promptDismissed) {
        m_promptDismissed = true;
        if (m_promptAllowed) {
            update();
        }
    }
}

void DrawingArea::resizeEvent(QResizeEvent* /*event*/) {
    fitImage();
}

void DrawingArea::paintEvent(QPaintEvent* event) {
    fitImage(); // the window may have moved to a screen of another pixel ratio
    QPainter painter(this);
    const QRect dirty = event->rect();
    const qreal ratio = m_image.devicePixelRatio();
    painter.drawImage(QRectF(dirty), m_image,
                      QRectF(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio,
                             dirty.height() * ratio));
    if (promptShown()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                         QString::fromUtf8(kDrawPromptText.data(),
                                           static_cast<qsizetype>(kDrawPromptText.size())));
    }
}

void DrawingArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dismissPrompt();
    }
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
    // Outside the area while a drag goes past its edges; the program clamps.
    emit pointerEvent(action, toProgram(pos.x(), width(), kWidthPx),
                      toProgram(pos.y(), height(), kHeightPx), buttonBits(buttons));
}

} // namespace doodle
