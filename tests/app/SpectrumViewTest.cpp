// The spectrum view ("V-F"): which samples the spectrum reads, how its bins are stored, and that
// the rest of the display pass (logging, labels, redraw, clipboard) carries on as in the time view.
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include "core/Samples.h"
#include "display/DisplayPass.h"
#include "logging/RecordingFile.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

// A spectrum that records what the display pass feeds it and, when told, answers chosen bin
// values instead of its own.
class RecordingSpektra : public Spektra {
  public:
    std::vector<std::pair<int16_t, int16_t>> inputs;  // (index, sample) of every SetInput
    std::vector<int16_t> transforms;                  // count of every Transform
    std::function<double(int16_t bin)> bins;

    void SetInput(int16_t index, const int16_t& sample) override {
        inputs.emplace_back(index, sample);
        Spektra::SetInput(index, sample);
    }
    void Transform(int16_t count) override {
        transforms.push_back(count);
        Spektra::Transform(count);
    }
    double BinValue(int16_t bin) const override {
        return bins ? bins(bin) : Spektra::BinValue(bin);
    }
};

// A display pass on widgets of its own, in the spectrum view, over raw buffers the test fills.
class SpectrumBranch : public ::testing::Test {
  protected:
    Kurvo kurvo;
    RecordingSpektra spektra1, spektra2;
    QRadioButton timeView;  // unticked: the spectrum view
    QScrollBar position, scale;
    QLabel ymax1, ymax2, ymin1, ymin2;
    QLineEdit sense1{QStringLiteral("4")}, sense2{QStringLiteral("0.8")};
    std::vector<uint16_t> ch1 = std::vector<uint16_t>(kRawBufferSamples, 0x8000);
    std::vector<uint16_t> ch2 = std::vector<uint16_t>(kRawBufferSamples, 0x8000);
    int32_t recordLength = 1024;
    int loggedPasses = 0;
    int32_t loggedFrames = 0;
    DisplayPass pass{DisplayPassControls{kurvo, spektra1, spektra2, timeView, position, scale,
                                         ymax1, ymax2, ymin1, ymin2, sense1, sense2},
                     ch1.data(),
                     ch2.data(),
                     kRawBufferSamples,
                     [this] { return recordLength; },
                     [this] {
                         Acquisition a;
                         a.sampleFrequency = 500000;
                         a.recordLength = recordLength;
                         a.postSamples = recordLength / 2;
                         return a;
                     },
                     [this](int16_t*, int32_t frames, const Acquisition&) {
                         ++loggedPasses;
                         loggedFrames = frames;
                     }};

    // Every raw sample carries its own index: channel 1 the low 16 bits, channel 2 the rest
    // (the pass flips bit 15, so the raw value is pre-flipped).
    void NumberTheSamples() {
        for (int32_t i = 0; i < kRawBufferSamples; ++i) {
            ch1[i] = static_cast<uint16_t>((i & 0xFFFF) ^ 0x8000);
            ch2[i] = static_cast<uint16_t>((i >> 16) ^ 0x8000);
        }
    }
};

struct StartCase {
    const char* name;
    int32_t recordLength;
    int32_t first;  // first sample the spectrum reads
    int32_t last;   // last one inside the record (the inputs after it are silence)
};
void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class SpectrumReads : public SpectrumBranch, public ::testing::WithParamInterface<StartCase> {};

TEST_P(SpectrumReads, TheThousandTwentyFourSamplesFromTheMiddle) {
    const StartCase& c = GetParam();
    NumberTheSamples();
    recordLength = c.recordLength;
    pass.DisplayPaint();
    ASSERT_EQ(spektra1.inputs.size(), 1024u);
    ASSERT_EQ(spektra2.inputs.size(), 1024u);
    for (int k = 0; k < 1024; ++k) {
        ASSERT_EQ(spektra1.inputs[k].first, k);
        ASSERT_EQ(spektra2.inputs[k].first, k);
        const int32_t at = c.first + k;
        const int32_t read = static_cast<uint16_t>(spektra1.inputs[k].second) |
                             (static_cast<int32_t>(spektra2.inputs[k].second) << 16);
        if (at <= c.last) {
            ASSERT_EQ(read, at) << "input " << k;
        } else {
            ASSERT_EQ(spektra1.inputs[k].second, 0) << "input " << k << " past the record";
            ASSERT_EQ(spektra2.inputs[k].second, 0) << "input " << k << " past the record";
        }
    }
    EXPECT_EQ(spektra1.transforms, std::vector<int16_t>{1024});
    EXPECT_EQ(spektra2.transforms, std::vector<int16_t>{1024});
    EXPECT_EQ(kurvo.lastPlotKind(), Kurvo::PlotKind::Array);
    EXPECT_EQ(loggedPasses, 1);
    EXPECT_EQ(loggedFrames, c.recordLength);
}

INSTANTIATE_TEST_SUITE_P(Table, SpectrumReads,
                         ::testing::Values(StartCase{"Record1024", 1024, 0, 1023},
                                           StartCase{"Record131072", 131072, 65536, 66559},
                                           StartCase{"Record130000", 130000, 65000, 66023},
                                           StartCase{"Record1025HalfToEven", 1025, 512, 1024},
                                           StartCase{"Record1500", 1500, 750, 1499}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpectrumBranch, BinValuesAreStoredRoundedHalfToEven) {
    const struct {
        double bin;
        int16_t stored;
    } rounding[] = {{2.5, 2},    {3.5, 4},         {0.5, 0},         {1.5, 2},       {2.4999, 2},
                    {2.5001, 3}, {32766.5, 32766}, {32767.5, 32767}, {40000, 32767}, {0, 0}};
    const int n = static_cast<int>(std::size(rounding));
    spektra1.bins = [&](int16_t k) { return rounding[k % n].bin; };
    spektra2.bins = [&](int16_t k) { return rounding[(k + 1) % n].bin; };
    pass.DisplayPaint();
    const auto& v = kurvo.lastPlotValues();
    ASSERT_EQ(v.size(), 2u * 513);
    for (int k = 0; k < 513; ++k) {
        EXPECT_EQ(v[2 * k], rounding[k % n].stored) << "channel 1 bin " << k;
        EXPECT_EQ(v[2 * k + 1], rounding[(k + 1) % n].stored) << "channel 2 bin " << k;
    }
}

// The window in the spectrum view.
class SpectrumWindow : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        Start();
        form->show();
        form->Option2->click();
        ASSERT_TRUE(form->Option2->isChecked());
    }
};

TEST_F(SpectrumWindow, EachPassIsStillRecordedWithItsOwnSamples) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    inst.sample = [](int ch, int32_t i) { return static_cast<uint16_t>(i * 8 + ch * 4 + 3); };
    form->Text1->setText(dir.filePath("vf.cvx"));
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen());
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->lastPlotKind(), Kurvo::PlotKind::Array);
    EXPECT_EQ(form->eventcount->text(), "0/8000");
    form->Check1->click();
    const auto r = ReadRecording(dir.filePath("vf.cvx").toStdString());
    ASSERT_EQ(r.records.size(), 1u);
    ASSERT_EQ(r.records[0].frames, 4096u);
    for (int32_t i = 0; i < 4096; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            const auto raw = static_cast<uint16_t>(i * 8 + ch * 4 + 3);
            ASSERT_EQ(r.records[0].samples[2 * i + ch], static_cast<int16_t>(RawToSigned(raw) & ~3))
                << "frame " << i << " channel " << ch;
        }
    }
}

TEST_F(SpectrumWindow, HidesTheVoltLabelsAndShowsTheFrequenciesUntilTheTimeViewReturns) {
    for (QLabel* l : {form->Ymax1, form->Ymax2, form->Ymin1, form->Ymin2})
        EXPECT_FALSE(l->isVisible()) << l->objectName().toStdString();
    for (QLabel* l : {form->MinFreq, form->MaxFreq})
        EXPECT_TRUE(l->isVisible()) << l->objectName().toStdString();
    form->Option1->click();
    for (QLabel* l : {form->Ymax1, form->Ymax2, form->Ymin1, form->Ymin2})
        EXPECT_TRUE(l->isVisible()) << l->objectName().toStdString();
    for (QLabel* l : {form->MinFreq, form->MaxFreq})
        EXPECT_FALSE(l->isVisible()) << l->objectName().toStdString();
}

TEST_F(SpectrumWindow, ARangeChangeRewritesTheLabelsAndRedrawsTheSpectrum) {
    for (QLabel* l : {form->Ymax1, form->Ymax2, form->Ymin1, form->Ymin2})
        l->setText("stale");
    form->Kurvo1->YMax(0, 16383);
    form->Kurvo1->YMin(0, -16384);
    form->Kurvo1->YMax(1, 32767);
    form->Kurvo1->YMin(1, 0);
    const int plots = form->Kurvo1->plotCount();
    emit form->Kurvo1->RangeChanged(0, 0);  // as the chart raises it for a mouse change
    EXPECT_EQ(form->Ymax1->text(), "2.00 V");
    EXPECT_EQ(form->Ymin1->text(), "-2.00 V");
    EXPECT_EQ(form->Ymax2->text(), "0.80 V");
    EXPECT_EQ(form->Ymin2->text(), "0.00 V");
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
    EXPECT_EQ(form->Kurvo1->lastPlotKind(), Kurvo::PlotKind::Array);
    EXPECT_FALSE(form->Ymax1->isVisible());  // rewritten, still hidden in this view
}

TEST_F(SpectrumWindow, CopyToClipboardPutsTheChartsPicture) {
    form->Command2->click();
    QGuiApplication::clipboard()->clear();
    form->Command4->click();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), form->Kurvo1->size());
}

TEST_F(FormTest, CopyToClipboardWhileTheLoopRuns) {
    Start();
    form->show();
    form->Command3->click();
    QElapsedTimer t;
    t.start();
    while (inst.fetchCount < 2 && t.elapsed() < 5000)
        QCoreApplication::processEvents();
    ASSERT_GE(inst.fetchCount, 2);
    QGuiApplication::clipboard()->clear();
    form->Command4->click();
    const QImage image = QGuiApplication::clipboard()->image();
    EXPECT_TRUE(form->Timer1.isActive());  // the copy leaves the loop running
    form->Command3->click();
    EXPECT_EQ(image.size(), form->Kurvo1->size());
}

}  // namespace
}  // namespace rv8::testing
