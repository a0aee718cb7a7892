#include "GuiTestSupport.h"
#include "app/DrawingArea.h"
#include "mapping/DrawingSurface.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace doodle::test {
namespace {

constexpr QRgb kWhite = 0xffffffff;
constexpr QRgb kBlue = 0xff0000ff;

class DrawingTest : public ProgramTest {
protected:
    int bluePixels() const {
        int count = 0;
        const QImage& image = area->image();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                count += image.pixel(x, y) == kBlue ? 1 : 0;
            }
        }
        return count;
    }
};

TEST_F(DrawingTest, AStrokeInksOneExactDotPerEventAndSingsTheClampedPoint) {
    press({100, 50});
    const QImage& image = area->image();
    // The dot: every pixel whose centre lies within 2 pixels of the point, nothing else.
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            const bool inside = dx * dx + dy * dy <= 4;
            EXPECT_EQ(image.pixel(100 + dx, 50 + dy), inside ? kBlue : kWhite) << dx << "," << dy;
        }
    }
    VoiceParams& voice = program.voice();
    EXPECT_FALSE(voice.released());
    EXPECT_DOUBLE_EQ(voice.pitchHz(), (100 + 10) * 2.5);
    EXPECT_DOUBLE_EQ(voice.formants().freqHz[0], 620.0); // end of the first vowel band, type 1

    drag({160, 50});  // a jump: a second dot, no line between
    drag({-30, 250}); // past the left and bottom edges
    drag({240, -5});  // exactly the right edge, above the top
    drag({300, 120}); // past the right edge
    const std::vector<InkPoint> expectedInk = {
        {100, 50}, {160, 50}, {0, 200}, {240, 0}, {240, 120}};
    EXPECT_EQ(program.drawing().ink, expectedInk);
    EXPECT_EQ(image.pixel(130, 50), kWhite) << "no line is drawn between two dots";
    EXPECT_EQ(image.pixel(0, 199), kBlue); // the clamped corner dot, clipped to the image
    EXPECT_EQ(image.pixel(239, 0), kBlue);
    EXPECT_EQ(program.drawing().pointX, 240);
    EXPECT_EQ(program.drawing().pointY, 120);
    EXPECT_DOUBLE_EQ(voice.pitchHz(), 625.0);

    release({300, 120});
    EXPECT_TRUE(voice.released());
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());
    EXPECT_EQ(program.drawing().ink.size(), expectedInk.size());
}

TEST_F(DrawingTest, ADragStartedOutsideTheAreaSingsOverItAndItsReleaseThereSilences) {
    // Pressed on the window's background: Qt keeps the drag's events at that widget.
    QWidget* client = w->centralWidget();
    auto sendToClient = [client](QEvent::Type type, QPoint pos, Qt::MouseButton button,
                                 Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(pos), client->mapToGlobal(QPointF(pos)), button, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(client, &event);
    };
    const QPoint areaOrigin = area->geometry().topLeft();
    sendToClient(QEvent::MouseButtonPress, {255, 100}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_TRUE(program.drawing().ink.empty());
    sendToClient(QEvent::MouseMove, areaOrigin + QPoint(90, 90), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(program.drawing().ink, (std::vector<InkPoint>{{90, 90}}));
    EXPECT_FALSE(program.voice().released());
    EXPECT_EQ(area->image().pixel(90, 90), kBlue);
    sendToClient(QEvent::MouseMove, {300, 100}, Qt::NoButton, Qt::LeftButton); // off the area
    EXPECT_EQ(program.drawing().ink.size(), 1u);
    sendToClient(QEvent::MouseButtonRelease, areaOrigin + QPoint(95, 95), Qt::LeftButton,
                 Qt::NoButton);
    EXPECT_TRUE(program.voice().released());
    EXPECT_EQ(program.drawing().ink.size(), 1u) << "a release adds no ink";
}

TEST_F(DrawingTest, ADragFromTheSliderReleasedOutsideTheAreaStillSilences) {
    // Real input through the window: pressed on the slider's handle, dragged over the area and
    // released back on the slider, while recording.
    QSlider* slider = ui.speedSlider;
    const QPoint handle(4, slider->height() / 2);
    const QPoint overArea = slider->mapFrom(w, area->mapTo(w, QPoint(60, 40)));
    click(ui.recordToggle);
    QTest::mousePress(slider, Qt::LeftButton, {}, handle);
    QTest::mouseMove(slider, overArea);
    EXPECT_FALSE(program.voice().released());
    ui.noteLabel->setText(QStringLiteral("C")); // the release must empty it
    QTest::mouseRelease(slider, Qt::LeftButton, {}, handle);
    EXPECT_TRUE(program.voice().released());
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());
    const std::vector<std::string> lines = program.recordingList().lineTexts();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, lines[1].rfind(';')), "60;40;1") << "released at its last point";

    // A drag that never reaches the area changes nothing.
    QTest::mousePress(slider, Qt::LeftButton, {}, handle);
    QTest::mouseMove(slider, handle + QPoint(20, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, handle);
    EXPECT_EQ(program.recordingList().size(), 2u);
    click(ui.recordToggle);
}

TEST_F(DrawingTest, MovesWithoutTheLeftButtonAndOtherButtonsDoNothing) {
    send(QEvent::MouseMove, {50, 50}, Qt::NoButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, {60, 60}, Qt::RightButton, Qt::RightButton);
    send(QEvent::MouseMove, {70, 70}, Qt::NoButton, Qt::RightButton);
    send(QEvent::MouseButtonRelease, {70, 70}, Qt::RightButton, Qt::NoButton);
    EXPECT_TRUE(program.drawing().ink.empty());
    EXPECT_EQ(bluePixels(), 0);
    EXPECT_TRUE(program.voice().released());
    EXPECT_EQ(program.voice().pitchHz(), 0.0);
}

TEST_F(DrawingTest, ScaleModesShowTheNoteAndTheReleaseEmptiesTheLabel) {
    QTest::mouseClick(ui.majorOption, Qt::LeftButton);
    press({10, 0});
    EXPECT_EQ(ui.noteLabel->text(), QStringLiteral("D"));
    EXPECT_NEAR(program.voice().pitchHz(), 58.271, 1e-3);
    drag({75, 0});
    EXPECT_EQ(ui.noteLabel->text(), QStringLiteral("C"));
    EXPECT_NEAR(program.voice().pitchHz(), 103.828, 1e-9);
    release({75, 0});
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());

    ui.menuType2->trigger(); // the voice type is read at every point
    press({75, 200});
    EXPECT_DOUBLE_EQ(program.voice().formants().freqHz[0], 700.0);
    EXPECT_DOUBLE_EQ(program.voice().formants().bwHz[0], 130.0);
    release({75, 200});
}

TEST_F(DrawingTest, ClearWipesTheAreaTheInkAndTheNoteLabel) {
    press({20, 20});
    release({20, 20});
    ASSERT_GT(bluePixels(), 0);
    ui.noteLabel->setText(QStringLiteral("C"));
    QTest::mouseClick(ui.clearButton, Qt::LeftButton);
    EXPECT_EQ(bluePixels(), 0);
    EXPECT_TRUE(program.drawing().ink.empty());
    EXPECT_TRUE(ui.noteLabel->text().isEmpty());
}

} // namespace
} // namespace doodle::test
