#include <QSignalSpy>

#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

using Calls = std::vector<std::string>;

// What the sample-frequency box's change handler sends for a text that asks for `asked`,
// when the instrument takes every frequency; `nested` when the write-back differs from the
// text (no leading space) and so runs the handler once more.
void FrequencyHandler(Calls& c, int32_t max, int32_t asked, bool nested) {
    for (int run = 0; run < (nested ? 2 : 1); ++run) {
        c.push_back("GetMaxSampleFrequency = " + std::to_string(max));
        c.push_back("SetSampleFrequency " + std::to_string(asked) + " -> " + std::to_string(asked));
        c.push_back("GetSampleFrequency = " + std::to_string(asked));
    }
}

Calls ExpectedStartup(int32_t startLength, int32_t startPost, int32_t max, int32_t half) {
    Calls c{"InitInstrument 776", "InitInstrument 776", "GetSerialNumber -> 12345",
            "GetCalibrationDate -> 252315608", "GetMaxSampleFrequency = " + std::to_string(max)};
    FrequencyHandler(c, max, max, false);
    c.push_back("GetMaxRecordLength = 131072");
    c.push_back("GetRecordLength = " + std::to_string(startLength));
    c.push_back("GetPostSamples = " + std::to_string(startPost));
    if (startLength != 4096) {
        if (startPost > 4096) {
            c.push_back("SetPostSamples 2048");
            c.push_back("SetRecordLength 4096");
        } else {
            c.push_back("SetRecordLength 4096");
            c.push_back("SetPostSamples 2048");
        }
        c.push_back("GetPostSamples = 2048");
        c.push_back("GetRecordLength = 4096");
    }
    for (const char* s :
         {"SetMeasureMode 1", "SetTriggerSource 0", "SetTriggerMode 0", "SetTriggerLevel 1 0",
          "SetTriggerLevel 2 0", "GetSensitivity 1 0 -> 4", "SetTriggerHys 1 0.5",
          "GetSensitivity 2 0 -> 0.8", "SetTriggerHys 2 0.1", "GetSensitivity 1 0 -> 4",
          "SetCoupling 1 0", "GetSensitivity 2 0 -> 0.8", "SetCoupling 2 0"}) {
        c.push_back(s);
    }
    FrequencyHandler(c, max, half, true);
    return c;
}

struct StartupCase {
    const char* name;
    int32_t startLength;
    int32_t startPost;
    int32_t maxFrequency;
    int32_t half;  // what the last step asks for
};

class StartupSequence : public ::testing::TestWithParam<StartupCase> {};

TEST_P(StartupSequence, SendsEverySettingInOrder) {
    const StartupCase& p = GetParam();
    FakeInstrument inst;
    inst.recordLength = p.startLength;
    inst.postSamples = p.startPost;
    inst.maxFrequency = p.maxFrequency;
    FakeMessages messages;
    Form1 form(inst, messages);
    ASSERT_TRUE(form.Form_Load());
    EXPECT_EQ(inst.calls, ExpectedStartup(p.startLength, p.startPost, p.maxFrequency, p.half));
    EXPECT_EQ(form.SetSampleFreqTextBox->text().toStdString(), " " + std::to_string(p.half));
    EXPECT_EQ(form.RecordLength(), 4096);
    EXPECT_EQ(form.PostSamples(), 2048);
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Instruments, StartupSequence,
    ::testing::Values(StartupCase{"LongerRecordEvenMax", 65536, 32768, 1000000, 500000},
                      StartupCase{"ShorterRecordEvenMax", 1024, 512, 1000000, 500000},
                      StartupCase{"SameRecordOddMax", 4096, 2048, 1000001, 500000},
                      StartupCase{"ShorterRecordOddMaxRoundsUp", 2048, 1024, 1000003, 500002},
                      StartupCase{"LongRecordSmallPost", 8192, 100, 200000, 100000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, StartupLeavesTheWindowReadyToAcquire) {
    ASSERT_TRUE(form->Form_Load());
    EXPECT_EQ(form->windowTitle(), "Corvex RV8 Scope/Recorder (SN#: 12345)");
    EXPECT_EQ(form->SerialNumBox->text(), " 12345");
    EXPECT_EQ(form->CalDateBox->text(), " 15- 10- 2008");
    EXPECT_EQ(form->MaxSampleFreqBox->text(), " 1000000");
    EXPECT_EQ(form->maxRecLenBox->text(), "131072");
    EXPECT_EQ(form->SetSenseCh1TextBox->text(), "4");
    EXPECT_EQ(form->SetSenseCh2TextBox->text(), "0.8");
    EXPECT_EQ(form->TrigLevelCh1Text->text(), " 0");
    EXPECT_EQ(form->TrigHysCh1Text->text(), " .5");
    EXPECT_EQ(form->TrigHysCh2Text->text(), " .1");
    EXPECT_EQ(form->MaxFreq->text(), "250000");
    EXPECT_EQ(form->GetRecordLenthTextBox->text(), " 4096");
    EXPECT_EQ(form->GetPostSamplesText->text(), " 2048");
    EXPECT_EQ(form->RecordlenthCombo->currentText(), "4096");
    EXPECT_EQ(form->HScroll3->maximum(), 8);
    for (QWidget* box : std::initializer_list<QWidget*>{
             form->SerialNumBox, form->CalDateBox, form->MaxSampleFreqBox, form->maxRecLenBox,
             form->SetSenseCh1TextBox, form->SetSenseCh2TextBox, form->TrigLevelCh1Text,
             form->TrigLevelCh2Text, form->TrigHysCh1Text, form->TrigHysCh2Text, form->Command9}) {
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    }
    EXPECT_TRUE(form->SetSampleFreqTextBox->isEnabled());
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->Command3->text(), "Run/Stop");
    EXPECT_EQ(form->eventcount->text(), "0/8000");
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_EQ(form->Text2->text(), "Log comment");
    EXPECT_EQ(form->Text1->text(), "c:\\Rv8Capture.cvx");
    EXPECT_EQ(form->Ymax1->text(), "4.00 V");
    EXPECT_EQ(form->Ymin2->text(), "-0.80 V");
    EXPECT_EQ(form->Kurvo1->traceColor(0), QColor(0, 0, 255));
    EXPECT_EQ(form->Kurvo1->traceColor(1), QColor(192, 0, 0));
    EXPECT_EQ(form->Kurvo1->persistenceMode(), 0);
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), 30);
    EXPECT_EQ(form->views().FreqYMin, (std::array<int32_t, 2>{0, 0}));
    EXPECT_EQ(form->views().FreqYMax, (std::array<int32_t, 2>{32768, 32768}));
    // The start-up pass draws the zeroed buffers: both traces at the bottom of the range.
    ASSERT_EQ(form->Kurvo1->plotCount(), 1);
    const auto& v = form->Kurvo1->lastPlotValues();
    ASSERT_EQ(v.size(), 2u * 512);
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](int16_t s) { return s == -32768; }));
}

TEST_F(FormTest, HysteresisAndSensitivityTextsForExtremeRanges) {
    inst.sensitivity[0] = 0.2;
    inst.sensitivity[1] = 80;
    ASSERT_TRUE(form->Form_Load());
    EXPECT_EQ(form->TrigHysCh1Text->text(), " .025");
    EXPECT_EQ(form->TrigHysCh2Text->text(), " 10");
    EXPECT_EQ(form->SetSenseCh1TextBox->text(), "0.2");
    EXPECT_EQ(form->SetSenseCh2TextBox->text(), "80");
}

TEST_F(FormTest, MissingInstrumentShowsTheMessageAndNothingElse) {
    inst.serial = 0;
    EXPECT_FALSE(form->Form_Load());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "RV8 Scope/Recorder");
    EXPECT_EQ(messages.shown[0].text,
              "Corvex RV8 scope not is detected, please verify the connection and try again "
              "later");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Information);
    EXPECT_FALSE(form->windowTitle().contains("(SN#:"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Kurvo1->plotCount(), 0);
    EXPECT_EQ(inst.count("ExitInstrument"), 0);
}

TEST(CalibrationText, DayMonthYear) {
    const struct {
        int32_t word;
        const char* text;
    } cases[] = {
        {0x0F0A07D8, " 15- 10- 2008"},
        {0, " 0- 0- 0"},
        {0x1F0CFFFF, " 31- 12- 65535"},
        {0x01010001, " 1- 1- 1"},
        // Day from the signed word: bits 24-31 above 127 read as a negative day.
        {static_cast<int32_t>(0xFF0107E0), "-1- 1- 2016"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Form1::CalibrationText(c.word).toStdString(), c.text) << std::hex << c.word;
    }
}

TEST_F(FormTest, ClosingClosesTheFileThenReleasesTheInstrumentOnce) {
    Start();
    form->close();
    form->Form_Unload();
    form->Form_Terminate();
    form->Form_Terminate();
    EXPECT_EQ(inst.calls, (Calls{"ExitInstrument"}));
    EXPECT_FALSE(form->writer().isOpen());
}

TEST_F(FormTest, DefaultRestoresFullScaleWithoutTouchingTheInstrument) {
    Start();
    form->Kurvo1->YMax(0, 100);
    form->Kurvo1->YMin(1, -100);
    form->HScroll3->setValue(8);
    form->HScroll2->setValue(0);
    const int plots = form->Kurvo1->plotCount();
    form->Command1->click();
    EXPECT_TRUE(inst.calls.empty());
    EXPECT_EQ(form->Kurvo1->YMax(0), 32767);
    EXPECT_EQ(form->Kurvo1->YMin(1), -32768);
    EXPECT_EQ(form->HScroll3->value(), 1);
    EXPECT_EQ(form->HScroll2->value(), 8192);
    EXPECT_EQ(form->Ymax1->text(), "4.00 V");
    EXPECT_EQ(form->Ymin2->text(), "-0.80 V");
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
    EXPECT_EQ(form->RecordLength(), 4096);
}

class ThrowingInstrument : public FakeInstrument {
  public:
    int32_t StartMeasurement() override { throw std::runtime_error("the cable came loose"); }
};

TEST(EventBoundary, AFailingHandlerIsReportedAndTheWindowKeepsWorking) {
    ThrowingInstrument inst;
    FakeMessages messages;
    Form1 form(inst, messages);
    ASSERT_TRUE(form.Form_Load());
    form.Command2->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains("Command2_Click"));
    EXPECT_TRUE(messages.shown[0].text.contains("the cable came loose"));
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
    form.Command3->click();  // still answers
    EXPECT_EQ(form.Command3->text(), "Stop");
}

TEST_F(FormTest, ControlsCarryTheirNamesAndPlaces) {
    // A click at a control's documented place meets that control (15 twips to a pixel).
    const struct {
        const char* name;
        int left, top, width, height;
    } placed[] = {{"Kurvo1", 2760, 480, 7680, 6015},
                  {"HScroll2", 240, 6480, 2295, 255},
                  {"Command4", 9120, 7080, 1095, 615},
                  {"Check1", 2760, 120, 1935, 255},
                  {"eventcount", 9840, 120, 975, 255}};
    for (const auto& p : placed) {
        auto* w = form->findChild<QWidget*>(p.name);
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15))
            << p.name;
    }
    EXPECT_EQ(form->size(), QSize(784, 543));
    EXPECT_EQ(form->findChild<QComboBox*>("RecordlenthCombo")->count(), 8);
    EXPECT_EQ(form->RecordlenthCombo->currentIndex(), -1);
    EXPECT_EQ(form->HScroll1->value(), 30);
    EXPECT_FALSE(form->Frame1->isVisible());
    EXPECT_EQ(form->Command4->text(), "Copy  to Clipboard");
}

}  // namespace
}  // namespace rv8::testing

namespace rv8::testing {
namespace {

class VanishingInstrument : public FakeInstrument {
  public:
    int32_t StartMeasurement() override {
        throw DriverUnavailable(
            "The instrument driver library librv8.so has no function "
            "StartMeasurement.");
    }
};

TEST(EventBoundaryDeathTest, ADriverFunctionThatIsMissingEndsTheProgramWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            VanishingInstrument inst;
            FakeMessages messages;
            Form1 form(inst, messages);
            if (!form.Form_Load()) std::exit(0);
            form.Command2->click();
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "no function StartMeasurement");
}

}  // namespace
}  // namespace rv8::testing
