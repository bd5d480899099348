// The window on the simulated instrument (the real driver library, loaded by the program's own
// loader) told to misbehave through its options, and a recording that runs into the file-size
// limit while "Run/Stop" keeps the acquisition loop going.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "app/Form1.h"
#include "core/Numbers.h"
#include "core/Ui.h"
#include "logging/RecordingFile.h"
#include "tests/app/SimFormFixture.h"

namespace rv8::testing {
namespace {

class OnSimulator : public FormOnSimulator {
  protected:
    QTemporaryDir tmp;

    void Start(std::map<std::string, std::string> options) {
        ASSERT_TRUE(tmp.isValid());
        FormOnSimulator::Start(std::move(options));
    }
    QString file(const QString& name) const { return QDir(tmp.path()).filePath(name); }
};

struct SimCase {
    const char* name;
    std::map<std::string, std::string> options;
};

class SimulatorOptions : public OnSimulator, public ::testing::WithParamInterface<SimCase> {};

TEST_P(SimulatorOptions, TheWindowKeepsWorkingAndRecordsWhatItShows) {
    Start(GetParam().options);
    const QString name = file("sim.cvx");
    form->Text1->setText(name);
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen());
    for (int entry = 0; entry < form->RecordlenthCombo->count(); ++entry) {
        SelectItem(*form->RecordlenthCombo, (entry + 5) % form->RecordlenthCombo->count());
        form->Command2->click();
    }
    for (QPushButton* b :
         {form->TrigLevelCh1UpButton, form->TrigLevelCh2DownButton, form->TrigHysCh1UpButton,
          form->TrigHysCh2DownButton, form->TrigTimeoutUpButton, form->TrigTimeoutDownButton,
          form->Command1, form->Command2})
        b->click();
    form->Option2->click();
    form->Command2->click();
    form->Option1->click();
    form->SetSampleFreqTextBox->setText("-1e400");
    form->Command2->click();
    const int16_t written = form->LoggedRecordCount();
    form->Check1->click();
    // The steppers, disabled while recording, work again.
    for (QPushButton* b : {form->SetSenseCh1UpButton, form->SetSenseCh2DownButton,
                           form->SetSampleFreqUpButton, form->SetSampleFreqDownButton})
        b->click();
    form->Command2->click();
    for (const QLabel* l : {form->Ymax1, form->Ymax2, form->Ymin1, form->Ymin2})
        EXPECT_TRUE(l->text().endsWith(" V")) << l->text().toStdString();

    const auto r = ReadRecording(name.toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail) << r.error;
    EXPECT_EQ(r.recordCount, static_cast<uint64_t>(written));
    EXPECT_EQ(VerifyWithCli(name), 0);
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimulatorOptions,
    ::testing::Values(
        SimCase{"Normal", {}}, SimCase{"MeasurementsFail", {{"RV8SIM_START_RESULT", "1"}}},
        SimCase{"NaNAndNegativeRanges", {{"RV8SIM_SENS1", "nan"}, {"RV8SIM_SENS2", "-2"}}},
        SimCase{"InfiniteAndZeroRanges", {{"RV8SIM_SENS1", "inf"}, {"RV8SIM_SENS2", "0"}}},
        SimCase{"RecordLengthOne", {{"RV8SIM_MAX_RECLEN", "1"}}},
        SimCase{"RecordLengthThree", {{"RV8SIM_MAX_RECLEN", "3"}}},
        SimCase{"SampleFrequencyOne", {{"RV8SIM_MAX_FREQ", "1"}}},
        SimCase{"LargestSampleFrequency", {{"RV8SIM_MAX_FREQ", "2147483647"}}},
        SimCase{"ClippedInputs", {{"RV8SIM_CH1", "raw:65535"}, {"RV8SIM_CH2", "raw:0"}}},
        SimCase{"HugeNoise", {{"RV8SIM_CH1", "noise:1e300"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- A full disk (the process's file-size limit) ---------------------------------------------

struct DiskCase {
    const char* name;
    int records;  // complete records that fit under the limit; -1: not even the header
    int extra;    // bytes of room beyond them
};

class FullDisk : public OnSimulator, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(FullDisk, EndsTheRecordingWithAMessageAndKeepsAcquiring) {
    const DiskCase& c = GetParam();
    Start({});
    SelectItem(*form->RecordlenthCombo, 7);  // 1024 samples
    ASSERT_EQ(form->RecordLength(), 1024);
    const QString name = file("full.cvx");
    // Header 70 bytes; each record 40 + a settings block of 92 + 13 bytes of comment ("Log
    // comment N") + 4096 samples.
    const int64_t header = 70;
    const int64_t record = 40 + 92 + 13 + 4 * 1024;
    const int64_t limit = c.records < 0 ? 30 : header + c.records * record + c.extra;
    form->Text1->setText(name);
    form->Timer1.setInterval(1);
    {
        FileSizeLimit fsize(static_cast<rlim_t>(limit));
        ASSERT_TRUE(fsize.ok());
        form->Check1->click();
        form->Command3->click();  // Run
        ProcessUntil([&] { return !messages.shown.empty(); }, 20000);
        fsize.release();
    }
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains(name)) << messages.shown[0].text.toStdString();
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_FALSE(form->writer().isOpen());
    // The loop goes on.
    const int plots = form->Kurvo1->plotCount();
    EXPECT_TRUE(ProcessUntil([&] { return form->Kurvo1->plotCount() >= plots + 5; }, 10000));
    EXPECT_TRUE(form->Timer1.isActive());
    form->Command3->click();  // Stop

    if (c.records < 0) {
        EXPECT_FALSE(QFile::exists(name));  // nothing half made is left behind
        EXPECT_EQ(form->LoggedRecordCount(), 0);
        return;
    }
    EXPECT_EQ(form->LoggedRecordCount(), c.records);
    if (c.records > 0) {
        EXPECT_EQ(form->eventcount->text(), QStringLiteral("%1/8000").arg(c.records - 1));
    }
    const auto r = ReadRecording(name.toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail) << r.error;
    EXPECT_EQ(r.recordCount, static_cast<uint64_t>(c.records));
    EXPECT_EQ(VerifyWithCli(name), 0);

    // A new recording on a disk with room again works.
    form->Text1->setText(file("after.cvx"));
    form->Check1->click();
    form->Command2->click();
    form->Check1->click();
    EXPECT_EQ(ReadRecording(file("after.cvx").toStdString()).recordCount, 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, FullDisk,
                         ::testing::Values(DiskCase{"NoRoomForTheHeader", -1, 0},
                                           DiskCase{"RoomForTheHeaderOnly", 0, 100},
                                           DiskCase{"ThreeRecordsAndABit", 3, 1000},
                                           DiskCase{"ExactlyFiveRecords", 5, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::testing
