#include <QClipboard>
#include <QGuiApplication>

#include "display/DisplayPass.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

struct WindowCase {
    const char* name;
    int32_t recordLength;
    int position, positionMax, scale;
    int32_t start, frames;
};

class TimeWindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(TimeWindowTest, StartsWhereThePositionSaysAndStaysInsideTheRecord) {
    const WindowCase& c = GetParam();
    const auto w = DisplayPass::TimeWindow(c.recordLength, c.position, c.positionMax, c.scale);
    EXPECT_EQ(w.start, c.start);
    EXPECT_EQ(w.frames, c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeWindowTest,
    ::testing::Values(WindowCase{"MiddleOf1024", 1024, 8192, 16384, 1, 512, 512},
                      WindowCase{"ScaleTwoFillsTheRecord", 1024, 8192, 16384, 2, 0, 1024},
                      WindowCase{"PositionZero", 65536, 0, 16384, 4, 0, 2048},
                      WindowCase{"EndWithoutOverflow", 131072, 16384, 16384, 1, 131072 - 512, 512},
                      WindowCase{"EndScale32", 131072, 16384, 16384, 32, 131072 - 16384, 16384},
                      WindowCase{"PastTheEndIsPulledBack", 4096, 16000, 16384, 8, 0, 4096},
                      WindowCase{"FloorOfTheProduct", 130000, 1, 16384, 1, 7, 512},
                      WindowCase{"WiderThanTheRecordStartsAtZero", 600, 8192, 16384, 2, 0, 600},
                      WindowCase{"TwoFrames", 2, 16384, 16384, 1, 0, 2},
                      WindowCase{"ZeroMaximum", 4096, 0, 0, 1, 0, 512}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpectrumStart, MiddleOfLongRecords) {
    EXPECT_EQ(DisplayPass::SpectrumStart(1024), 0);
    EXPECT_EQ(DisplayPass::SpectrumStart(512), 0);
    EXPECT_EQ(DisplayPass::SpectrumStart(130000), 65000);
    EXPECT_EQ(DisplayPass::SpectrumStart(131072), 65536);
    EXPECT_EQ(DisplayPass::SpectrumStart(1025), 512);  // 512.5, halves to even
    EXPECT_EQ(DisplayPass::SpectrumStart(1027), 514);
}

TEST_F(FormTest, RawSamplesBecomeSignedInterleavedFrames) {
    Start();
    const uint16_t raw[] = {0, 32767, 32768, 65535};
    inst.sample = [&](int ch, int32_t i) { return raw[(i + ch) % 4]; };
    form->HScroll2->setValue(0);
    form->Command2->click();
    const auto& v = form->Kurvo1->lastPlotValues();
    ASSERT_EQ(v.size(), 2u * 512);
    const int16_t expected[] = {-32768, -1, 0, 32767};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(v[2 * i], expected[i % 4]) << i;
        EXPECT_EQ(v[2 * i + 1], expected[(i + 1) % 4]) << i;
    }
    EXPECT_EQ(form->Kurvo1->horizontalScale(), 1);
}

TEST_F(FormTest, ThePositionAndScaleChooseTheFramesShown) {
    Start();
    inst.sample = [](int ch, int32_t i) { return static_cast<uint16_t>(32768 + i * 2 + ch); };
    form->Command2->click();  // 4096 frames; Position 8192 of 16384 starts at frame 2048
    EXPECT_EQ(form->Kurvo1->lastPlotValues()[0], 2048 * 2);
    EXPECT_EQ(form->Kurvo1->lastPlotValues()[1], 2048 * 2 + 1);
    form->HScroll3->setValue(8);
    form->HScroll2->setValue(16384);
    form->Kurvo1_RangeChanged(0, 0);  // a redraw without a new acquisition
    EXPECT_EQ(form->Kurvo1->horizontalScale(), 8);
    EXPECT_EQ(form->Kurvo1->lastPlotValues().size(), 2u * 4096);
    EXPECT_EQ(form->Kurvo1->lastPlotValues()[0], 0);
}

TEST_F(FormTest, RecordsShorterThanTwoSamplesDrawNothing) {
    for (int32_t length : {0, 1}) {
        inst.recordLength = length;
        inst.takeRecordLength = [length](int32_t) { return length; };
        form = std::make_unique<Form1>(inst, messages);
        ASSERT_TRUE(form->Form_Load());
        ASSERT_EQ(form->RecordLength(), length);
        form->Command2->click();
        form->Command1->click();
        EXPECT_EQ(form->Kurvo1->plotCount(), 0) << length;
    }
}

TEST_F(FormTest, SpectrumViewPlotsBinsInsteadOfTraces) {
    Start();
    form->Option2->setChecked(true);
    form->Kurvo1->HorizontalScale(5);
    inst.sample = [](int ch, int32_t i) {
        // Channel 1 a full-scale square of period 32 samples, channel 2 silence.
        return ch == 0 ? static_cast<uint16_t>((i / 16) % 2 ? 65535 : 0) : uint16_t{32768};
    };
    form->Command2->click();
    EXPECT_EQ(form->Kurvo1->lastPlotKind(), Kurvo::PlotKind::Array);
    const auto& v = form->Kurvo1->lastPlotValues();
    ASSERT_EQ(v.size(), 2u * 513);
    EXPECT_EQ(form->Kurvo1->horizontalScale(), 5);  // not set in this view
    // The fundamental lies at bin 1024 / 32 = 32.
    const auto peak = std::max_element(v.begin(), v.end()) - v.begin();
    EXPECT_EQ(peak, 2 * 32);
    for (std::size_t k = 0; k < 513; ++k)
        EXPECT_EQ(v[2 * k + 1], 0) << k;
}

TEST_F(FormTest, SpectrumOfAShortRecordReadsNothingOutsideIt) {
    inst.takeRecordLength = [](int32_t) { return 1500; };
    ASSERT_TRUE(form->Form_Load());
    form->Option2->setChecked(true);
    inst.sample = [](int, int32_t) { return uint16_t{65535}; };
    form->Command2->click();  // inputs 750..1499 hold data, the rest are silence
    EXPECT_EQ(form->Kurvo1->lastPlotKind(), Kurvo::PlotKind::Array);
    EXPECT_GT(form->Kurvo1->lastPlotValues()[0], 0);
}

struct LabelCase {
    const char* name;
    const char* sens1;
    const char* sens2;
    int32_t ymax0, ymin0, ymax1, ymin1;
    const char *max1, *max2, *min1, *min2;
};

class VoltLabels : public FormTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(VoltLabels, FollowTheRangeAndTheSensitivity) {
    const LabelCase& c = GetParam();
    Start();
    form->SetSenseCh1TextBox->setText(c.sens1);
    form->SetSenseCh2TextBox->setText(c.sens2);
    form->Kurvo1->YMax(0, c.ymax0);
    form->Kurvo1->YMin(0, c.ymin0);
    form->Kurvo1->YMax(1, c.ymax1);
    form->Kurvo1->YMin(1, c.ymin1);
    const int plots = form->Kurvo1->plotCount();
    form->Kurvo1_RangeChanged(0, 0);
    EXPECT_EQ(form->Ymax1->text(), c.max1);
    EXPECT_EQ(form->Ymax2->text(), c.max2);
    EXPECT_EQ(form->Ymin1->text(), c.min1);
    EXPECT_EQ(form->Ymin2->text(), c.min2);
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VoltLabels,
    ::testing::Values(LabelCase{"FullScale", "4", "0.4", 32767, -32768, 32767, -32768, "4.00 V",
                                "0.40 V", "-4.00 V", "-0.40 V"},
                      LabelCase{"HalfScale", "4", "4", 16383, -16384, 16383, -16384, "2.00 V",
                                "2.00 V", "-2.00 V", "-2.00 V"},
                      LabelCase{"NoNumber", "abc", "0", 32767, -32768, 32767, -32768, "0.00 V",
                                "0.00 V", "0.00 V", "0.00 V"},
                      LabelCase{"TopOfInt32", "80", "80", 2147483647, -2147483647 - 1, 0, 0,
                                "5242880.00 V", "0.00 V", "-5242880.00 V", "0.00 V"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, VoltLabelsUseTheUsersDecimalSeparator) {
    Start();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    form->Kurvo1_RangeChanged(0, 0);
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(form->Ymax1->text(), "4,00 V");
    EXPECT_EQ(form->Ymin2->text(), "-0,80 V");
}

// Locales whose own number format has a U+2212 minus, native digits or direction marks: the
// labels take only the decimal separator from them.
TEST_F(FormTest, VoltLabelsTakeOnlyTheSeparatorFromTheLocale) {
    Start();
    const struct {
        const char* locale;
        const char* ymax1;  // UTF-8
        const char* ymin2;
    } cases[] = {{"sv_SE", "4,00 V", "-0,80 V"},
                 {"fa_IR", "4\u066B00 V", "-0\u066B80 V"},
                 {"ar_EG", "4\u066B00 V", "-0\u066B80 V"},
                 {"bn_BD", "4.00 V", "-0.80 V"}};
    for (const auto& c : cases) {
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        form->Kurvo1_RangeChanged(0, 0);
        QLocale::setDefault(QLocale::c());
        EXPECT_EQ(form->Ymax1->text(), QString::fromUtf8(c.ymax1)) << c.locale;
        EXPECT_EQ(form->Ymin2->text(), QString::fromUtf8(c.ymin2)) << c.locale;
    }
}

TEST_F(FormTest, CopyToClipboardPutsTheChartsPicture) {
    Start();
    QGuiApplication::clipboard()->clear();
    form->Command4->click();
    const QImage image = QGuiApplication::clipboard()->image();
    EXPECT_EQ(image.size(), form->Kurvo1->size());
}

}  // namespace
}  // namespace rv8::testing
