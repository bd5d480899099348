// The window on the simulator (the real driver library through the program's own loader) with
// "Run/Stop" running and a recording open, while someone else removes the recording's folder or
// file, cuts the file, or puts another file in its place: the recording ends with a message that
// names the file within about a second, the box is cleared and the six step buttons work again,
// and the acquisition loop goes on while the message is up. The messages are the program's own
// (QtMessages: window-modal boxes that do not wait). Also the window closed right after such a
// change, before a check between passes could find it.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <optional>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include "app/Form1.h"
#include "app/QtMessages.h"
#include "core/Ui.h"
#include "logging/RecordingFile.h"
#include "tests/reliability/Support.h"
#include "tests/support/FakeInstrument.h"
#include "tests/support/FakeMessages.h"

namespace rv8::testing {
namespace {

// What became of the file's name after the recording ended.
enum class Left { Nothing, Empty, CutAtTheOffset, TheOtherFile, TheLargerFile };

struct TamperCase {
    const char* name;
    // Done to the recording `file` (in its own folder); returns the file's size it left, if any.
    std::function<qint64(const QString& file)> tamper;
    const char* says;  // in the message
    Left left;
};

constexpr char kOtherContent[] = "someone else's notes, not a recording";

// Another program's file, larger than the recording, that it writes over the recording's own
// bytes (the same file, truncated and rewritten, as cp does onto an existing name).
QByteArray LargerContent() {
    return QByteArray(kOtherContent).repeated(20000);
}
void OverwriteInPlace(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    EXPECT_EQ(f.write(LargerContent()), LargerContent().size());
}

class TamperedRecording : public ::testing::TestWithParam<TamperCase> {
  protected:
    QtMessages messages;
    std::unique_ptr<Rv8Library> driver;
    std::unique_ptr<Form1> form;
    QTemporaryDir tmp;

    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        SetSimOptions({});
        driver = LoadSimulator();
        form = std::make_unique<Form1>(*driver, messages);
        messages.setParent(form.get());
        ASSERT_TRUE(form->Form_Load());
        form->show();
    }
    void TearDown() override {
        for (QMessageBox* box : messages.notificationsUp())
            box->close();
        if (form) {
            form->close();
            form->Form_Terminate();
        }
        form.reset();
    }
    std::vector<QPushButton*> steppers() const {
        return {form->SetSampleFreqDownButton, form->SetSampleFreqUpButton,
                form->SetSenseCh1DownButton,   form->SetSenseCh1UpButton,
                form->SetSenseCh2DownButton,   form->SetSenseCh2UpButton};
    }
};

TEST_P(TamperedRecording, EndsWithAMessageWhileTheLoopGoesOn) {
    const TamperCase& c = GetParam();
    SelectItem(*form->RecordlenthCombo, 7);  // 1024 samples: a record of about 4 KiB
    ASSERT_EQ(form->RecordLength(), 1024);
    const QString folder = QDir(tmp.path()).filePath(QStringLiteral("session"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString name = QDir(folder).filePath(QStringLiteral("run.cvx"));
    form->Text1->setText(name);
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen());
    form->Command3->click();  // Run
    ASSERT_TRUE(ProcessUntil([&] { return form->LoggedRecordCount() >= 6; }, 10000));

    const qint64 leftSize = c.tamper(name);
    QElapsedTimer sinceTamper;
    sinceTamper.start();
    const bool ended = ProcessUntil([&] { return !messages.notificationsUp().empty(); }, 5000);
    const qint64 latencyMs = sinceTamper.elapsed();
    std::printf("[ %s ] message after %lld ms\n", c.name, static_cast<long long>(latencyMs));
    ASSERT_TRUE(ended) << "no message within 5 s";

    const std::vector<QMessageBox*> up = messages.notificationsUp();
    ASSERT_EQ(up.size(), 1u);
    const QString text = up[0]->text();
    EXPECT_TRUE(text.contains(name)) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String(c.says))) << text.toStdString();
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_FALSE(form->writer().isOpen());
    for (QPushButton* b : steppers())
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

    // The acquisition goes on while the message is up, and nothing more is recorded.
    const int16_t logged = form->LoggedRecordCount();
    const int plots = form->Kurvo1->plotCount();
    ProcessUntil([] { return false; }, 300);
    const int whileUp = form->Kurvo1->plotCount() - plots;
    std::printf("[ %s ] %d acquisitions in 300 ms with the message up\n", c.name, whileUp);
    EXPECT_GE(whileUp, 3);
    EXPECT_EQ(messages.notificationsUp().size(), 1u);
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(form->LoggedRecordCount(), logged);

    // The name holds what the other program left there, never more of the recording.
    QFile left(name);
    switch (c.left) {
        case Left::Nothing:
            EXPECT_FALSE(left.exists());
            break;
        case Left::Empty:
            EXPECT_EQ(left.size(), 0);
            break;
        case Left::CutAtTheOffset: {
            EXPECT_EQ(left.size(), leftSize);
            const RecordingReadResult r = ReadRecording(name.toStdString());
            EXPECT_TRUE(r.headerOk) << r.error;
            EXPECT_LT(r.recordCount, static_cast<uint64_t>(logged));
            break;
        }
        case Left::TheOtherFile:
            ASSERT_TRUE(left.open(QIODevice::ReadOnly));
            EXPECT_EQ(left.readAll(), QByteArray(kOtherContent));
            break;
        case Left::TheLargerFile:
            ASSERT_TRUE(left.open(QIODevice::ReadOnly));
            EXPECT_TRUE(left.readAll() == LargerContent()) << left.size() << " bytes";
            break;
    }

    // Once the message is closed, a new recording works.
    up[0]->close();
    EXPECT_TRUE(ProcessUntil([&] { return messages.notificationsUp().empty(); }, 1000));
    const QString after = QDir(tmp.path()).filePath(QStringLiteral("after.cvx"));
    form->Text1->setText(after);
    form->Check1->click();
    EXPECT_TRUE(ProcessUntil([&] { return form->LoggedRecordCount() >= 2; }, 5000));
    form->Check1->click();
    form->Command3->click();  // Stop
    const RecordingReadResult r = ReadRecording(after.toStdString());
    EXPECT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail) << r.error;
    EXPECT_GE(r.recordCount, 2u);
}

qint64 CutTo(const QString& file, qint64 size) {
    EXPECT_EQ(::truncate(QFile::encodeName(file).constData(), size), 0);
    return size;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TamperedRecording,
    ::testing::Values(TamperCase{"FolderRemoved",
                                 [](const QString& file) {
                                     EXPECT_TRUE(QFileInfo(file).dir().removeRecursively());
                                     return qint64{0};
                                 },
                                 "was deleted", Left::Nothing},
                      TamperCase{"FileRemoved",
                                 [](const QString& file) {
                                     EXPECT_TRUE(QFile::remove(file));
                                     return qint64{0};
                                 },
                                 "was deleted", Left::Nothing},
                      TamperCase{"CutToNothing", [](const QString& file) { return CutTo(file, 0); },
                                 "was shortened", Left::Empty},
                      TamperCase{"CutInTheMiddle",
                                 [](const QString& file) {
                                     return CutTo(file, QFileInfo(file).size() / 2);
                                 },
                                 "was shortened", Left::CutAtTheOffset},
                      TamperCase{"ReplacedByAnotherFile",
                                 [](const QString& file) {
                                     const QString other = file + QStringLiteral(".new");
                                     QFile f(other);
                                     EXPECT_TRUE(f.open(QIODevice::WriteOnly));
                                     f.write(kOtherContent);
                                     f.close();
                                     EXPECT_EQ(::rename(QFile::encodeName(other).constData(),
                                                        QFile::encodeName(file).constData()),
                                               0);
                                     return qint64{sizeof kOtherContent - 1};
                                 },
                                 "was replaced", Left::TheOtherFile},
                      TamperCase{"OverwrittenInPlaceByALargerFile",
                                 [](const QString& file) {
                                     OverwriteInPlace(file);
                                     return qint64{LargerContent().size()};
                                 },
                                 "was replaced", Left::TheLargerFile}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Closing the window right after the file changed ------------------------------------------

struct CloseCase {
    const char* name;
    std::function<void(const QString& file)> tamper;  // null: the file is left alone
    const char* says;
    std::optional<QByteArray> left = std::nullopt;  // what the file must hold afterwards
};

class ClosingTheWindow : public ::testing::TestWithParam<CloseCase> {};

// Before any check between passes could find it: the close itself finds it and says so, in a
// message that waits (the program may end right after).
TEST_P(ClosingTheWindow, ReportsARecordingThatCouldNotBeClosedSoundly) {
    const CloseCase& c = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    FakeInstrument inst;
    FakeMessages messages;
    Form1 form(inst, messages);
    ASSERT_TRUE(form.Form_Load());
    const QString name = QDir(tmp.path()).filePath(QStringLiteral("close.cvx"));
    form.Text1->setText(name);
    form.Check1->click();
    form.Command2->click();
    form.Command2->click();
    if (c.tamper) c.tamper(name);
    form.close();
    EXPECT_FALSE(form.writer().isOpen());
    if (!c.tamper) {
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_EQ(ReadRecording(name.toStdString()).recordCount, 2u);
        return;
    }
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].modal);
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Log file"));
    EXPECT_TRUE(messages.shown[0].text.contains(name)) << messages.shown[0].text.toStdString();
    EXPECT_TRUE(messages.shown[0].text.contains(QLatin1String(c.says)))
        << messages.shown[0].text.toStdString();
    form.Form_Unload();  // once only
    EXPECT_EQ(messages.shown.size(), 1u);
    if (c.left.has_value()) {
        QFile left(name);
        ASSERT_TRUE(left.open(QIODevice::ReadOnly));
        EXPECT_TRUE(left.readAll() == *c.left) << left.size() << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClosingTheWindow,
    ::testing::Values(
        CloseCase{"SoundFile", nullptr, ""},
        CloseCase{"FileRemoved", [](const QString& file) { EXPECT_TRUE(QFile::remove(file)); },
                  "was deleted"},
        CloseCase{"CutToNothing", [](const QString& file) { CutTo(file, 0); }, "was shortened"},
        CloseCase{"Lengthened",
                  [](const QString& file) {
                      QFile f(file);
                      EXPECT_TRUE(f.open(QIODevice::Append));
                      f.write("appended by someone else");
                  },
                  "was changed by another program"},
        CloseCase{"OverwrittenInPlace", OverwriteInPlace, "was replaced", LargerContent()}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::testing
