#include "mapping/CanvasPaint.h"

#include <utility>

namespace doodle {
namespace {

void addGrid(CanvasPaint& paint, ScaleMode mode) {
    GridLines lines = gridLinesFor(mode);
    paint.push_back({CanvasStep::Kind::Columns, kGridLineColour, std::move(lines.lightX), {}});
    paint.push_back({CanvasStep::Kind::Columns, kOctaveLineColour, std::move(lines.darkX), {}});
}

void addInk(CanvasPaint& paint, std::span<const InkPoint> ink) {
    paint.push_back({CanvasStep::Kind::Dots, kInkColour, {}, ink});
}

} // namespace

CanvasPaint wholeCanvas(bool withGrid, ScaleMode mode, std::span<const InkPoint> ink) {
    CanvasPaint paint{{CanvasStep::Kind::Fill, kBackgroundColour, {}, {}}};
    if (withGrid) {
        addGrid(paint, mode);
    }
    addInk(paint, ink);
    return paint;
}

CanvasPaint gridOverCanvas(ScaleMode mode, std::span<const InkPoint> ink) {
    CanvasPaint paint;
    addGrid(paint, mode);
    addInk(paint, ink);
    return paint;
}

CanvasPaint oneDot(const InkPoint& dot) {
    return {{CanvasStep::Kind::Dots, kInkColour, {}, std::span<const InkPoint>(&dot, 1)}};
}

} // namespace doodle
