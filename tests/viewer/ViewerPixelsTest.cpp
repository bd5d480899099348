// A record looks in the viewer as it looked live: the scope's window (on the fake instrument)
// records an acquisition, and the viewer's chart, fed that record, shows the same pixels as the
// scope's chart did, in the time view and in the spectrum view.
#include <QRadioButton>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "core/Ui.h"
#include "display/KurvoText.h"
#include "tests/app/FormFixture.h"
#include "tests/tools/ToolRun.h"
#include "viewer/RecordView.h"

namespace rv8::testing {
namespace {

TEST_F(FormTest, TheViewerShowsARecordWithTheScopesPixels) {
    Start();
    // Samples that the recording keeps exactly (their two lowest bits clear): a sine on
    // channel 1 and a square on channel 2, 4096 frames, the whole record in view.
    inst.sample = [](int ch, int32_t i) {
        const double v = ch == 0 ? 20000 * std::sin(2 * std::numbers::pi * i / 200.0)
                                 : ((i / 300) % 2 ? 9000 : -7000);
        return static_cast<uint16_t>((32768 + static_cast<int>(std::lround(v))) & ~3);
    };
    SelectItem(*form->MeasureModeCombo, 2);  // chop: both channels measured
    form->Check4->click();                   // both channels shown
    form->HScroll3->setValue(form->HScroll3->maximum());
    const int32_t frames = form->HScroll3->maximum() * 512;
    ASSERT_EQ(frames, 4096);
    const QString path =
        QDir(QDir::tempPath())
            .filePath(QStringLiteral("rv8-pixels-%1.cvx").arg(QCoreApplication::applicationPid()));
    QFile::remove(path);
    form->Text1->setText(path);
    form->Check1->click();
    form->Command2->click();  // record 0: the time view
    const QImage time = form->Kurvo1->picture();
    const QString frequency = form->Kurvo1->readouts().channel[0].frequency;
    const kurvo::Readouts live = form->Kurvo1->readouts();
    form->Option2->click();
    form->Command2->click();  // record 1: the spectrum view
    const QImage spectrum = form->Kurvo1->picture();
    form->Check1->click();

    const RecordingReadResult r = ReadRecording(path.toStdString());
    // rv8rec measure reads the record as the scope's chart did, to the last digit.
    const ToolRun m = RunTool(EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec measure " +
                              Quote(path.toStdString()) + " --records 0");
    QFile::remove(path);
    ASSERT_EQ(r.records.size(), 2u);
    ASSERT_EQ(m.status, 0) << m.err;
    const QStringList lines = QString::fromStdString(m.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList head = lines[0].split(','), row = lines[1].split(',');
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        const auto value = [&](const char* name) {
            return row.value(head.indexOf(QStringLiteral("ch%1_%2").arg(c + 1).arg(name)))
                .toDouble();
        };
        const double step = kurvo::RecordStep(r.records[0].acquisition.channel[c].sensitivity);
        const kurvo::ChannelReadouts& ch = live.channel[c];
        EXPECT_EQ(kurvo::FrequencyText(value("freq_hz")), ch.frequency);
        EXPECT_EQ(kurvo::PeriodText(value("period_s")), ch.period);
        EXPECT_EQ(kurvo::VoltsText(value("vpp_v"), step, "Vpp"), ch.peakToPeak);
        EXPECT_EQ(kurvo::VoltsText(value("rms_v"), step, "V cycle rms"), ch.rms);
        EXPECT_EQ(kurvo::VoltsText(value("mean_v"), step), ch.mean);
        EXPECT_EQ(kurvo::VoltsText(value("min_v"), step), ch.min);
        EXPECT_EQ(kurvo::VoltsText(value("max_v"), step), ch.max);
        EXPECT_EQ(kurvo::DutyText(value("duty")), ch.duty);
        EXPECT_EQ(kurvo::EdgeTimeText(value("rise_s"), 2e-6), ch.rise);
    }
    Kurvo chart;
    chart.resize(form->Kurvo1->size());
    viewer::RecordView view(chart);
    view.setShown(true, true);
    view.setRecord(&r.records[0], r.header);
    view.refresh();
    EXPECT_EQ(chart.picture(), time);
    EXPECT_EQ(chart.readouts().channel[0].frequency, frequency);
    EXPECT_EQ(frequency, QStringLiteral("2.500 kHz"));  // 500 kS/s, 200 frames a period
    view.setMode(viewer::RecordView::Mode::Spectrum);
    view.setRecord(&r.records[1], r.header);
    view.refresh();
    EXPECT_EQ(chart.picture(), spectrum);
    // Not a picture of nothing: the traces are there.
    EXPECT_NE(time, spectrum);
}

}  // namespace
}  // namespace rv8::testing
