#include "GuiTestSupport.h"
#include "app/DrawingArea.h"
#include "recording/Recording.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;
constexpr QRgb kLight = 0xffc0c0c0;
constexpr QRgb kDark = 0xff800000;

class GridTest : public ProgramTest {
protected:
    void dot(int x, int y) {
        press({x, y});
        release({x, y});
    }

    // The colour of a whole column, or 0 when its pixels differ (away from row `skipY`).
    QRgb columnColour(int x, int skipY = -100) const {
        const QImage& image = area->image();
        const QRgb colour = image.pixel(x, skipY == 0 ? 199 : 0);
        for (int y = 0; y < image.height(); ++y) {
            if (std::abs(y - skipY) > 2 && image.pixel(x, y) != colour) {
                return 0;
            }
        }
        return colour;
    }
    std::set<int> columnsOf(QRgb colour) const {
        std::set<int> xs;
        for (int x = 0; x < area->image().width(); ++x) {
            if (columnColour(x) == colour) {
                xs.insert(x);
            }
        }
        return xs;
    }
};

TEST_F(GridTest, MajorDrawsLightStripEdgesDarkOctavesAndTheInkOnTop) {
    click(ui.majorOption);
    dot(70, 100);
    dot(33, 150);
    click(ui.gridCheckBox);
    ASSERT_TRUE(ui.gridCheckBox->isChecked());

    std::set<int> light;
    for (int x = 10; x < 240; x += 10) {
        if (x % 70 != 0) {
            light.insert(x);
        }
    }
    EXPECT_EQ(columnsOf(kLight), light); // 25 lines; X = 240 is outside, 4 lie under dark ones
    EXPECT_EQ(columnsOf(kDark), (std::set<int>{0, 140, 210})); // 70 carries a dot
    EXPECT_EQ(columnColour(70, 100), kDark);
    EXPECT_EQ(area->image().pixel(70, 100), kBlue);
    EXPECT_EQ(area->image().pixel(33, 150), kBlue);
    EXPECT_EQ(area->image().pixel(5, 5), kWhite);
}

TEST_F(GridTest, PentatonicLinesAre14PixelsApartWithTheOctavesInPlace) {
    click(ui.majorOption);
    click(ui.gridCheckBox);
    dot(120, 60);
    click(ui.pentatonicOption); // repaints: white, the new lines, the ink
    std::set<int> light;
    for (int x = 14; x < 240; x += 14) {
        if (x % 70 != 0) {
            light.insert(x);
        }
    }
    EXPECT_EQ(columnsOf(kLight), light);
    EXPECT_EQ(columnsOf(kDark), (std::set<int>{0, 70, 140, 210}));
    EXPECT_EQ(columnColour(10), kWhite) << "the Major lines are gone";
    EXPECT_EQ(area->image().pixel(120, 60), kBlue);
}

TEST_F(GridTest, UntickingRemovesTheGridAndPlayedDotsButKeepsTheInk) {
    click(ui.minorOption);
    dot(50, 50);
    click(ui.gridCheckBox);
    area->paint(oneDot({200, 20})); // a dot as playback draws it: not in the ink list
    click(ui.gridCheckBox);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
    EXPECT_TRUE(columnsOf(kLight).empty());
    EXPECT_TRUE(columnsOf(kDark).empty());
    EXPECT_EQ(area->image().pixel(200, 20), kWhite);
    EXPECT_EQ(area->image().pixel(50, 50), kBlue);
}

TEST_F(GridTest, EachRepaintBringsBackWhatItShould) {
    click(ui.majorOption);
    dot(35, 35);
    area->paint(oneDot({105, 105})); // played dot
    click(ui.minorOption);           // Grid not ticked: no repaint at all
    EXPECT_EQ(area->image().pixel(105, 105), kBlue);

    click(ui.gridCheckBox); // ticked: lines over the picture, played dot stays
    EXPECT_EQ(area->image().pixel(105, 105), kBlue);
    EXPECT_EQ(columnColour(140), kDark);

    click(ui.unrestrictedOption); // white, ink only, Grid unticked and disabled
    EXPECT_TRUE(columnsOf(kDark).empty());
    EXPECT_EQ(area->image().pixel(105, 105), kWhite);
    EXPECT_EQ(area->image().pixel(35, 35), kBlue);

    click(ui.majorOption);
    click(ui.gridCheckBox);
    click(ui.clearButton); // white, the grid again, no ink
    EXPECT_EQ(area->image().pixel(35, 35), kWhite);
    EXPECT_EQ(columnColour(70), kDark);
    EXPECT_TRUE(program.drawing().ink.empty());

    dot(95, 95);
    click(ui.playToggle); // white, no grid, no ink; Grid unticked and disabled
    EXPECT_TRUE(columnsOf(kDark).empty());
    EXPECT_EQ(area->image().pixel(95, 95), kWhite);
    EXPECT_FALSE(ui.gridCheckBox->isChecked());
}

TEST_F(GridTest, InkOfOpenedLinesIsRedrawnAtItsFieldsRoundedHalfToEven) {
    area->paint(wholeCanvas(false, ScaleMode::Unrestricted, {}));
    const Recording lines{"17.6;40", "18.5;60;0;1234", "-1e9;5", "nan;7", "abc"};
    std::vector<InkPoint> ink;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ink.push_back({lines.event(i).x, lines.event(i).y});
    }
    area->paint(wholeCanvas(false, ScaleMode::Unrestricted, ink));
    EXPECT_EQ(area->image().pixel(18, 40), kBlue);
    EXPECT_EQ(area->image().pixel(20, 40), kBlue) << "centred on 18, radius 2";
    EXPECT_EQ(area->image().pixel(21, 40), kWhite);
    EXPECT_EQ(area->image().pixel(16, 60), kBlue); // 18.5 rounds to 18
    EXPECT_EQ(area->image().pixel(21, 60), kWhite);
    EXPECT_EQ(area->image().pixel(0, 0), kBlue) << "an unreadable entry is a dot at (0, 0)";
}

} // namespace
} // namespace doodle::test
