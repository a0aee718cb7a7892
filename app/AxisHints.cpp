#include "app/AxisHints.h"

#include <QPainter>
#include <algorithm>
#include <string_view>

namespace doodle {
namespace {

QString textOf(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Hints are muted: they explain and step back.
void setHintPen(QPainter& painter, const QWidget& widget) {
    painter.setPen(widget.palette().color(QPalette::PlaceholderText));
}

} // namespace

VowelAxis::VowelAxis(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void VowelAxis::setLabels(std::vector<VowelLabel> labels) {
    m_labels = std::move(labels);
    update();
}

void VowelAxis::setRows(int areaTopPx, int areaHeightPx) {
    m_areaTopPx = areaTopPx;
    m_areaHeightPx = areaHeightPx;
    update();
}

void VowelAxis::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    setHintPen(painter, *this);
    const int lineHeightPx = fontMetrics().height();
    for (const VowelLabel& label : m_labels) {
        const int rowPx = m_areaTopPx + label.y * m_areaHeightPx / kMaxPointY;
        // Centred on its row, pushed inside the widget at the ends.
        const int topPx = std::clamp(rowPx - lineHeightPx / 2, 0, height() - lineHeightPx);
        painter.drawText(QRect(0, topPx, width(), lineHeightPx), Qt::AlignRight | Qt::AlignVCenter,
                         textOf(label.name));
    }
}

PitchAxis::PitchAxis(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PitchAxis::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    setHintPen(painter, *this);
    const QRect box = rect();
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, textOf(kPitchAxisLowText));
    painter.drawText(box, Qt::AlignHCenter | Qt::AlignVCenter, textOf(kPitchAxisTitle));
    painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter, textOf(kPitchAxisHighText));
}

} // namespace doodle
