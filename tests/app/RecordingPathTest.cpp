// Recording-file names typed with a drive letter ("c:\Rv8Capture.cvx", the default) lie in the
// user's home folder off Windows, for the existence check and the writer alike; the box and the
// messages keep the text as typed.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "logging/RecordingFile.h"
#include "logging/RecordingPath.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

// Points HOME (which QDir::homePath reads) and the working folder at folders of the test's own
// for the lifetime of the object.
class HomeAndWorkingFolder {
  public:
    HomeAndWorkingFolder(const QString& home, const QString& working)
        : oldHome_(qgetenv("HOME")),
          hadHome_(qEnvironmentVariableIsSet("HOME")),
          oldWorking_(QDir::currentPath()) {
        qputenv("HOME", QFile::encodeName(home));
        QDir::setCurrent(working);
    }
    ~HomeAndWorkingFolder() {
        if (hadHome_) {
            qputenv("HOME", oldHome_);
        } else {
            qunsetenv("HOME");
        }
        QDir::setCurrent(oldWorking_);
    }

  private:
    QByteArray oldHome_;
    bool hadHome_;
    QString oldWorking_;
};

struct PathCase {
    const char* name;
    const char* typed;
    const char* local;  // "~" stands for the home folder
};
void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class LocalRecordingPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(LocalRecordingPathTest, DriveLetterNamesLieInTheHomeFolder) {
    const PathCase& c = GetParam();
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    HomeAndWorkingFolder env(home.path(), home.path());
    QString expected = QString::fromUtf8(c.local);
    if (expected.startsWith(QLatin1Char('~'))) expected.replace(0, 1, home.path());
    EXPECT_EQ(LocalRecordingPath(QString::fromUtf8(c.typed)).toStdString(), expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LocalRecordingPathTest,
    ::testing::Values(PathCase{"TheDefault", "c:\\Rv8Capture.cvx", "~/Rv8Capture.cvx"},
                      PathCase{"SubFolder", "c:\\data\\run1.cvx", "~/data/run1.cvx"},
                      PathCase{"UpperCaseDrive", "C:\\Data\\Run1.cvx", "~/Data/Run1.cvx"},
                      PathCase{"OtherDrive", "d:\\x.cvx", "~/x.cvx"},
                      PathCase{"Wildcard", "c:\\*.cvx", "~/*.cvx"},
                      PathCase{"DriveOnly", "c:\\", "~/"},
                      PathCase{"Absolute", "/tmp/run.cvx", "/tmp/run.cvx"},
                      PathCase{"Relative", "run.cvx", "run.cvx"},
                      PathCase{"RelativeWithBackslash", "data\\run.cvx", "data\\run.cvx"},
                      PathCase{"NoBackslashAfterColon", "c:run.cvx", "c:run.cvx"},
                      PathCase{"SlashAfterColon", "c:/run.cvx", "c:/run.cvx"},
                      PathCase{"DigitNotDrive", "1:\\run.cvx", "1:\\run.cvx"},
                      PathCase{"TwoLetters", "cd:\\run.cvx", "cd:\\run.cvx"},
                      PathCase{"NonAsciiLetter", "\xc3\xa4:\\run.cvx", "\xc3\xa4:\\run.cvx"},
                      PathCase{"NetworkName", "\\\\server\\share\\x.cvx",
                               "\\\\server\\share\\x.cvx"},
                      PathCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

class DriveLetterRecording : public FormTest {
  protected:
    QTemporaryDir home;
    QTemporaryDir working;
    std::unique_ptr<HomeAndWorkingFolder> env;

    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(working.isValid());
        env = std::make_unique<HomeAndWorkingFolder>(home.path(), working.path());
        FormTest::SetUp();
        Start();
    }
    void TearDown() override {
        form.reset();
        env.reset();
    }
    bool WorkingFolderEmpty() const {
        return QDir(working.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty();
    }
};

TEST_F(DriveLetterRecording, TheDefaultNameRecordsIntoTheHomeFolder) {
    ASSERT_EQ(form->Text1->text(), "c:\\Rv8Capture.cvx");
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen()) << form->writer().errorString().toStdString();
    form->Command2->click();
    form->Check1->click();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(form->Text1->text(), "c:\\Rv8Capture.cvx");        // the box keeps the text
    EXPECT_EQ(form->writer().fileName(), "c:\\Rv8Capture.cvx");  // so does the writer's name
    EXPECT_TRUE(WorkingFolderEmpty());                           // nothing named c:\...
    const auto r = ReadRecording(QDir(home.path()).filePath("Rv8Capture.cvx").toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_EQ(r.recordCount, 1u);
}

TEST_F(DriveLetterRecording, BackslashesAreFolders) {
    ASSERT_TRUE(QDir(home.path()).mkpath("data/day1"));
    form->Text1->setText("c:\\data\\day1\\run1.cvx");
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen()) << form->writer().errorString().toStdString();
    form->Command2->click();
    form->Check1->click();
    EXPECT_TRUE(WorkingFolderEmpty());
    EXPECT_EQ(
        ReadRecording(QDir(home.path()).filePath("data/day1/run1.cvx").toStdString()).recordCount,
        1u);
}

TEST_F(DriveLetterRecording, AnExistingFileInTheHomeFolderIsRefusedAsTyped) {
    {
        QFile f(QDir(home.path()).filePath("Rv8Capture.cvx"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    form->Check1->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "c:\\Rv8Capture.cvx exists, please specify a new name");
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_FALSE(form->writer().isOpen());
    QFile f(QDir(home.path()).filePath("Rv8Capture.cvx"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "precious");
}

TEST_F(DriveLetterRecording, AWildcardLooksInTheHomeFolder) {
    {
        QFile f(QDir(home.path()).filePath("old.cvx"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    form->Text1->setText("c:\\*.cvx");
    form->Check1->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "c:\\*.cvx exists, please specify a new name");
}

TEST_F(DriveLetterRecording, AMissingFolderIsReportedAsTyped) {
    form->Text1->setText("c:\\nowhere\\run.cvx");
    form->Check1->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(messages.shown[0].text.contains("c:\\nowhere\\run.cvx"))
        << messages.shown[0].text.toStdString();
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_TRUE(WorkingFolderEmpty());
}

TEST_F(DriveLetterRecording, OtherNamesAreUsedAsTheyStand) {
    form->Text1->setText("plain.cvx");  // relative: the working folder
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen()) << form->writer().errorString().toStdString();
    form->Check1->click();
    EXPECT_TRUE(QFile::exists(QDir(working.path()).filePath("plain.cvx")));
    EXPECT_FALSE(QFile::exists(QDir(home.path()).filePath("plain.cvx")));
}

}  // namespace
}  // namespace rv8::testing
