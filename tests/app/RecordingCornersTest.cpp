// What stays usable during a recording, and what a change made during one does to the open file.
#include <QDir>
#include <QTemporaryDir>

#include "core/Ui.h"
#include "logging/RecordingFile.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

class DuringARecording : public FormTest {
  protected:
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        FormTest::SetUp();
        Start();
        form->Text1->setText(dir.filePath("open.cvx"));
        form->Check1->click();
        ASSERT_TRUE(form->writer().isOpen()) << form->writer().errorString().toStdString();
    }
    RecordingReadResult Stop() {
        form->Check1->click();
        return ReadRecording(dir.filePath("open.cvx").toStdString());
    }
};

TEST_F(DuringARecording, EditingTheFileNameChangesNothingForTheOpenFile) {
    form->Command2->click();
    for (const QString& name :
         {dir.filePath("other.cvx"), QString(), dir.filePath("*.cvx"), dir.filePath("open.cvx")}) {
        form->Text1->setText(name);
        form->Command2->click();
    }
    EXPECT_TRUE(form->Check1->isChecked());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(form->writer().fileName(), dir.filePath("open.cvx"));
    const auto r = Stop();
    EXPECT_EQ(r.recordCount, 5u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"open.cvx"});
}

TEST_F(DuringARecording, EachRecordCarriesTheRecordLengthItWasTakenWith) {
    const struct {
        int item;  // of the record-length list; -1: keep the length
        uint32_t frames;
    } steps[] = {{-1, 4096}, {7, 1024}, {0, 130000}, {-1, 130000}, {2, 32768}, {6, 2048}};
    for (const auto& s : steps) {
        if (s.item >= 0) SelectItem(*form->RecordlenthCombo, s.item);
        form->Command2->click();
    }
    EXPECT_EQ(form->eventcount->text(), "5/8000");
    const auto r = Stop();
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail);
    ASSERT_EQ(r.records.size(), std::size(steps));
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(r.records[i].frames, steps[i].frames) << "record " << i;
        EXPECT_EQ(r.records[i].samples.size(), 2u * steps[i].frames) << "record " << i;
    }
}

TEST_F(DuringARecording, FrequencyLengthTriggerAndModeControlsStayUsable) {
    const std::vector<QWidget*> usable{
        form->SetSampleFreqTextBox, form->RecordlenthCombo,       form->MeasureModeCombo,
        form->TrigSourceCombo,      form->TrigModeCombo,          form->TrigLevelCh1DownButton,
        form->TrigLevelCh1UpButton, form->TrigLevelCh2DownButton, form->TrigLevelCh2UpButton,
        form->TrigHysCh1DownButton, form->TrigHysCh1UpButton,     form->TrigHysCh2DownButton,
        form->TrigHysCh2UpButton,   form->TrigTimeoutDownButton,  form->TrigTimeoutUpButton};
    for (QWidget* w : usable)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    for (QWidget* w :
         std::initializer_list<QWidget*>{form->SetSampleFreqDownButton, form->SetSampleFreqUpButton,
                                         form->SetSenseCh1DownButton, form->SetSenseCh1UpButton,
                                         form->SetSenseCh2DownButton, form->SetSenseCh2UpButton}) {
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    }
    // Using them goes on recording.
    form->Command2->click();
    SelectItem(*form->TrigSourceCombo, 1);
    SelectItem(*form->MeasureModeCombo, 2);
    form->TrigLevelCh1UpButton->click();
    form->Command2->click();
    for (QWidget* w : usable)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form->Check1->isChecked());
    EXPECT_EQ(Stop().recordCount, 2u);
}

}  // namespace
}  // namespace rv8::testing
