// A driver library that loses functions in the middle of a run (replaced on disk by a build that
// lacks them, say) while a recording is open: the program ends through its normal shutdown. The
// recording is closed and synced first (every record written so far intact), then the message
// naming the missing function is shown, and the exit status is 3, even when the function that
// releases the instrument is missing too.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Form1.h"
#include "logging/RecordingFile.h"
#include "tests/reliability/Support.h"
#include "tests/support/FakeInstrument.h"
#include "tests/support/FakeMessages.h"

namespace rv8::testing {
namespace {

DriverUnavailable Missing(const std::string& function) {
    return DriverUnavailable("The instrument driver library librv8.so has no function " + function +
                             ".");
}

// Answers `passes` calls of `missing`, then lacks it; lacks ExitInstrument when `exitMissing`.
class VanishingDriver : public FakeInstrument {
  public:
    std::string missing;
    int passes = 0;
    bool exitMissing = false;

    int32_t StartMeasurement() override {
        vanish("StartMeasurement");
        return FakeInstrument::StartMeasurement();
    }
    void GetMeasurementRaw(uint16_t& ch1, uint16_t& ch2) override {
        vanish("GetMeasurementRaw");
        FakeInstrument::GetMeasurementRaw(ch1, ch2);
    }
    void ExitInstrument() override {
        if (exitMissing) throw Missing("ExitInstrument");
        FakeInstrument::ExitInstrument();
    }

  private:
    void vanish(const char* function) {
        if (missing == function && passes-- <= 0) throw Missing(function);
    }
};

struct VanishCase {
    const char* name;
    const char* missing;
    int passes;  // records written before the function goes missing
    bool exitMissing;
    bool recording;  // a recording is open when it happens
};

class DriverVanishes : public ::testing::TestWithParam<VanishCase> {
  protected:
    VanishingDriver inst;
    FakeMessages messages;
    QTemporaryDir tmp;
};

TEST_P(DriverVanishes, TheLoopEndsWithStatus3AndTheRecordingIsClosedBeforeTheMessage) {
    const VanishCase& c = GetParam();
    ASSERT_TRUE(tmp.isValid());
    inst.missing = c.missing;
    inst.passes = c.passes;
    inst.exitMissing = c.exitMissing;
    const QString name = QDir(tmp.path()).filePath(QStringLiteral("vanish.cvx"));
    Form1 form(inst, messages);
    ASSERT_TRUE(form.Form_Load());
    if (c.recording) {
        form.Text1->setText(name);
        form.Check1->click();
        ASSERT_TRUE(form.writer().isOpen());
    }
    form.Timer1.setInterval(1);
    form.Command3->click();  // Run

    // What main() does: the event loop, then the shutdown. A loop that never ends fails here.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    deadline.start(20000);
    const int loopResult = QCoreApplication::exec();
    deadline.stop();
    ASSERT_EQ(loopResult, 3);
    EXPECT_FALSE(form.Timer1.isActive());
    EXPECT_TRUE(messages.shown.empty());  // nothing waits for a person inside the loop
    EXPECT_NE(form.fatalError().indexOf(QStringLiteral("no function %1").arg(c.missing)), -1)
        << form.fatalError().toStdString();

    bool openWhileShown = true;
    uint64_t recordsWhileShown = 0;
    messages.whileShown = [&] {
        openWhileShown = form.writer().isOpen();
        if (c.recording) recordsWhileShown = ReadRecording(name.toStdString()).recordCount;
    };
    int status = -1;
    EXPECT_NO_THROW(status = form.Shutdown(loopResult));
    EXPECT_EQ(status, 3);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].modal);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages.shown[0].title, QStringLiteral("Corvex RV8 Scope/Recorder"));
    EXPECT_EQ(messages.shown[0].text, form.fatalError());
    EXPECT_FALSE(openWhileShown);  // closed before the message went up
    EXPECT_EQ(inst.count("ExitInstrument"), c.exitMissing ? 0 : 1);

    if (!c.recording) {
        EXPECT_FALSE(QFile::exists(name));
        return;
    }
    EXPECT_EQ(recordsWhileShown, static_cast<uint64_t>(c.passes));
    const RecordingReadResult r = ReadRecording(name.toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail) << r.error;
    EXPECT_EQ(r.recordCount, static_cast<uint64_t>(c.passes));
    EXPECT_EQ(form.LoggedRecordCount(), c.passes);
    EXPECT_EQ(VerifyWithCli(name), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DriverVanishes,
    ::testing::Values(
        VanishCase{"MeasurementStartAfterThreeRecords", "StartMeasurement", 3, false, true},
        VanishCase{"SampleFetchAfterTwoRecords", "GetMeasurementRaw", 2, false, true},
        VanishCase{"AtTheFirstPass", "StartMeasurement", 0, false, true},
        VanishCase{"ReleasingTheInstrumentMissingToo", "StartMeasurement", 4, true, true},
        VanishCase{"WithoutARecording", "GetMeasurementRaw", 1, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The whole program's end, in a child process ---------------------------------------------

// The child of a death test runs the test again from its start: the file's folder is handed
// down through the environment, so that both look at the same file.
QString SharedFolder() {
    const char* const kVariable = "RV8_TEST_VANISH_DIR";
    if (qEnvironmentVariableIsEmpty(kVariable)) {
        static const QTemporaryDir made;  // the parent's, removed when it ends
        qputenv(kVariable, QFile::encodeName(made.path()));
    }
    return qEnvironmentVariable(kVariable);
}

struct ExitCase {
    const char* name;
    bool eventLoop;  // the failure met in the running loop (else in a handler called directly)
};

class DriverVanishesDeathTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(DriverVanishesDeathTest, TheProgramExitsWith3AndTheMessageAndTheFileIsIntact) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ExitCase& c = GetParam();
    const QString name =
        QDir(SharedFolder()).filePath(QStringLiteral("%1.cvx").arg(QLatin1String(c.name)));
    QFile::remove(name);  // the child finds none left by an earlier run of the same case
    EXPECT_EXIT(
        {
            VanishingDriver inst;
            inst.missing = "StartMeasurement";
            inst.passes = 2;
            inst.exitMissing = true;
            FakeMessages messages;
            Form1 form(inst, messages);
            messages.whileShown = [&form] {
                std::fprintf(stderr, "the recording was %s\n",
                             form.writer().isOpen() ? "still open at the message"
                                                    : "closed before the message");
            };
            if (!form.Form_Load()) std::exit(0);
            form.Text1->setText(name);
            form.Check1->click();
            if (!form.writer().isOpen()) std::exit(0);
            if (c.eventLoop) {
                form.Timer1.setInterval(1);
                form.Command3->click();
                std::exit(form.Shutdown(QCoreApplication::exec()));
            }
            for (int i = 0; i < 3; ++i)
                form.Command2->click();
            std::exit(0);
        },
        ::testing::ExitedWithCode(3),
        "no function StartMeasurement(.|\n)*the recording was closed before the message");
    const RecordingReadResult r = ReadRecording(name.toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail) << r.error;
    EXPECT_EQ(r.recordCount, 2u);
    EXPECT_EQ(VerifyWithCli(name), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, DriverVanishesDeathTest,
                         ::testing::Values(ExitCase{"InTheEventLoop", true},
                                           ExitCase{"InAHandlerCalledDirectly", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::testing
