// The chart's readouts in the real window: on a fake instrument (exact numbers) and on the
// simulated instrument (the library the program loads), read through Kurvo::readouts() after a
// display pass. With RV8_SHOT_DIR set, the Shots case also saves pictures of the window there.
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTest>

#include <cmath>

#include "core/Ui.h"
#include "tests/app/FormFixture.h"
#include "tests/app/SimFormFixture.h"

// QString in failure messages as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace rv8::testing {
namespace {

void MoveMouse(QWidget* w, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

// The leading number of a readout text ("3.05 Vpp" -> 3.05, "1.000 kHz" -> 1000).
double NumberOf(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    double v = parts.value(0).toDouble();
    const QString unit = parts.value(1);
    if (unit.startsWith(QLatin1Char('k'))) v *= 1e3;
    if (unit.startsWith(QLatin1Char('m'))) v *= 1e-3;
    if (unit.startsWith(QChar(0xB5))) v *= 1e-6;
    return v;
}

// ---- On the fake instrument: 500000 samples/s, record 4096, post-trigger 2048 --------------

TEST_F(FormTest, TheTimeViewShowsItsScalesAndTheTriggerPoint) {
    Start();
    // Channel 1 a square of +/-3 V, 128 samples a period: 32 whole periods in the record.
    inst.sample = [](int ch, int32_t i) {
        return ch == 0 ? static_cast<uint16_t>((i / 64) % 2 ? 8192 : 57344) : uint16_t{32768};
    };
    form->Command2->click();
    const kurvo::Readouts& r = form->Kurvo1->readouts();
    EXPECT_EQ(r.perDivision, QStringLiteral("102.4 µs/div"));
    EXPECT_EQ(r.channel[0].voltsPerDivision, "CH1 1 V/div");
    EXPECT_TRUE(r.channel[1].voltsPerDivision.isEmpty());  // channel 2 is not shown
    EXPECT_EQ(r.info, "500 kS/s, 4096 samples");
    // Position 8192 of 16384 starts the window at frame 2048, the trigger point.
    EXPECT_EQ(r.triggerPointX, 0);
    ASSERT_EQ(r.axis.size(), 6u);
    EXPECT_EQ(r.axis[0].text, "0");
    EXPECT_EQ(r.axis[1].text, QStringLiteral("+204.8 µs"));
    EXPECT_EQ(r.axis[5].text, "+1.024 ms");
    EXPECT_EQ(r.channel[0].triggerLevelRow, 200);    // level 0 V, the centre row
    EXPECT_EQ(r.channel[0].frequency, "3.906 kHz");  // 500000 / 128
    EXPECT_EQ(r.channel[0].period, QStringLiteral("256.0 µs"));
    EXPECT_EQ(r.channel[0].peakToPeak, "6.000 Vpp");
    EXPECT_EQ(r.channel[0].mean, "0.0000 V");
    EXPECT_EQ(r.channel[0].rms, "3.000 V cycle rms");  // over the 32 whole periods
    EXPECT_EQ(r.channel[0].meanLabel, "cycle mean");
    EXPECT_TRUE(r.channel[0].overRange.isEmpty());

    // Position 0: the trigger point lies half a record to the right, beyond the window.
    form->HScroll2->setValue(0);
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().triggerPointX, -1);
    EXPECT_EQ(form->Kurvo1->readouts().axis[0].text, "-4.096 ms");
    // Zoomed in by one notch: half the volts per division.
    form->Kurvo1->YMin(0, -16384);
    form->Kurvo1->YMax(0, 16383);
    EXPECT_EQ(form->Kurvo1->readouts().channel[0].voltsPerDivision, "CH1 500 mV/div");
}

TEST_F(FormTest, NoTriggerSourceMeansNoLevelMarker) {
    Start();
    SelectItem(*form->TrigSourceCombo, 2);  // "No Trig"
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[0].triggerLevelRow, -1);
    SelectItem(*form->TrigSourceCombo, 1);  // channel 2, which is not shown
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[1].triggerLevelRow, -1);
    form->Check4->click();
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[1].triggerLevelRow, 200);
}

TEST_F(FormTest, ASampleAtTheEndOfTheRangeIsNotedOverRange) {
    Start();
    inst.sample = [](int ch, int32_t i) {
        return ch == 0 && i == 2100 ? uint16_t{65535} : uint16_t{32768};
    };
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[0].overRange, "CH1 over range");
    // The window no longer shows that sample, but it is still in the record, as the minimum and
    // maximum are: still noted.
    form->HScroll2->setValue(16384);
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[0].overRange, "CH1 over range");
    inst.sample = [](int, int32_t) { return uint16_t{32768}; };
    form->Command2->click();
    EXPECT_TRUE(form->Kurvo1->readouts().channel[0].overRange.isEmpty());
}

// Before the first measurement the raw buffers hold zeros (the bottom of the range): a redraw
// then must neither measure them nor call them over range, in either view.
TEST_F(FormTest, NothingIsMeasuredOrOverRangeBeforeTheFirstRecord) {
    Start();
    for (QRadioButton* view : {form->Option1, form->Option2}) {
        view->click();  // redraws the buffers as they are
        const kurvo::ChannelReadouts& ch = form->Kurvo1->readouts().channel[0];
        EXPECT_TRUE(ch.overRange.isEmpty()) << ch.overRange.toStdString();
        EXPECT_TRUE(ch.mean.isEmpty()) << ch.mean.toStdString();
    }
    form->Option1->click();
    inst.sample = [](int, int32_t) { return uint16_t{0}; };
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().channel[0].overRange, "CH1 over range");
}

TEST_F(FormTest, ReadoutsAddNoDriverCallsToTheDisplayPass) {
    Start();
    form->Command2->click();
    const auto withReadouts = inst.calls;
    inst.clearCalls();
    form->Kurvo1->Readouts(false);
    form->Command2->click();
    EXPECT_EQ(inst.calls, withReadouts);
    EXPECT_TRUE(form->Kurvo1->readouts().perDivision.isEmpty());
}

TEST_F(FormTest, TheCursorReadoutFollowsTheMouseAndLeavesWithIt) {
    Start();
    form->Command2->click();
    Kurvo& k = *form->Kurvo1;
    MoveMouse(&k, QPoint(256, 100));
    // Column 256 of 512 is frame 256 after the trigger point: 512 µs at 500 kHz.
    EXPECT_EQ(k.readouts().cursorPosition, QStringLiteral("t +512.0 µs"));
    EXPECT_EQ(k.readouts().channel[0].cursor,
              "CH1 2.00 V");  // a quarter from the top, to a row of 20 mV
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&k, &leave);
    EXPECT_TRUE(k.readouts().cursorPosition.isEmpty());
    EXPECT_TRUE(k.readouts().channel[0].cursor.isEmpty());
}

TEST_F(FormTest, TheCopyCarriesTheReadouts) {
    Start();
    form->Command2->click();
    form->Command4->click();
    const QImage clip = QGuiApplication::clipboard()->image();
    EXPECT_EQ(clip.convertToFormat(QImage::Format_RGB32), form->Kurvo1->picture());
    form->Kurvo1->Readouts(false);
    EXPECT_NE(clip.convertToFormat(QImage::Format_RGB32), form->Kurvo1->picture());
}

// ---- On the simulated instrument ------------------------------------------------------------

using ChartOnSimulator = FormOnSimulator;

TEST_F(ChartOnSimulator, TheDefaultSineReadsAsGenerated) {
    Start();
    const kurvo::Readouts& r = single();  // 100 kS/s, 4096 samples, 40 periods
    EXPECT_EQ(r.perDivision, QStringLiteral("512 µs/div"));
    EXPECT_EQ(r.info, "100 kS/s, 4096 samples");
    const kurvo::ChannelReadouts& ch = r.channel[0];
    EXPECT_EQ(ch.frequency, "1.000 kHz");
    EXPECT_EQ(ch.period, "1.000 ms");
    EXPECT_EQ(ch.rms, "1.061 V cycle rms");
    // 3.00 V from crest to crest, and the 10 mV rms of noise on top at both crests.
    EXPECT_NEAR(NumberOf(ch.peakToPeak), 3.04, 0.04);
    EXPECT_NEAR(NumberOf(ch.mean), 0.0, 0.01);
    EXPECT_TRUE(ch.overRange.isEmpty());
}

TEST_F(ChartOnSimulator, ChopModeMeasuresTheSquareOnChannel2) {
    Start();
    SelectItem(*form->MeasureModeCombo, 2);  // chop
    SelectItem(*form->RecordlenthCombo, 0);  // 130000
    form->Check4->click();
    const kurvo::Readouts& r = single();
    EXPECT_EQ(r.info, "100 kS/s, 130000 samples");
    EXPECT_EQ(r.channel[0].frequency, "1.000 kHz");
    EXPECT_EQ(r.channel[1].frequency, "250.0 Hz");
    EXPECT_EQ(r.channel[1].period, "4.000 ms");
    EXPECT_EQ(r.channel[1].peakToPeak, "0.6000 Vpp");
    EXPECT_NEAR(NumberOf(r.channel[1].mean), 0.0, 0.008);  // AC coupling
    EXPECT_EQ(r.channel[1].voltsPerDivision, "CH2 200 mV/div");
    SelectItem(*form->SetCoupCh2Combo, 1);  // DC
    EXPECT_EQ(single().channel[1].mean, "0.1000 V");
}

TEST_F(ChartOnSimulator, AClippedSineIsNotedOverRange) {
    Start();
    form->SetSenseCh1DownButton->click();  // 4 V -> 2 V
    form->SetSenseCh1DownButton->click();  // -> 0.8 V: the 1.5 V sine clips
    ASSERT_EQ(form->SetSenseCh1TextBox->text(), "0.8");
    const kurvo::Readouts& r = single();
    EXPECT_EQ(r.channel[0].overRange, "CH1 over range");
    EXPECT_EQ(r.channel[0].voltsPerDivision, "CH1 200 mV/div");
    EXPECT_EQ(r.channel[0].frequency, "1.000 kHz");
}

TEST_F(ChartOnSimulator, TheSpectrumViewMarksThePeakBetweenBins) {
    struct Case {
        const char* maxFrequency;
        const char* axis1;
    };
    for (const Case& c : {Case{"200000", "10 kHz"}, Case{"1000000", "50 kHz"}}) {
        SCOPED_TRACE(c.maxFrequency);
        Start({{"RV8SIM_MAX_FREQ", c.maxFrequency}});
        form->Option2->click();
        const kurvo::Readouts& r = single();
        ASSERT_EQ(r.axis.size(), 6u);
        EXPECT_EQ(r.axis[0].text, "0");
        EXPECT_EQ(r.axis[1].text, c.axis1);
        const QStringList peak = r.channel[0].peak.split(QStringLiteral("  "));
        ASSERT_EQ(peak.size(), 2) << r.channel[0].peak.toStdString();
        EXPECT_NEAR(NumberOf(peak[0]), 1000.0, 20.0);  // within 2 %
        EXPECT_NEAR(NumberOf(peak[1]), 1.5, 0.04);     // the amplitude, within 1 % of 4 V
        EXPECT_EQ(r.channel[0].voltsPerDivision, "CH1 500 mV/div");
        TearDown();
    }
}

// Pictures of the window for a person to look at (RV8_SHOT_DIR=/some/folder).
TEST_F(ChartOnSimulator, Shots) {
    const QString dir = qEnvironmentVariable("RV8_SHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "RV8_SHOT_DIR not set";
    QDir().mkpath(dir);
    const QString tag = qEnvironmentVariable("RV8_SHOT_TAG");
    auto shoot = [&](const char* name) {
        form->show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(form->grab().save(QDir(dir).filePath(tag + name + QStringLiteral(".png"))));
        EXPECT_TRUE(form->Kurvo1->picture().save(
            QDir(dir).filePath(tag + name + QStringLiteral("-chart.png"))));
    };
    Start();
    single();
    shoot("1-default-single");
    MoveMouse(form->Kurvo1, QPoint(300, 120));
    shoot("2-cursor");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(form->Kurvo1, &leave);
    SelectItem(*form->MeasureModeCombo, 2);
    SelectItem(*form->RecordlenthCombo, 0);
    form->Check4->click();
    single();
    shoot("3-chop-130000");
    form->Check4->click();
    form->SetSenseCh1DownButton->click();
    form->SetSenseCh1DownButton->click();
    single();
    shoot("4-clipped");
    form->Check4->click();
    form->Option2->click();
    single();
    shoot("5-spectrum");
}

}  // namespace
}  // namespace rv8::testing
