// The chart's picture as it leaves the chart: on the clipboard, on the screen, on a sharper
// screen, and with its caption layer over the traces.
#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "tests/display/KurvoTestSupport.h"

namespace rv8 {
namespace {

using namespace charttest;

TEST(Kurvo, CopyToClipboardPlacesThePicture) {
    auto k = MakeChart();
    const std::vector<int16_t> v = Frames(512, 1000, -1000);
    k->PlotBuffer(v[0], 2, 512);
    k->CopyToClipboard();
    const QImage clip = QGuiApplication::clipboard()->image();
    ASSERT_FALSE(clip.isNull());
    EXPECT_EQ(clip.size(), k->size());
    EXPECT_EQ(clip.convertToFormat(QImage::Format_RGB32), k->picture());
}

// What the screen shows of a chart inside a window: the same pixels as its picture, whether the
// whole chart is painted (composed straight into the window's backing store) or only a part of
// it (composed, then copied).
TEST(Kurvo, TheScreenShowsThePicture) {
    struct Case {
        const char* what;
        bool persistence;
        bool readouts;
        bool spectrum;
    };
    const Case cases[] = {
        {"traces, readouts", false, true, false},
        {"traces, no readouts", false, false, false},
        {"persistence", true, true, false},
        {"spectrum", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QWidget top;
        top.resize(kW + 40, kH + 30);
        auto* k = new Kurvo(&top);
        k->setGeometry(13, 7, kW, kH);
        k->TraceColor(0, 0x00FF0000);
        k->TraceColor(1, 0x000000C0);
        k->Readouts(c.readouts);
        k->PersistenceMode(c.persistence ? 1 : 0);
        top.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
        std::vector<int16_t> v;
        for (int i = 0; i < 4096; ++i) {
            v.push_back(static_cast<int16_t>(20000 * std::sin(i * 0.05)));
            v.push_back(static_cast<int16_t>(-9000 + (i % 97) * 150));
        }
        if (c.spectrum) {
            std::vector<int16_t> spectrum(2048);
            for (std::size_t i = 0; i < spectrum.size(); ++i)
                spectrum[i] = static_cast<int16_t>((i * 37) % 30000);
            k->PlotArray(spectrum);
        } else {
            k->PlotBuffer(v[0], 2, 4096);
        }
        const auto shown = [&] {
            return QGuiApplication::primaryScreen()
                ->grabWindow(top.winId(), 13, 7, kW, kH)
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        top.repaint();
        EXPECT_EQ(shown(), k->picture()) << "whole chart painted";
        if (!c.spectrum) k->PlotBuffer(v[400], 2, 3000);
        k->repaint(QRect(0, 0, kW, kH));
        EXPECT_EQ(shown(), k->picture()) << "chart repainted";
        k->repaint(QRect(100, 50, 60, 40));  // a part: the earlier pixels stay around it
        EXPECT_EQ(shown(), k->picture()) << "part of the chart repainted";
    }
}

TEST(KurvoReadoutLayer, HighDpiDrawsWithTwiceThePixelsNotEnlarged) {
    SharpKurvo k;
    k.resize(kW, kH);
    k.TraceColor(0, 0x00FF0000);
    const std::vector<int16_t> v = Frames(16384, 16383, 0);  // three quarters up
    k.PlotBuffer(v[0], 2, 16384);
    const QImage img = k.picture();
    EXPECT_EQ(img.size(), QSize(2 * kW, 2 * kH));
    EXPECT_EQ(img.devicePixelRatio(), 2.0);
    // The flat trace lies on one row of the sharper picture, not on two.
    const QRgb trace = k.drawColor(0).rgb() & 0xFFFFFFu;
    int rows = 0;
    for (int y = 0; y < img.height(); ++y)
        rows += (img.pixel(301, y) & 0xFFFFFFu) == trace;
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(img.pixel(301, ValueToRowFor(16383, 2 * kH)) & 0xFFFFFFu, trace);
}

TEST(KurvoReadoutLayer, TextsAreRenderedOnceWhileTheyStay) {
    auto k = MakeChart();
    GiveSettings(*k);
    const std::vector<int16_t> v = Frames(512, 1000, 0);
    k->PlotBuffer(v[0], 2, 512);
    k->picture();
    const int first = k->captionsRendered();
    EXPECT_GT(first, 5);  // scales, axis labels, record, markers
    for (int i = 0; i < 5; ++i) {
        k->PlotBuffer(v[0], 2, 512);
        k->picture();
    }
    EXPECT_EQ(k->captionsRendered(), first);
    k->HorizontalScale(2);  // a new time per division: one new text
    k->PlotBuffer(Frames(1024, 1000, 0)[0], 2, 1024);
    k->picture();
    EXPECT_GT(k->captionsRendered(), first);
}

TEST(KurvoReadoutLayer, TextIsBrightOnADarkBacking) {
    auto k = MakeChart();
    GiveSettings(*k);
    // A full-height noise trace under the caption at the foot.
    std::vector<int16_t> v;
    for (int i = 0; i < 16384; ++i) {
        v.push_back(static_cast<int16_t>(i % 2 ? 32767 : -32768));
        v.push_back(0);
    }
    k->PlotBuffer(v[0], 2, 16384);
    const QImage with = k->picture();
    k->Readouts(false);
    const QImage without = k->picture();
    // The "102.4 µs/div" caption's box at the lower left: no pure trace colour left in it,
    // and its text reaches near white.
    const QRect box(5, kH - 30, 60, 12);
    EXPECT_GT(CountColour(without, k->drawColor(0), box), 200);
    EXPECT_EQ(CountColour(with, k->drawColor(0), box), 0);
    int brightest = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            brightest = std::max(brightest, qGray(with.pixel(x, y)));
    EXPECT_GE(brightest, 220);
    EXPECT_EQ(k->readouts().perDivision, QString());  // off: none
}

TEST(KurvoReadoutLayer, ReadoutsOffDrawsThePictureWithoutThem) {
    auto with = MakeChart();
    auto plain = MakeChart();
    GiveSettings(*with);
    with->Readouts(false);
    const std::vector<int16_t> v = Frames(512, 1000, -1000);
    with->PlotBuffer(v[0], 2, 512);
    plain->Readouts(false);
    plain->PlotBuffer(v[0], 2, 512);
    EXPECT_EQ(with->picture(), plain->picture());
    with->Readouts(true);
    EXPECT_NE(with->picture(), plain->picture());
}

// A trace stays visible wherever it lies, also under the captions: the zeroed buffers at the
// bottom of the range showed only between the time labels, and a trace near the top vanished
// under the measurement strip.
TEST(KurvoReadoutLayer, ATraceStaysVisibleUnderTheCaptions) {
    struct Case {
        const char* what;
        int16_t value;
        kurvo::KurvoOverlay::Part under;
    };
    const Case cases[] = {
        {"the bottom of the range, under the time labels", -32768, kurvo::KurvoOverlay::Part::Axis},
        {"near the bottom, under the scales", -28400, kurvo::KurvoOverlay::Part::Scale},
        {"near the top, under the measurements", 30000, kurvo::KurvoOverlay::Part::Strip},
    };
    // The picture with the trace at `value`, and its caption boxes.
    auto draw = [](int16_t value, std::vector<kurvo::KurvoOverlay::Placed>* boxes) {
        auto k = MakeChart();
        GiveSettings(*k);
        measure::ChannelMeasurement m;
        m.frames = 4096;
        m.max = 1000;
        m.period = 100;
        k->Measurements(m, m);
        const std::vector<int16_t> v = Frames(512, value, 0);
        k->PlotBuffer(v[0], 2, 512);
        if (boxes != nullptr) *boxes = k->captionBoxes();
        return k->picture();
    };
    const int visible = qBlue(MakeChart()->drawColor(0).rgb()) / 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<kurvo::KurvoOverlay::Placed> boxes;
        const QImage with = draw(c.value, &boxes);
        const QImage without = draw(0, nullptr);  // the same captions, the trace elsewhere
        const int row = ValueToRowFor(c.value, kH);
        int inside = 0, seen = 0;
        for (const auto& box : boxes) {
            if (box.part != c.under || row < box.y || row >= box.y + box.h) continue;
            for (int x = box.x; x < box.x + box.w; ++x) {
                ++inside;
                // The trace adds at least a third of its blue (where no glyph covers it).
                seen += qBlue(with.pixel(x, row)) - qBlue(without.pixel(x, row)) >= visible;
            }
        }
        ASSERT_GT(inside, 30) << "no caption on row " << row;
        EXPECT_GT(seen, inside * 3 / 10) << seen << " of " << inside;
    }
}

}  // namespace
}  // namespace rv8
