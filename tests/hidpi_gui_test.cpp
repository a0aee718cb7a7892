#include "GuiTestSupport.h"
#include "app/DrawingArea.h"

#include <QImage>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;
constexpr int kRatio = 2; // the binary's scale factor

using HiDpiTest = ProgramTest;

TEST_F(HiDpiTest, InkIsDrawnAtDevicePixelsNotPixelDoubled) {
    ASSERT_EQ(area->devicePixelRatio(), kRatio);
    EXPECT_EQ(area->size(), QSize(DrawingArea::kWidthPx, DrawingArea::kHeightPx));
    const QImage& image = area->image();
    EXPECT_EQ(image.size(), area->size() * kRatio);
    EXPECT_EQ(image.devicePixelRatio(), kRatio);

    press({100, 50});
    release({100, 50});
    ASSERT_EQ(program.drawing().ink, (std::vector<InkPoint>{{100, 50}}));
    // Every device pixel whose centre lies within the dot's radius (2 program pixels) of the
    // centre of program pixel (100, 50), and no other.
    for (int py = 90; py < 112; ++py) {
        for (int px = 190; px < 212; ++px) {
            const double dx = (px + 0.5) / kRatio - 100.5;
            const double dy = (py + 0.5) / kRatio - 50.5;
            const bool inside = dx * dx + dy * dy <= 4.0;
            EXPECT_EQ(image.pixel(px, py), inside ? kBlue : kWhite) << px << "," << py;
        }
    }
    // Pixel-doubled, rows 2k and 2k+1 would match; the finer disc has rows of its own.
    int rowsUnlikeTheirPair = 0;
    for (int py = 90; py < 112; py += 2) {
        for (int px = 190; px < 212; ++px) {
            if (image.pixel(px, py) != image.pixel(px, py + 1)) {
                ++rowsUnlikeTheirPair;
                break;
            }
        }
    }
    EXPECT_GT(rowsUnlikeTheirPair, 0);

    // The screen shows the image as it is.
    const QImage shown = area->grab().toImage();
    ASSERT_EQ(shown.size(), image.size());
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32).pixel(200, 101), kBlue);
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32).pixel(196, 96), kWhite);
}

} // namespace
} // namespace doodle::test
