// The chart's mouse: the wheel and a drag change the shown channels' vertical ranges.
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "display/Kurvo.h"
#include "tests/display/KurvoTestSupport.h"

namespace rv8 {
namespace {

using namespace charttest;

TEST(Kurvo, RangePutsRaiseNothingButTheWheelDoesOnce) {
    auto k = MakeChart();
    QSignalSpy spy(k.get(), &Kurvo::RangeChanged);
    k->YMax(0, 32767);
    k->YMin(0, -32768);
    k->YMax(1, 32767);
    k->YMin(1, -32768);
    EXPECT_EQ(spy.count(), 0);

    SendWheel(k.get(), 120);  // one notch in: channel 1 only (the one shown)
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 0);
    EXPECT_EQ(spy.at(0).at(1).toInt(), 0);
    EXPECT_EQ(k->YMin(0), -16384);
    EXPECT_EQ(k->YMax(0), 16383);
    EXPECT_EQ(k->YMin(1), -32768);
    EXPECT_EQ(k->YMax(1), 32767);

    k->BothChannels(true);
    SendWheel(k.get(), -120);  // one notch out, both channels: still one event
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(k->YMin(0), -32768);
    EXPECT_EQ(k->YMax(0), 32767);
    EXPECT_EQ(k->YMin(1), -65536);
    EXPECT_EQ(k->YMax(1), 65535);

    SendWheel(k.get(), 60);  // half a notch: nothing yet
    EXPECT_EQ(spy.count(), 2);
    SendWheel(k.get(), 60);  // completes the notch
    EXPECT_EQ(spy.count(), 3);

    // At the narrowest range another notch in changes nothing and raises nothing.
    k->YMin(0, -8);
    k->YMax(0, 7);
    k->YMin(1, -8);
    k->YMax(1, 7);
    SendWheel(k.get(), 120);
    EXPECT_EQ(spy.count(), 3);
    EXPECT_EQ(k->YMax(0), 7);
}

TEST(Kurvo, DragMovesTheRangeAndRaisesOnceAtRelease) {
    auto k = MakeChart();
    k->ShownChannel(1);
    k->YMin(1, -1000);
    k->YMax(1, 1000);
    QSignalSpy spy(k.get(), &Kurvo::RangeChanged);
    QTest::mousePress(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseMove(k.get(), QPoint(100, 150));
    QTest::mouseMove(k.get(), QPoint(100, 200));
    EXPECT_EQ(spy.count(), 0);
    QTest::mouseRelease(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 300));
    EXPECT_EQ(spy.count(), 1);
    // 200 rows down of 400: up by half the span of 2000.
    EXPECT_EQ(k->YMin(1), 0);
    EXPECT_EQ(k->YMax(1), 2000);
    EXPECT_EQ(k->YMin(0), -32768);  // channel 1 is not shown and keeps its range

    // A click without movement changes nothing and raises nothing.
    QTest::mouseClick(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    EXPECT_EQ(spy.count(), 1);
}

void SendMove(QWidget* w, QPoint at, Qt::MouseButtons held) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                     held, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

// A drag whose release never reaches the chart (a message box opened during it took the
// release): what the chart sees next ends the drag where the button was last held, reports that
// range once, and a move without the button never pans.
TEST(Kurvo, ADragCutShortEndsAndReportsItsRange) {
    struct Case {
        const char* what;
        bool pressAgain;  // the next event is a new press (else a move without the button)
    };
    for (const Case& c : {Case{"move without the button", false}, Case{"a new press", true}}) {
        SCOPED_TRACE(c.what);
        auto k = MakeChart();
        k->YMin(0, -1000);
        k->YMax(0, 1000);
        QSignalSpy spy(k.get(), &Kurvo::RangeChanged);
        QTest::mousePress(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
        SendMove(k.get(), QPoint(100, 200), Qt::LeftButton);  // 100 rows down: up by 500
        EXPECT_EQ(k->YMin(0), -500);
        EXPECT_EQ(spy.count(), 0);
        // The button is released while the message box is up: the chart never hears of it.
        if (c.pressAgain) {
            QTest::mousePress(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 300));
            EXPECT_EQ(spy.count(), 1);
            QTest::mouseRelease(k.get(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 300));
        } else {
            SendMove(k.get(), QPoint(100, 380), Qt::NoButton);
            EXPECT_EQ(spy.count(), 1);
        }
        SendMove(k.get(), QPoint(100, 30), Qt::NoButton);
        SendMove(k.get(), QPoint(100, 390), Qt::NoButton);
        EXPECT_EQ(k->YMin(0), -500) << "a move without the button panned";
        EXPECT_EQ(k->YMax(0), 1500);
        EXPECT_EQ(spy.count(), 1);
    }
}

}  // namespace
}  // namespace rv8
