// The chart's readouts as the chart itself makes them from what it is given: measurements,
// over-range notes, spectrum peaks and their layout on the picture.
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "display/Spektra.h"
#include "tests/display/KurvoTestSupport.h"

// QString in failure messages as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace rv8 {
namespace {

using namespace charttest;

// Interleaved frames from one function per channel.
template <typename F1, typename F2>
std::vector<int16_t> Record(int frames, F1 ch1, F2 ch2) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(static_cast<int16_t>(std::clamp<long>(std::lround(ch1(i)), -32768, 32767)));
        v.push_back(static_cast<int16_t>(std::clamp<long>(std::lround(ch2(i)), -32768, 32767)));
    }
    return v;
}

// Hands the chart the measurements of a whole record and plots its frames [from, from + count).
void Show(Kurvo& k, const std::vector<int16_t>& record, int from, int count) {
    const int frames = static_cast<int>(record.size() / 2);
    measure::Measurer measurer;
    measure::ChannelMeasurement m[2];
    measurer.measure(record.data(), frames, m);
    k.Measurements(m[0], m[1]);
    k.WindowStart(from);
    k.PlotBuffer(record[2 * static_cast<std::size_t>(from)], 2, static_cast<int16_t>(count));
}

// Over range is a property of the whole measured record, like min and max: a sample at an end of
// the range that the view does not show still notes it.
TEST(KurvoReadouts, OverRangeIsOfTheWholeRecordLikeMinAndMax) {
    struct Case {
        const char* what;
        int16_t first;  // the record's first sample on channel 1, the rest a small sine
        bool over;
    };
    const Case cases[] = {
        {"a ramp's start at the bottom, out of view", -32768, true},
        {"the top, out of view", 32767, true},
        {"within the range", -32767, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto k = MakeChart();
        GiveSettings(*k);
        const std::vector<int16_t> record = Record(
            4096, [&](int i) { return i == 0 ? c.first : 3000 * std::sin(i * 0.1); },
            [](int) { return 0; });
        Show(*k, record, 2048, 512);  // the window does not show frame 0
        const kurvo::ChannelReadouts& ch = k->readouts().channel[0];
        EXPECT_EQ(ch.overRange.isEmpty(), !c.over) << ch.overRange.toStdString();
        // The spectrum view says the same of the same record.
        k->PlotArray(std::vector<int16_t>(2 * 513, 0));
        EXPECT_EQ(k->readouts().channel[0].overRange.isEmpty(), !c.over);
    }
}

// Duty cycle, rise and fall times join the measurements where a channel has a period.
TEST(KurvoReadouts, DutyAndEdgesWhereThereIsAPeriod) {
    struct Case {
        const char* what;
        std::function<double(int)> ch1;
        const char *duty, *rise, *fall;  // nullptr: none
    };
    const Case cases[] = {
        {"a square at 500 kS/s", [](int i) { return (i % 128) < 32 ? 12000 : -12000; }, "25.0 %",
         "< 2.00 µs", "< 2.00 µs"},
        // 0.2952 of a 2 ms period each way.
        {"a sine", [](int i) { return 12000 * std::sin(i * 2 * 3.14159265358979 / 1000); },
         "50.0 %", "590 µs", "590 µs"},
        {"no period", [](int i) { return i % 2 ? 5 : -5; }, nullptr, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto k = MakeChart();
        GiveSettings(*k);
        Show(*k, Record(4096, c.ch1, [](int) { return 0; }), 2048, 512);
        const kurvo::ChannelReadouts& ch = k->readouts().channel[0];
        EXPECT_EQ(ch.duty, c.duty ? QString::fromUtf8(c.duty) : QString());
        EXPECT_EQ(ch.rise, c.rise ? QString::fromUtf8(c.rise) : QString());
        EXPECT_EQ(ch.fall, c.fall ? QString::fromUtf8(c.fall) : QString());
    }
}

// The spectrum of 1024 samples f(0..1023) at 100 kS/s on a channel of `sensitivity` volts, plotted
// on channel 1 as the display pass does (bins rounded and limited), with the spectrum
// component's own amplitudes handed over first or not.
void PlotSpectrum(Kurvo& k, const std::function<double(int)>& f, double sensitivity,
                  bool amplitudes) {
    Spektra s;
    for (int i = 0; i < Spektra::kInputs; ++i) {
        const double raw = f(i) / sensitivity * 32768;
        const int16_t v = static_cast<int16_t>(std::clamp(std::lround(raw), -32768L, 32767L));
        s.SetInput(static_cast<int16_t>(i), v);
    }
    s.Transform(Spektra::kInputs);
    std::vector<int16_t> bins;
    for (int b = 0; b < Spektra::kBins; ++b) {
        bins.push_back(static_cast<int16_t>(std::lround(s.BinValue(static_cast<int16_t>(b)))));
        bins.push_back(0);
    }
    k.SampleFrequency(100000);
    k.Sensitivity(0, sensitivity);
    k.YMin(0, 0);
    k.YMax(0, 32768);
    if (amplitudes) k.SpectrumAmplitudes(0, s.amplitudes());
    k.PlotArray(bins);
}

// The leading number of a text after `skip` words ("1.000 kHz  4.966 V": 1 -> 4.966).
double NumberAfter(const QString& text, int skip) {
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(2 * skip).toDouble();
}

// The spectrum's peak label: below the resolution (a 50 Hz sine read "146.5 Hz 0.18 V"), beyond
// the view (a 3.9 V square's 4.97 V fundamental read "1.013 kHz 4.38 V" with no note), where a
// clipped sine's line is (it read 1.009 kHz), and none in noise.
TEST(KurvoReadouts, SpectrumPeakLabels) {
    constexpr double kPi = 3.14159265358979323846;
    struct Case {
        const char* what;
        std::function<double(int)> volts;
        double sensitivity;
        const char* frequency;  // the label's start; nullptr: no label
        double amplitude;       // volts; 0: none in the label
        bool cutOff;
    };
    auto sine = [=](double hz, double v) {
        return [=](int i) { return v * std::sin(2 * kPi * hz * i / 100000 + 0.4); };
    };
    uint64_t state = 7;
    std::vector<double> noise;
    for (int i = 0; i < 1024; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        noise.push_back((static_cast<double>(state >> 11) * 0x1p-53 - 0.5) * 3.0);
    }
    const Case cases[] = {
        {"50 Hz", sine(50, 1.0), 4, "below resolution (< 146.5 Hz)", 0, false},
        {"120 Hz on 0.5 V", [&](int i) { return 0.5 + sine(120, 1.0)(i); }, 4,
         "below resolution (< 146.5 Hz)", 0, false},
        {"1 kHz", sine(1000, 1.0), 4, "1.000 kHz", 1.0, false},
        {"3.9 V square", [](int i) { return (i % 100) < 50 ? 3.9 : -3.9; }, 4, "1.000 kHz",
         4 / kPi * 3.9, true},
        {"clipped sine", sine(1000, 1.5), 0.8, "1.000 kHz", 0.97, true},
        {"noise", [&](int i) { return noise[i]; }, 4, nullptr, 0, false},
    };
    for (const Case& c : cases) {
        for (bool amplitudes : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.what << (amplitudes ? ", amplitudes" : ", bins"));
            auto k = MakeChart();
            PlotSpectrum(*k, c.volts, c.sensitivity, amplitudes);
            const kurvo::ChannelReadouts& ch = k->readouts().channel[0];
            if (c.frequency == nullptr) {
                EXPECT_TRUE(ch.peak.isEmpty()) << ch.peak.toStdString();
                continue;
            }
            EXPECT_TRUE(ch.peak.startsWith(QString::fromUtf8(c.frequency)))
                << ch.peak.toStdString();
            if (c.amplitude > 0) {
                EXPECT_NEAR(NumberAfter(ch.peak, 1), c.amplitude, 0.04);
            }
            EXPECT_EQ(ch.peak.endsWith(QStringLiteral("cut off")), c.cutOff)
                << ch.peak.toStdString();
        }
    }
}

// Every caption of a channel, as one list of texts (empty ones included).
QStringList ChannelTexts(const kurvo::ChannelReadouts& ch) {
    return {ch.voltsPerDivision,
            ch.frequency,
            ch.period,
            ch.peakToPeak,
            ch.rms,
            ch.mean,
            ch.min,
            ch.max,
            ch.overRange,
            ch.peak,
            ch.cursor};
}

// The chart's own captions follow what it shows: a hidden channel's go away, in both views,
// and come back when it is shown again.
TEST(KurvoReadouts, AHiddenChannelsCaptionsGoAway) {
    for (bool spectrum : {false, true}) {
        for (int hidden : {0, 1}) {
            SCOPED_TRACE(testing::Message() << (spectrum ? "spectrum" : "time") << " view, channel "
                                            << hidden + 1 << " hidden");
            auto k = MakeChart();
            GiveSettings(*k);
            k->TriggerSource(static_cast<int16_t>(hidden));
            k->BothChannels(true);
            // Both channels measured, over range, with a period and a spectrum peak.
            const std::vector<int16_t> record = Record(
                4096, [](int i) { return i == 0 ? -32768 : 9000 * std::sin(i * 0.2); },
                [](int i) { return i == 0 ? 32767 : 7000 * std::sin(i * 0.3); });
            Show(*k, record, 2048, 512);
            if (spectrum) {
                std::vector<int16_t> bins(2 * 513, 1);
                bins[2 * 40] = bins[2 * 60 + 1] = 9000;
                k->PlotArray(bins);
            }
            QMouseEvent move(QEvent::MouseMove, QPointF(200, 150), QPointF(200, 150), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(k.get(), &move);
            const QStringList both = ChannelTexts(k->readouts().channel[hidden]);
            EXPECT_TRUE(std::any_of(both.begin(), both.end(),
                                    [](const QString& s) { return !s.isEmpty(); }));
            k->BothChannels(false);
            k->ShownChannel(static_cast<int16_t>(1 - hidden));
            const kurvo::Readouts& r = k->readouts();
            for (const QString& text : ChannelTexts(r.channel[hidden]))
                EXPECT_TRUE(text.isEmpty()) << text.toStdString();
            EXPECT_EQ(r.channel[hidden].triggerLevelRow, -1);
            EXPECT_FALSE(ChannelTexts(r.channel[1 - hidden]).join(QString()).isEmpty());
            k->ShownChannel(static_cast<int16_t>(hidden));
            EXPECT_EQ(ChannelTexts(k->readouts().channel[hidden]).join(QString()),
                      QString(both.join(QString())));
        }
    }
}

using Part = kurvo::KurvoOverlay::Part;

bool Overlap(const kurvo::KurvoOverlay::Placed& a, const kurvo::KurvoOverlay::Placed& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// A spectrum label keeps clear of the other captions: above the foot captions (a small peak's
// label wrote over them), clear of the over-range notes and of the other channel's label.
TEST(KurvoReadouts, PeakLabelsKeepClearOfTheOtherCaptions) {
    struct Case {
        const char* what;
        double bin1, amplitude1, bin2, amplitude2;  // raw units; 0: no peak
        bool over;                                  // both channels noted over range
    };
    const Case cases[] = {
        {"small peak at the left", 12, 200, 0, 0, false},
        {"small peak in the middle", 256.3, 150, 0, 0, false},
        {"small peak at the right", 505, 300, 0, 0, false},
        {"two small peaks together", 100, 300, 101, 250, false},
        {"large peak under the notes", 490, 31000, 0, 0, true},
        {"two large peaks under the notes", 480, 30000, 482, 29000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<int16_t> bins(2 * 513, 1);  // a floor of 1 unit
        for (int k = 0; k < 513; ++k) {
            for (int ch = 0; ch < 2; ++ch) {
                const double bin = ch == 0 ? c.bin1 : c.bin2;
                const double amplitude = ch == 0 ? c.amplitude1 : c.amplitude2;
                if (amplitude > 0 && std::fabs(k - bin) < 1.5) {
                    bins[2 * k + ch] =
                        static_cast<int16_t>(amplitude * (1 - std::fabs(k - bin) / 2));
                }
            }
        }
        auto k = MakeChart();
        GiveSettings(*k);
        k->BothChannels(true);
        for (int ch = 0; ch < 2; ++ch) {
            k->YMin(static_cast<int16_t>(ch), 0);
            k->YMax(static_cast<int16_t>(ch), 32768);
        }
        measure::ChannelMeasurement m;
        m.frames = 4096;
        m.overRange = c.over;
        k->Measurements(m, m);
        k->PlotArray(bins);
        const auto& boxes = k->captionBoxes();
        int peaks = 0;
        for (const auto& label : boxes) {
            if (label.part != Part::Peak) continue;
            ++peaks;
            EXPECT_GE(label.y, 0);
            EXPECT_LE(label.y + label.h, kH);
            for (const auto& other : boxes) {
                if (&other == &label || other.part == Part::PeakMarker) continue;
                EXPECT_FALSE(Overlap(label, other))
                    << "peak label at " << label.y << " over part " << static_cast<int>(other.part)
                    << " at " << other.y;
            }
        }
        EXPECT_EQ(peaks, (c.amplitude1 > 0) + (c.amplitude2 > 0));
    }
}

}  // namespace
}  // namespace rv8
