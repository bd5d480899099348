// An instrument that misbehaves, through the fake driver: measurements that always fail,
// odd sensitivities (NaN, infinite, zero, negative), record lengths the buffers cannot hold or
// that are too short to show, sample frequencies of 0 and below, read-backs that never settle
// and NaN trigger values. The window keeps working; the sanitizer build checks that no
// undefined behaviour happens on the way.
#include <cmath>
#include <limits>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "core/Numbers.h"
#include "core/Samples.h"
#include "core/Ui.h"
#include "logging/RecordingFile.h"
#include "tests/app/FormFixture.h"
#include "tests/reliability/Support.h"

namespace rv8::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A fake instrument that keeps reporting the odd ranges it was given, whatever is set.
class StuckRanges : public FakeInstrument {
  public:
    bool stuck = true;
    void SetSensitivity(int32_t ch, double& v) override {
        if (!stuck) return FakeInstrument::SetSensitivity(ch, v);
        const double kept = sensitivity[ch - 1];
        FakeInstrument::SetSensitivity(ch, v);
        sensitivity[ch - 1] = kept;
        v = kept;
    }
};

class FaultyInstrument : public ::testing::Test {
  protected:
    StuckRanges inst;
    FakeMessages messages;
    std::unique_ptr<Form1> form;
    QTemporaryDir tmp;

    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    void Start() {
        form = std::make_unique<Form1>(inst, messages);
        ASSERT_TRUE(form->Form_Load());
    }
    // Clicks every control that works from the instrument's settings.
    void ClickEverything() {
        for (QPushButton* b :
             {form->SetSenseCh1UpButton, form->SetSenseCh1DownButton, form->SetSenseCh2UpButton,
              form->SetSenseCh2DownButton, form->TrigLevelCh1UpButton, form->TrigLevelCh1DownButton,
              form->TrigLevelCh2UpButton, form->TrigLevelCh2DownButton, form->TrigHysCh1UpButton,
              form->TrigHysCh1DownButton, form->TrigHysCh2UpButton, form->TrigHysCh2DownButton,
              form->TrigTimeoutUpButton, form->TrigTimeoutDownButton, form->SetSampleFreqUpButton,
              form->SetSampleFreqDownButton, form->Command2, form->Command1}) {
            b->click();
        }
        form->Option2->click();  // spectrum view
        form->Command2->click();
        form->Option1->click();
        form->Command2->click();
    }
    static void ExpectVoltLabel(const QLabel* l) {
        EXPECT_TRUE(l->text().endsWith(QStringLiteral(" V"))) << l->text().toStdString();
        EXPECT_GT(l->text().size(), 2);
    }
    void ExpectVoltLabels() {
        for (const QLabel* l : {form->Ymax1, form->Ymax2, form->Ymin1, form->Ymin2})
            ExpectVoltLabel(l);
    }
    // Records with `passes` clicks of `button` ("Single" unless given) and reads the file back.
    RecordingReadResult Record(int passes, QPushButton* button = nullptr) {
        const QString file = QDir(tmp.path()).filePath(QStringLiteral("r%1.cvx").arg(++files_));
        form->Text1->setText(file);
        form->Check1->click();
        EXPECT_TRUE(form->writer().isOpen());
        for (int i = 0; i < passes; ++i)
            (button ? button : form->Command2)->click();
        form->Check1->click();
        return ReadRecording(file.toStdString());
    }

  private:
    int files_ = 0;
};

TEST_F(FaultyInstrument, MeasurementsThatAlwaysFailLeaveTheWindowWorking) {
    for (const int32_t result :
         {-1, 1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE(result);
        inst.startResult = result;
        Start();
        const int plots = form->Kurvo1->plotCount();
        for (int i = 0; i < 5; ++i)
            form->Command2->click();
        // The loop keeps ticking although nothing arrives.
        form->Timer1.setInterval(1);
        form->Command3->click();
        EXPECT_TRUE(ProcessUntil([&] { return inst.count("StartMeasurement") >= 20; }, 5000));
        EXPECT_TRUE(form->Timer1.isActive());
        form->Command3->click();
        EXPECT_FALSE(form->Timer1.isActive());
        EXPECT_EQ(inst.fetchCount, 0);
        EXPECT_EQ(form->Kurvo1->plotCount(), plots);
        const auto r = Record(3);  // no acquisition, no record: a file with its header only
        EXPECT_TRUE(r.headerOk) << r.error;
        EXPECT_EQ(r.recordCount, 0u);
        EXPECT_FALSE(r.damagedTail);
        inst.clearCalls();
    }
}

struct RangeCase {
    const char* name;
    double range;
};

class OddRanges : public FaultyInstrument, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(OddRanges, GiveLabelsAndTextsWithoutUndefinedBehaviour) {
    const double s = GetParam().range;
    inst.sensitivity[0] = s;
    inst.sensitivity[1] = -s;
    Start();
    EXPECT_EQ(form->SetSenseCh1TextBox->text(), FormatPlain(s));
    EXPECT_EQ(form->TrigHysCh1Text->text(), FormatSignSpace(s / 8));
    EXPECT_EQ(form->TrigHysCh2Text->text(), FormatSignSpace(-s / 8));
    ExpectVoltLabels();
    ClickEverything();
    ExpectVoltLabels();
    // The trigger boxes show what was sent.
    EXPECT_EQ(form->TrigHysCh2Text->text(), FormatSignSpace(inst.hysteresis[1]));
    EXPECT_EQ(form->TrigLevelCh2Text->text(), FormatSignSpace(inst.level[1]));

    const auto r = Record(2);
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_EQ(r.recordCount, 2u);
    ASSERT_EQ(r.header.ranges.size(), 2u);
    const double s1 = TextToNumber(form->SetSenseCh1TextBox->text());
    EXPECT_EQ(r.header.ranges[0].upper, s1);
    EXPECT_EQ(r.header.ranges[0].lower, -s1);

    // A range the instrument finally takes puts everything right again.
    inst.stuck = false;
    form->SetSenseCh1UpButton->click();
    EXPECT_EQ(form->Ymax1->text(), FormatVolts(inst.sensitivity[0]));
}

INSTANTIATE_TEST_SUITE_P(Table, OddRanges,
                         ::testing::Values(RangeCase{"NaN", kNaN}, RangeCase{"Infinite", kInf},
                                           RangeCase{"Zero", 0.0}, RangeCase{"NegativeZero", -0.0},
                                           RangeCase{"Negative", -4.0},
                                           RangeCase{"Largest", 1.7976931348623157e308},
                                           RangeCase{"Subnormal", 5e-324},
                                           RangeCase{"Huge", 1e300}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultyInstrument, NaNTriggerValuesFromTheInstrument) {
    Start();
    for (double& v : inst.level)
        v = kNaN;
    for (double& v : inst.hysteresis)
        v = kNaN;
    ClickEverything();
    for (QLineEdit* box : {form->TrigLevelCh1Text, form->TrigLevelCh2Text, form->TrigHysCh1Text,
                           form->TrigHysCh2Text})
        EXPECT_FALSE(box->text().isEmpty()) << box->objectName().toStdString();
    // Hysteresis stepped down from NaN lands on 0.
    inst.hysteresis[0] = kNaN;
    form->TrigHysCh1DownButton->click();
    EXPECT_EQ(inst.hysteresis[0], 0.0);
    EXPECT_EQ(Record(2).recordCount, 2u);
}

struct LengthCase {
    const char* name;
    int32_t reported;
};

class OddRecordLengths : public FaultyInstrument,
                         public ::testing::WithParamInterface<LengthCase> {};

TEST_P(OddRecordLengths, NeverReachBeyondTheBuffers) {
    const int32_t n = GetParam().reported;
    Start();
    inst.sample = [](int ch, int32_t i) { return static_cast<uint16_t>(i * 7 + ch); };
    form->Command2->click();  // fills the buffers with a normal record first
    inst.maxRecordLength = std::numeric_limits<int32_t>::max();
    inst.takeRecordLength = [n](int32_t) { return n; };
    for (int entry = 0; entry < form->RecordlenthCombo->count(); ++entry) {
        SelectItem(*form->RecordlenthCombo, entry);
        EXPECT_EQ(form->RecordLength(), n);
    }
    const int fetched = inst.fetchCount;
    ClickEverything();
    // A record the buffers cannot hold is never fetched.
    EXPECT_EQ(inst.fetchCount, n > kRawBufferSamples ? fetched : fetched + 3);
    // "Default!" redraws from the buffers: a pass without an acquisition, whatever the length.
    const auto r = Record(3, form->Command1);
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail);
    if (n < 2) {
        EXPECT_EQ(r.recordCount, 0u);  // a pass this short shows and writes nothing
    } else {
        ASSERT_EQ(r.recordCount, 3u);
        EXPECT_EQ(r.records[0].frames, static_cast<uint32_t>(std::min(n, kRawBufferSamples)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OddRecordLengths,
    ::testing::Values(LengthCase{"Zero", 0}, LengthCase{"One", 1}, LengthCase{"Negative", -5},
                      LengthCase{"Two", 2}, LengthCase{"BufferSize", kRawBufferSamples},
                      LengthCase{"OneBeyondTheBuffers", kRawBufferSamples + 1},
                      LengthCase{"Largest", std::numeric_limits<int32_t>::max()}),
    [](const auto& info) { return std::string(info.param.name); });

struct FrequencyFault {
    const char* name;
    int32_t maximum;
    int32_t taken;  // what the instrument takes, whatever is asked
};

class OddFrequencies : public FaultyInstrument,
                       public ::testing::WithParamInterface<FrequencyFault> {};

TEST_P(OddFrequencies, AreShownAndRecordedAsTheyAre) {
    const FrequencyFault& c = GetParam();
    inst.maxFrequency = c.maximum;
    inst.takeFrequency = [t = c.taken](int32_t) { return t; };
    Start();
    ClickEverything();
    form->SetSampleFreqTextBox->setText("5000");
    EXPECT_EQ(form->SetSampleFreqTextBox->text(), FormatSignSpace(c.taken));
    EXPECT_EQ(form->MaxFreq->text(), FormatZeroPattern(c.taken / 2.0));
    const auto r = Record(2);
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_EQ(r.header.sampleRate, c.taken);
    EXPECT_EQ(r.recordCount, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OddFrequencies,
    ::testing::Values(FrequencyFault{"TakesZero", 1000000, 0},
                      FrequencyFault{"TakesNegative", 1000000, -7},
                      FrequencyFault{"TakesLowest", 1000000, std::numeric_limits<int32_t>::min()},
                      FrequencyFault{"MaximumZero", 0, 0},
                      FrequencyFault{"MaximumNegative", -100, -100},
                      FrequencyFault{"MaximumLowest", std::numeric_limits<int32_t>::min(), 1},
                      FrequencyFault{"TakesAboveMaximum", 10, std::numeric_limits<int32_t>::max()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FaultyInstrument, AReadBackThatNeverSettlesEndsTheChain) {
    int32_t next = 100;
    inst.takeFrequency = [&next](int32_t) { return next += 3; };  // a new value every time
    Start();
    const int before = inst.count("SetSampleFrequency");
    form->SetSampleFreqTextBox->setText("1234");
    const int runs = inst.count("SetSampleFrequency") - before;
    EXPECT_GE(runs, 1);
    EXPECT_LT(runs, 1000);
    form->Command2->click();
    EXPECT_GT(inst.fetchCount, 0);
}

}  // namespace
}  // namespace rv8::testing
