#include "GuiTestSupport.h"
#include "app/AxisHints.h"
#include "app/DrawingArea.h"

#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace doodle::test {
namespace {

constexpr QRgb kBlue = 0xff0000ff;
constexpr QSize kDefaultSize(380, 240);
// Within the offscreen screen (800×600), where a press finds the widget under it.
constexpr QSize kLargeSize(780, 580);

class WindowSizeTest : public ProgramTest {
protected:
    void resizeTo(QSize size) {
        w->resize(size);
        ASSERT_TRUE(processUntil([&] { return w->size() == size; }));
        QCoreApplication::processEvents();
    }
    QImage windowPicture() const { return w->grab().toImage(); }
    void stroke(QPoint pos) {
        press(pos);
        release(pos);
    }
    // Whether any pixel of the widget's picture differs from its top-left one.
    static bool showsSomething(QWidget* widget) {
        const QImage picture = widget->grab().toImage();
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                if (picture.pixel(x, y) != picture.pixel(0, 0)) {
                    return true;
                }
            }
        }
        return false;
    }
};

TEST_F(WindowSizeTest, ALargerWindowGrowsTheAreaMapsItsPointsShowsHintsAndReturnsExactly) {
    auto* vowelAxis = w->findChild<VowelAxis*>(QStringLiteral("vowelAxis"));
    auto* pitchAxis = w->findChild<PitchAxis*>(QStringLiteral("pitchAxis"));
    ASSERT_NE(vowelAxis, nullptr);
    ASSERT_NE(pitchAxis, nullptr);
    ASSERT_EQ(w->size(), kDefaultSize);
    const QRect clearDefault = ui.clearButton->geometry();
    const QRect frameDefault = ui.scaleFrame->geometry();
    const QPoint centredAt = w->pos();
    w->move(w->screen()->geometry().topLeft());
    const QImage emptyDefault = windowPicture();
    EXPECT_FALSE(vowelAxis->isVisible());
    EXPECT_FALSE(area->promptShown());

    // Larger: the controls keep their distance from the right edge and the top, the area
    // takes the rest, the hints show around it and the prompt over it.
    resizeTo(kLargeSize);
    const int extraWidthPx = w->centralWidget()->width() - MainWindow::kClientWidthPx;
    EXPECT_EQ(ui.clearButton->geometry(), clearDefault.translated(extraWidthPx, 0));
    EXPECT_EQ(ui.scaleFrame->geometry(), frameDefault.translated(extraWidthPx, 0));
    EXPECT_GT(area->width(), 2 * DrawingArea::kWidthPx);
    EXPECT_GT(area->height(), 2 * DrawingArea::kHeightPx);
    EXPECT_LT(area->geometry().right(), ui.scaleFrame->geometry().left());
    EXPECT_EQ(area->image().size(), area->size() * area->devicePixelRatio());
    EXPECT_TRUE(vowelAxis->isVisible());
    EXPECT_TRUE(pitchAxis->isVisible());
    EXPECT_TRUE(showsSomething(vowelAxis));
    EXPECT_TRUE(showsSomething(pitchAxis));
    EXPECT_LE(vowelAxis->geometry().right(), area->geometry().left());
    EXPECT_GT(pitchAxis->geometry().top(), area->geometry().bottom());
    std::vector<std::string> names;
    for (const VowelLabel& label : vowelAxis->labels()) {
        names.emplace_back(label.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ee", "a", "aw", "oo", "ah"}));
    ui.menuType2->trigger();
    EXPECT_EQ(std::string(vowelAxis->labels().front().name), "ih") << "the axis follows the type";
    ui.menuType1->trigger();
    EXPECT_TRUE(area->promptShown());
    EXPECT_TRUE(showsSomething(area)) << "the prompt over the white area";

    // Back at the default size nothing of it shows: every pixel as before.
    resizeTo(kDefaultSize);
    w->move(centredAt);
    EXPECT_EQ(area->size(), QSize(DrawingArea::kWidthPx, DrawingArea::kHeightPx));
    EXPECT_FALSE(vowelAxis->isVisible());
    EXPECT_EQ(windowPicture(), emptyDefault);

    // Dots drawn at the default size, then the same points drawn on the larger area: its
    // pixels map onto the program's coordinates.
    const std::vector<InkPoint> points = {{120, 100}, {239, 199}, {30, 40}};
    for (const InkPoint& point : points) {
        stroke({point.x, point.y});
    }
    EXPECT_FALSE(area->promptShown()) << "gone at the first press";
    const QImage drawnDefault = windowPicture();
    w->move(w->screen()->geometry().topLeft());
    resizeTo(kLargeSize);
    EXPECT_FALSE(area->promptShown());
    const QSize sizePx = area->size();
    stroke({sizePx.width() / 2, sizePx.height() / 2});
    stroke({sizePx.width() - 1, sizePx.height() - 1});
    // A drag pressed on the window's background reaches the area through the window.
    QWidget* client = w->centralWidget();
    const auto sendToClient = [client](QEvent::Type type, QPoint pos, Qt::MouseButton button,
                                       Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(pos), client->mapToGlobal(QPointF(pos)), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(client, &event);
    };
    const QPoint pressedOutside = ui.scaleFrame->geometry().bottomLeft() + QPoint(0, 5);
    sendToClient(QEvent::MouseButtonPress, pressedOutside, Qt::LeftButton, Qt::LeftButton);
    // The first area pixel whose program X is 30 and Y 40.
    const QPoint over =
        area->geometry().topLeft() +
        QPoint((30 * sizePx.width() + DrawingArea::kWidthPx - 1) / DrawingArea::kWidthPx,
               (40 * sizePx.height() + DrawingArea::kHeightPx - 1) / DrawingArea::kHeightPx);
    sendToClient(QEvent::MouseMove, over, Qt::NoButton, Qt::LeftButton);
    sendToClient(QEvent::MouseButtonRelease, over, Qt::LeftButton, Qt::NoButton);
    const std::vector<InkPoint>& ink = program.drawing().ink;
    ASSERT_EQ(ink.size(), 6u);
    EXPECT_EQ(ink[3], points[0]) << "the middle";
    EXPECT_EQ(ink[4], points[1]) << "the bottom-right pixel";
    EXPECT_EQ(ink[5], points[2]) << "through the window";
    // The dot at the middle, drawn at the area's scale: blue across several pixels.
    const qreal ratio = area->devicePixelRatio();
    const QPoint middlePx = QPoint(sizePx.width() / 2, sizePx.height() / 2) * ratio;
    EXPECT_EQ(area->image().pixel(middlePx), kBlue);
    EXPECT_EQ(area->image().pixel(middlePx + QPoint(4, 4) * ratio), kBlue);

    resizeTo(kDefaultSize);
    EXPECT_EQ(windowPicture(), drawnDefault) << "the same dots, every pixel as before";

    // Maximized, the window takes its screen and the area grows with it.
    w->showMaximized();
    ASSERT_TRUE(processUntil([&] { return w->width() > kDefaultSize.width(); }));
    EXPECT_GT(area->width(), DrawingArea::kWidthPx);
    w->showNormal();
}

} // namespace
} // namespace doodle::test
