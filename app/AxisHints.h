#pragma once

#include "program/Hints.h"

#include <QWidget>
#include <vector>

namespace doodle {

// The vowel axis beside the drawing area: each vowel's name, right-aligned, level with its row.
class VowelAxis final : public QWidget {
    Q_OBJECT

public:
    explicit VowelAxis(QWidget* parent = nullptr);

    void setLabels(std::vector<VowelLabel> labels);
    // Where the area's rows lie in this widget: row 0 at areaTopPx, row kMaxPointY at the
    // bottom of areaHeightPx.
    void setRows(int areaTopPx, int areaHeightPx);
    const std::vector<VowelLabel>& labels() const { return m_labels; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<VowelLabel> m_labels{};
    int m_areaTopPx = 0;
    int m_areaHeightPx = 0;
};

// The pitch axis under the drawing area, as wide as the area: low at the left, high at the
// right, its title between.
class PitchAxis final : public QWidget {
    Q_OBJECT

public:
    explicit PitchAxis(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace doodle
