#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/Ui.h"
#include "logging/RecordingFile.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

class RecordingTest : public FormTest {
  protected:
    QTemporaryDir dir;

    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        Start();
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    void Tick(const QString& file) {
        form->Text1->setText(file);
        form->Check1->click();
    }
    std::vector<QPushButton*> steppers() const {
        return {form->SetSampleFreqDownButton, form->SetSampleFreqUpButton,
                form->SetSenseCh1DownButton,   form->SetSenseCh1UpButton,
                form->SetSenseCh2DownButton,   form->SetSenseCh2UpButton};
    }
    bool steppersEnabled() const {
        for (auto* b : steppers())
            if (!b->isEnabled()) return false;
        return true;
    }
    static void Touch(const QString& file, const QByteArray& content) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
};

TEST_F(RecordingTest, RecordsEveryDisplayPassWithNumberedCommentsAndMaskedSamples) {
    const uint16_t raw[] = {32767, 32768, 32771, 65535, 0};
    inst.sample = [&](int ch, int32_t i) { return raw[(i + ch) % 5]; };
    Tick(path("run.cvx"));
    EXPECT_TRUE(form->Check1->isChecked());
    EXPECT_TRUE(form->writer().isOpen());
    for (auto* b : steppers())
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    EXPECT_EQ(form->eventcount->text(), "0/8000");
    form->Command2->click();
    EXPECT_EQ(form->eventcount->text(), "0/8000");
    form->Text2->setText("second");
    form->Command2->click();
    form->Command1->click();  // a redraw without a new acquisition is recorded too
    EXPECT_EQ(form->eventcount->text(), "2/8000");
    EXPECT_EQ(form->LoggedRecordCount(), 3);
    form->Check1->click();
    EXPECT_TRUE(steppersEnabled());
    EXPECT_FALSE(form->writer().isOpen());
    EXPECT_EQ(form->eventcount->text(), "2/8000");  // stopping keeps the count

    const RecordingReadResult r = ReadRecording(path("run.cvx").toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail);
    EXPECT_EQ(r.header.channelCount, 2);
    EXPECT_EQ(r.header.sampleRate, 500000);
    ASSERT_EQ(r.header.ranges.size(), 2u);
    EXPECT_EQ(r.header.ranges[0].upper, 4);
    EXPECT_EQ(r.header.ranges[0].lower, -4);
    EXPECT_EQ(r.header.ranges[1].upper, 0.8);
    ASSERT_EQ(r.records.size(), 3u);
    EXPECT_EQ(r.records[0].comment, "Log comment 0");
    EXPECT_EQ(r.records[1].comment, "second 1");
    EXPECT_EQ(r.records[2].comment, "second 2");
    const int16_t masked[] = {-4, 0, 0, 32764, -32768};
    for (const auto& rec : r.records) {
        EXPECT_EQ(rec.eventMark, 1);
        ASSERT_EQ(rec.frames, 4096u);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(rec.samples[2 * i], masked[i % 5]) << i;
            EXPECT_EQ(rec.samples[2 * i + 1], masked[(i + 1) % 5]) << i;
        }
    }
}

TEST_F(RecordingTest, ARestartNumbersFromZeroInANewFile) {
    Tick(path("a.cvx"));
    form->Command2->click();
    form->Command2->click();
    form->Check1->click();
    Tick(path("b.cvx"));
    EXPECT_EQ(form->LoggedRecordCount(), 0);
    EXPECT_EQ(form->eventcount->text(), "0/8000");
    form->Command2->click();
    form->Check1->click();
    const auto r = ReadRecording(path("b.cvx").toStdString());
    ASSERT_EQ(r.records.size(), 1u);
    EXPECT_EQ(r.records[0].comment, "Log comment 0");
}

struct TakenCase {
    const char* name;
    const char* existing;  // file made beforehand
    const char* asked;     // text of the file-name box
};

class TakenNames : public RecordingTest, public ::testing::WithParamInterface<TakenCase> {};

TEST_P(TakenNames, AreRefusedAndLeftUntouched) {
    const TakenCase& c = GetParam();
    Touch(path(c.existing), "precious");
    QFile(path(c.existing)).setPermissions(QFile::ReadOwner);
    const QString asked = path(c.asked);
    Tick(asked);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "Log file");
    EXPECT_EQ(messages.shown[0].text, asked + " exists, please specify a new name");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::None);
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_TRUE(steppersEnabled());
    EXPECT_FALSE(form->writer().isOpen());
    QFile f(path(c.existing));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "precious");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Table, TakenNames,
                         ::testing::Values(TakenCase{"Plain", "data.cvx", "data.cvx"},
                                           // Short names count too: starting on one would
                                           // overwrite the user's file.
                                           TakenCase{"ThreeLetters", "abc", "abc"},
                                           TakenCase{"Star", "data.cvx", "*.cvx"},
                                           TakenCase{"QuestionMark", "data.cvx", "dat?.cvx"},
                                           TakenCase{"ReadOnly", "ro.cvx", "ro.cvx"},
                                           // Brackets are no wildcard: they match themselves.
                                           TakenCase{"Brackets", "run[1]a.cvx", "run[1]*.cvx"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordingTest, WildcardsThatMatchOnlyFoldersCountAsFree) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.cvx"));
    Tick(path("*.cvx"));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(form->writer().isOpen());
    form->Check1->click();
}

TEST_F(RecordingTest, PassesWhileTheRefusalIsShownWriteNothing) {
    Touch(path("taken.cvx"), "x");
    messages.whileShown = [&] { form->Command2->click(); };
    Tick(path("taken.cvx"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
    EXPECT_EQ(form->eventcount->text(), "0/8000");
}

TEST_F(RecordingTest, ARecordingThatCannotBeOpenedSaysWhyAndDoesNotRun) {
    const QString missing = path("no-such-folder/x.cvx");
    Tick(missing);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains(missing)) << messages.shown[0].text.toStdString();
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_TRUE(steppersEnabled());
    form->Command2->click();
    EXPECT_EQ(form->LoggedRecordCount(), 0);
}

TEST_F(RecordingTest, StopsWritingAt8000Records) {
    inst.takeRecordLength = [](int32_t) { return 2; };
    SelectItem(*form->RecordlenthCombo, 7);
    ASSERT_EQ(form->RecordLength(), 2);
    Tick(path("full.cvx"));
    const QColor normal = form->eventcount->palette().color(QPalette::WindowText);
    for (int i = 0; i < 7999; ++i)
        form->Command2->click();
    EXPECT_TRUE(form->eventcount->toolTip().isEmpty());  // one record still fits
    for (int i = 0; i < 4; ++i)
        form->Command2->click();
    EXPECT_EQ(form->LoggedRecordCount(), 8000);
    EXPECT_EQ(form->eventcount->text(), "7999/8000");
    EXPECT_TRUE(form->Check1->isChecked());
    // Full, without a message: the label says so in its colour and its tooltip.
    EXPECT_TRUE(messages.shown.empty());
    form->eventcount->ensurePolished();
    EXPECT_NE(form->eventcount->palette().color(QPalette::WindowText), normal);
    EXPECT_TRUE(form->eventcount->toolTip().contains("full"))
        << form->eventcount->toolTip().toStdString();
    form->Check1->click();
    form->eventcount->ensurePolished();
    EXPECT_EQ(form->eventcount->palette().color(QPalette::WindowText), normal);
    EXPECT_TRUE(form->eventcount->toolTip().isEmpty());
    const auto r = ReadRecording(path("full.cvx").toStdString());
    EXPECT_EQ(r.recordCount, 8000u);
    EXPECT_FALSE(r.damagedTail);
    EXPECT_EQ(r.records.back().comment, "Log comment 7999");
}

TEST_F(RecordingTest, EachRecordCarriesTheSampleRateInForce) {
    Tick(path("rate.cvx"));
    form->Command2->click();
    form->SetSampleFreqTextBox->setText("1000");  // the box stays editable while recording
    form->Command2->click();
    form->Check1->click();
    const auto r = ReadRecording(path("rate.cvx").toStdString());
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[0].sampleRate, 500000);
    EXPECT_EQ(r.records[1].sampleRate, 1000);
}

TEST_F(RecordingTest, AFailedWriteEndsTheRecordingAndKeepsEveryCompleteRecord) {
    Tick(path("limited.cvx"));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 40000;  // room for the header and two records of 4096 frames
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 4; ++i)
        form->Command2->click();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(form->LoggedRecordCount(), 2);
    EXPECT_EQ(form->eventcount->text(), "1/8000");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains("limited.cvx"));
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_TRUE(steppersEnabled());
    const auto r = ReadRecording(path("limited.cvx").toStdString());
    EXPECT_EQ(r.recordCount, 2u);
    EXPECT_FALSE(r.damagedTail);
    form->Command2->click();  // the window keeps acquiring
    EXPECT_EQ(inst.fetchCount, 5);
}

TEST_F(RecordingTest, ClosingTheWindowClosesTheRecording) {
    Tick(path("closed.cvx"));
    form->Command2->click();
    form->close();
    EXPECT_FALSE(form->writer().isOpen());
    EXPECT_EQ(ReadRecording(path("closed.cvx").toStdString()).recordCount, 1u);
}

}  // namespace
}  // namespace rv8::testing
