// Each acquisition carried whole through the window on the simulated instrument: the settings
// its samples were taken with and the time its measurement ended reach the chart's readouts and
// the recording, also on a redraw made after a setting changed, and reach the tools' exports.
#include <chrono>
#include <functional>
#include <map>

#include <QTemporaryDir>

#include "core/Ui.h"
#include "display/KurvoText.h"
#include "logging/RecordingFile.h"
#include "tests/app/SimFormFixture.h"
#include "tests/tools/ToolRun.h"

namespace rv8::testing {
namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class AcquisitionOnSimulator : public FormOnSimulator {
  protected:
    QTemporaryDir dir;
    QString file;

    void Record(const char* name) {
        file = dir.filePath(QString::fromLatin1(name));
        form->Text1->setText(file);
        form->Check1->click();
        ASSERT_TRUE(form->writer().isOpen());
    }
    RecordingReadResult Stop() {
        form->Check1->click();
        return ReadRecording(file.toStdString());
    }
};

TEST_F(AcquisitionOnSimulator, ARedrawIsRecordedWithTheSettingsOfTheAcquisitionItRedraws) {
    Start();
    Record("redraw.cvx");
    const int64_t before = NowUs();
    form->Command2->click();  // "Single" at 100000 samples/s: the 1 kHz sine
    const int64_t after = NowUs();
    form->SetSampleFreqTextBox->setText(QStringLiteral("50000"));
    ASSERT_EQ(form->GetSampleFreqTextBox->text(), " 50000");
    form->Command1->click();  // "Default!": a redraw of the same samples, recorded
    const kurvo::Readouts& shown = form->Kurvo1->readouts();
    EXPECT_EQ(shown.channel[0].frequency, "1.000 kHz");
    EXPECT_EQ(shown.info, "100 kS/s, 4096 samples");
    const RecordingReadResult r = Stop();

    ASSERT_EQ(r.records.size(), 2u);
    const RecordingRecord& first = r.records[0];
    const RecordingRecord& redraw = r.records[1];
    EXPECT_EQ(first.sampleRate, 100000);
    EXPECT_EQ(redraw.sampleRate, 100000);
    EXPECT_EQ(redraw.samples, first.samples);
    EXPECT_EQ(redraw.acquisition, first.acquisition);
    EXPECT_EQ(redraw.timeUs, first.timeUs);  // when the measurement ended, not the redraw
    EXPECT_GE(redraw.writtenUs, first.writtenUs);
    EXPECT_GE(first.timeUs, before);
    EXPECT_LE(first.timeUs, after);

    // The settings after start-up, as the record keeps them.
    Acquisition expected;
    expected.number = first.acquisition.number;
    expected.endTimeUs = first.timeUs;
    expected.sampleFrequency = 100000;
    expected.recordLength = 4096;
    expected.postSamples = form->PostSamples();
    expected.measureMode = acq::kModeChannel1;
    expected.triggerSource = acq::kSourceChannel1;
    expected.triggerSlope = acq::kRising;
    expected.channel[0] = {4, 0, 0.5, acq::kAC};
    expected.channel[1] = {0.8, 0, 0.1, acq::kAC};
    EXPECT_EQ(first.acquisition, expected);

    // The tools see one rate, so the audio export takes the file.
    const std::string rv8rec = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    const ToolRun info = RunTool(rv8rec + " info " + Quote(file.toStdString()));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Record rates:    100000 Hz\n"), std::string::npos) << info.out;
    const std::string wav = dir.filePath(QStringLiteral("redraw.wav")).toStdString();
    const ToolRun exported =
        RunTool(rv8rec + " export " + Quote(file.toStdString()) + " --format wav -o " + Quote(wav));
    EXPECT_EQ(exported.status, 0) << exported.err;

    // The next acquisition is taken, shown and recorded at the new rate.
    Record("next.cvx");
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->readouts().info, "50 kS/s, 4096 samples");
    EXPECT_EQ(Stop().records.at(0).sampleRate, 50000);
}

// Each setting changed between two acquisitions reaches the next record, and only it.
TEST_F(AcquisitionOnSimulator, EveryRecordKeepsTheSettingsItsSamplesWereTakenWith) {
    struct Case {
        const char* name;
        std::function<void(Form1&)> change;
        std::function<void(Acquisition&)> expect;  // the change, on the previous record's value
    };
    const Case cases[] = {
        {"DC on channel 2", [](Form1& f) { SelectItem(*f.SetCoupCh2Combo, 1); },
         [](Acquisition& a) { a.channel[1].coupling = acq::kDC; }},
        {"channel 1 level up", [](Form1& f) { f.TrigLevelCh1UpButton->click(); },
         [](Acquisition& a) { a.channel[0].triggerLevel = 0.4; }},
        {"channel 2 hysteresis up", [](Form1& f) { f.TrigHysCh2UpButton->click(); },
         [](Acquisition& a) { a.channel[1].triggerHysteresis = 0.14; }},
        {"falling slope", [](Form1& f) { SelectItem(*f.TrigModeCombo, 1); },
         [](Acquisition& a) { a.triggerSlope = acq::kFalling; }},
        {"trigger on channel 2", [](Form1& f) { SelectItem(*f.TrigSourceCombo, 1); },
         [](Acquisition& a) { a.triggerSource = acq::kSourceChannel2; }},
        {"no trigger", [](Form1& f) { SelectItem(*f.TrigSourceCombo, 2); },
         [](Acquisition& a) { a.triggerSource = acq::kSourceNone; }},
        {"chop", [](Form1& f) { SelectItem(*f.MeasureModeCombo, 2); },
         [](Acquisition& a) { a.measureMode = acq::kModeChop; }},
        {"record length 1024", [](Form1& f) { SelectItem(*f.RecordlenthCombo, 7); },
         [](Acquisition& a) {
             a.recordLength = 1024;
             a.postSamples = 512;
         }},
    };
    Start();
    Record("settings.cvx");
    form->Command2->click();
    Acquisition expected = form->LastAcquisition();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.change(*form);
        form->Command2->click();
        c.expect(expected);
        expected.number = form->LastAcquisition().number;
        expected.endTimeUs = form->LastAcquisition().endTimeUs;
        EXPECT_EQ(form->LastAcquisition(), expected);
    }
    const RecordingReadResult r = Stop();
    ASSERT_EQ(r.records.size(), std::size(cases) + 1);
    EXPECT_EQ(r.records.back().acquisition, expected);
    EXPECT_EQ(r.records.back().frames, 1024u);
}

// The chart's readouts that need the acquisition's own settings and the spectra's own amplitudes
// reach the window's chart: the signals' truth, as the simulator generates it.
TEST_F(AcquisitionOnSimulator, TheChartReadsWhatOnlyTheAcquisitionTells) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> options;
        std::function<void(Form1&)> setUp;
        std::function<void(const kurvo::Readouts&)> expect;
    };
    const Case cases[] = {
        {"a triggered sine",
         {},
         [](Form1&) {},
         [](const kurvo::Readouts& r) { EXPECT_EQ(r.triggerStatus, "Trig'd"); }},
        {"a level above the signal runs free",
         {},
         [](Form1& f) {
             for (int i = 0; i < 5; ++i)
                 f.TrigLevelCh1UpButton->click();  // 2 V, above the 1.5 V sine
         },
         [](const kurvo::Readouts& r) { EXPECT_EQ(r.triggerStatus, "Auto"); }},
        {"channel 2 left out by the measure mode",
         {},
         [](Form1& f) { f.Check4->click(); },  // channel 2 shown, mode "channel 1"
         [](const kurvo::Readouts& r) {
             EXPECT_EQ(r.channel[1].notMeasured, "CH2 not measured");
             EXPECT_TRUE(r.channel[1].peakToPeak.isEmpty());
         }},
        {"a 50 Hz line in the spectrum",
         {{"RV8SIM_CH1", "sine:50:1"}},
         [](Form1& f) { f.Option2->click(); },
         [](const kurvo::Readouts& r) {
             EXPECT_TRUE(r.channel[0].peak.startsWith("below resolution"))
                 << r.channel[0].peak.toStdString();
         }},
    };
    // Before the first acquisition the chart shows the zeroed buffers: no trigger status.
    Start();
    EXPECT_EQ(form->Kurvo1->readouts().triggerStatus, "");
    TearDown();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Start(c.options);
        c.setUp(*form);
        form->Command2->click();
        c.expect(form->Kurvo1->readouts());
        TearDown();
    }
}

// The statistics cover the acquisitions of one run: "Run" starts them afresh, and a redraw of an
// acquisition counts once.
TEST_F(AcquisitionOnSimulator, RunStartsTheStatisticsAfresh) {
    Start();
    form->Kurvo1->StatisticsShown(true);
    const auto count = [&] {
        const QStringList lines = form->Kurvo1->readouts().channel[0].statistics;
        return lines.isEmpty() ? QString() : lines.first();
    };
    form->Command2->click();
    form->Command2->click();
    form->Command1->click();  // a redraw: not another acquisition
    const QString two = count();
    EXPECT_TRUE(two.contains(QLatin1String("2"))) << two.toStdString();
    form->Command3->click();  // Run
    form->Command3->click();  // Stop before the first tick
    form->Command2->click();
    const QString one = count();
    EXPECT_TRUE(one.contains(QLatin1String("1"))) << one.toStdString();
    EXPECT_NE(one, two);
}

// rv8rec measure reads every record of the simulator's default signals as the chart read that
// acquisition: the same numbers, except that the recording keeps its samples without their two
// lowest bits (the voltages may differ by that; the viewer's pixel test compares samples the
// recording keeps exactly).
TEST_F(AcquisitionOnSimulator, MeasureReadsEachRecordAsTheChartDid) {
    Start();
    Record("defaults.cvx");
    std::vector<kurvo::ChannelReadouts> shown;
    for (int k = 0; k < 4; ++k) {
        form->Command2->click();
        shown.push_back(form->Kurvo1->readouts().channel[0]);
    }
    const RecordingReadResult rec = Stop();
    ASSERT_EQ(rec.records.size(), shown.size());
    const std::string rv8rec = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    const ToolRun m = RunTool(rv8rec + " measure " + Quote(file.toStdString()));
    ASSERT_EQ(m.status, 0) << m.err;
    const QStringList lines = QString::fromStdString(m.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), static_cast<qsizetype>(shown.size() + 1));
    const QStringList head = lines[0].split(',');
    for (std::size_t k = 0; k < shown.size(); ++k) {
        SCOPED_TRACE(k);
        const QStringList row = lines[static_cast<qsizetype>(k + 1)].split(',');
        ASSERT_EQ(row.size(), head.size());
        const auto value = [&](const char* column) {
            const qsizetype i = head.indexOf(QLatin1String(column));
            EXPECT_GE(i, 0) << column;
            return i < 0 ? std::nan("") : row[i].toDouble();
        };
        const double freq = value("ch1_freq_hz"), vpp = value("ch1_vpp_v");
        const double rms = value("ch1_rms_v");
        EXPECT_NEAR(freq, 1000, 1);
        EXPECT_NEAR(vpp, 3.0, 0.1);
        EXPECT_NEAR(rms, 1.06, 0.01);
        const double step = kurvo::RecordStep(rec.records[k].acquisition.channel[0].sensitivity);
        const kurvo::ChannelReadouts& chart = shown[k];
        EXPECT_EQ(kurvo::FrequencyText(freq), chart.frequency);
        EXPECT_EQ(kurvo::PeriodText(value("ch1_period_s")), chart.period);
        EXPECT_EQ(kurvo::DutyText(value("ch1_duty")), chart.duty);
        // The chart's text against the number: within the recorded resolution (4 raw units,
        // twice for a difference) and half the text's last digit (0.5 mV).
        const auto near = [&](double volts, const QString& text) {
            EXPECT_NEAR(volts, text.section(' ', 0, 0).toDouble(), 8 * step + 0.0005)
                << text.toStdString();
        };
        near(vpp, chart.peakToPeak);
        near(rms, chart.rms);
        near(value("ch1_mean_v"), chart.mean);
        near(value("ch1_min_v"), chart.min);
        near(value("ch1_max_v"), chart.max);
    }
}

// rv8rec export --time absolute: frame i of a record lies (F - 1 - i) / rate before the end of
// its measurement. The simulator takes 300 ms per measurement, so the time the record was
// written is well after that end.
TEST_F(AcquisitionOnSimulator, AbsoluteTimesEndAtTheEndOfTheMeasurement) {
    Start({{"RV8SIM_ACQ_MS", "300"}});
    form->SetSampleFreqTextBox->setText(QStringLiteral("1000"));
    Record("timed.cvx");
    const int64_t before = NowUs();
    form->Command2->click();
    const RecordingReadResult r = Stop();
    ASSERT_EQ(r.records.size(), 1u);
    const int64_t end = r.records[0].timeUs;
    EXPECT_GE(end - before, 290'000);  // the measurement took its time
    const std::string rv8rec = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    const ToolRun csv = RunTool(rv8rec + " export " + Quote(file.toStdString()) +
                                " --time absolute | sed -n '2p;$p'");
    ASSERT_EQ(csv.status, 0) << csv.err;
    // "0,2026-12-08T14:36:30.080000Z,..." for frame 0 and frame 4095: parse their UTC times.
    const auto timeOf = [](const std::string& row) {
        const std::size_t a = row.find(',') + 1;
        const QDateTime t = QDateTime::fromString(
            QString::fromStdString(row.substr(a, row.find(',', a) - a)), Qt::ISODateWithMs);
        EXPECT_TRUE(t.isValid()) << row;
        return t.toMSecsSinceEpoch() * 1000;
    };
    const std::size_t cut = csv.out.find('\n');
    ASSERT_NE(cut, std::string::npos) << csv.out;
    const int64_t first = timeOf(csv.out.substr(0, cut));
    const int64_t last = timeOf(csv.out.substr(cut + 1));
    EXPECT_NEAR(static_cast<double>(end - first), 4.095e6, 50'000);
    EXPECT_NEAR(static_cast<double>(end - last), 0, 1'000);
}

}  // namespace
}  // namespace rv8::testing
