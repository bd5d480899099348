// Hostile text in every box a user can type into, through the controls of a started window:
// the sample frequency, the recording file name (then ticking "Log to Corvex file!") and the
// comment. Each case ends in the documented behaviour or a clear message, never a crash, a
// hang or an overwritten file; and the window keeps acquiring afterwards.
#include <unistd.h>

#include <cmath>
#include <functional>
#include <map>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "core/Numbers.h"
#include "logging/RecordingFile.h"
#include "tests/app/FormFixture.h"
#include "tests/reliability/Support.h"

namespace rv8::testing {
namespace {

// What a user can paste at most: the boxes keep the first 32767 characters of any text.
constexpr int kBoxLimit = 32767;

class HostileInput : public FormTest {
  protected:
    void SetUp() override {
        FormTest::SetUp();
        Start();
    }
    // The window still acquires and draws.
    void ExpectStillAcquiring() {
        const int before = inst.fetchCount;
        const int plots = form->Kurvo1->plotCount();
        form->Command2->click();
        EXPECT_EQ(inst.fetchCount, before + 1);
        EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
    }
    // The sample-frequency boxes show the frequency in force, and MaxFreq half of it.
    void ExpectFrequencyShown() {
        const QString shown = FormatSignSpace(inst.frequency);
        EXPECT_EQ(form->SetSampleFreqTextBox->text(), shown);
        EXPECT_EQ(form->GetSampleFreqTextBox->text(), shown);
        EXPECT_EQ(form->MaxFreq->text(), FormatZeroPattern(inst.frequency / 2.0));
        EXPECT_GE(inst.frequency, 1);
        EXPECT_LE(inst.frequency, inst.maxFrequency);
    }
};

// ---- Sample frequency -------------------------------------------------------------------

struct FrequencyCase {
    const char* name;
    QString text;
    int32_t inForce;  // frequency the instrument (taking any whole number) ends up with
};

QString Repeat(const QString& unit, int bytes) {
    QString s;
    s.reserve(bytes);
    while (s.size() < bytes)
        s += unit;
    return s.left(bytes);
}

const int32_t kMax = 1000000;  // FakeInstrument's maximum

std::vector<FrequencyCase> FrequencyCases() {
    return {
        {"Empty", "", 1},
        {"BlanksOnly", "   \t ", 1},
        {"TenThousandDigits", QString(10000, QLatin1Char('9')), kMax},
        {"Huge", "1e400", kMax},
        {"HugeNegative", "-1e400", 1},
        {"NaN", "NaN", 1},
        {"Inf", "Inf", 1},
        {"MinusInf", "-Inf", 1},
        {"LonePoint", ".", 1},
        {"LoneMinus", "-", 1},
        {"LonePlus", "+", 1},
        {"ExponentOnly", "e5", 1},
        {"TwoSigns", "+-1", 1},
        {"ArabicIndicDigits", QString::fromUtf8("\u0661\u0662\u0663"), 1},
        {"FullwidthDigits", QString::fromUtf8("\uFF11\uFF12\uFF13"), 1},
        {"ControlCharacters", QString::fromUtf8("\x01\x02\x7f"), 1},
        {"CarriageReturnFirst", "\r120", 1},
        {"VerticalTabInside",
         "4\x0b"
         "2",
         4},
        {"TabInside", "4\t2", 42},
        {"HexNotation", "0x10", 1},
        {"Comma", "12,5", 12},
        {"HalfToEven", "12.5", 12},
        {"HalfToEvenUp", "13.5", 14},
        {"Exponent", "2.5e3", 2500},
        {"ExponentLeadingZeros", "1e0000000005", 100000},
        {"BeyondInt32", "2147483648", kMax},
        {"BelowInt32", "-2147483649", 1},
        {"LoneSurrogate", QString(QChar(0xD800)) + QStringLiteral("77"), 1},
        {"MegabyteOfDigits", Repeat("123", 1 << 20), kMax},
        {"MegabyteOfLetters", Repeat("x", 1 << 20), 1},
        // Only the first 32767 characters of a paste reach the box: the 5 is cut off.
        {"MegabyteOfBlanksThenDigit", Repeat(" ", (1 << 20) - 1) + "5", 1},
    };
}

class FrequencyPaste : public HostileInput, public ::testing::WithParamInterface<FrequencyCase> {};

TEST_P(FrequencyPaste, EndsWithTheFrequencyInForceShown) {
    const FrequencyCase& c = GetParam();
    form->SetSampleFreqTextBox->setText(c.text);  // a paste replacing the whole text
    EXPECT_EQ(inst.frequency, c.inForce);
    ExpectFrequencyShown();
    // The step buttons work from the value in force.
    form->SetSampleFreqUpButton->click();
    EXPECT_EQ(inst.frequency, c.inForce < kMax ? std::min(2 * c.inForce, kMax) : kMax);
    ExpectFrequencyShown();
    form->SetSampleFreqDownButton->click();
    ExpectFrequencyShown();
    ExpectStillAcquiring();
}

INSTANTIATE_TEST_SUITE_P(Table, FrequencyPaste, ::testing::ValuesIn(FrequencyCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Typed key by key: every keystroke applies the number typed so far and rewrites the box.
TEST_F(HostileInput, TypedFrequencyTextAlwaysShowsAFrequencyInForce) {
    const char* typed[] = {"1e400", "-1e400", "NaN", "+-1", ".", "e5", "99999999999999999999",
                           "12.5",  "abc"};
    for (const char* text : typed) {
        SCOPED_TRACE(text);
        form->SetSampleFreqTextBox->selectAll();
        QTest::keyClicks(form->SetSampleFreqTextBox, QString::fromLatin1(text));
        ExpectFrequencyShown();
        QTest::keyClick(form->SetSampleFreqTextBox, Qt::Key_Backspace);
        ExpectFrequencyShown();
    }
    ExpectStillAcquiring();
}

// ---- Recording file name --------------------------------------------------------------------

enum class Outcome { Records, Exists, CannotStart };

struct NameCase {
    const char* name;
    // Prepares the folder and returns the text for the file-name box.
    std::function<QString(const QDir&)> prepare;
    Outcome outcome;
};

void Write(const QString& file, const QByteArray& content) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// Every file under `dir` with its content.
std::map<QString, QByteArray> Snapshot(const QString& dir) {
    std::map<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        QFile file(f);
        files[f] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    return files;
}

std::vector<NameCase> NameCases() {
    auto at = [](const char* relative) {
        return [relative](const QDir& d) { return d.filePath(QString::fromUtf8(relative)); };
    };
    return {
        {"Empty", [](const QDir&) { return QString(); }, Outcome::CannotStart},
        // A name of blanks is a name like any other: the file is made in the working folder.
        {"BlanksOnly", [](const QDir&) { return QStringLiteral("   "); }, Outcome::Records},
        {"ExistingFolder",
         [](const QDir& d) {
             d.mkdir("folder.cvx");
             return d.filePath("folder.cvx");
         },
         Outcome::CannotStart},
        {"ExistingFolderWithSlash",
         [](const QDir& d) {
             d.mkdir("folder");
             return d.filePath("folder") + "/";
         },
         Outcome::CannotStart},
        {"MissingFolder", at("no-such-folder/x.cvx"), Outcome::CannotStart},
        {"FileAsFolder",
         [](const QDir& d) {
             Write(d.filePath("existingfile"), "precious");
             return d.filePath("existingfile/x.cvx");
         },
         Outcome::CannotStart},
        // The kernel's own file system takes no new files, not even from root.
        {"UnwritableFolder", [](const QDir&) { return QStringLiteral("/proc/rv8-test.cvx"); },
         Outcome::CannotStart},
        {"DeviceFile", [](const QDir&) { return QStringLiteral("/dev/null"); },
         Outcome::CannotStart},
        {"ExistingFile",
         [](const QDir& d) {
             Write(d.filePath("taken.cvx"), "precious");
             return d.filePath("taken.cvx");
         },
         Outcome::Exists},
        {"WildcardsMatchingAFile",
         [](const QDir& d) {
             Write(d.filePath("taken.cvx"), "precious");
             return d.filePath("t*.c?x");
         },
         Outcome::Exists},
        {"WildcardsMatchingOnlyFolders",
         [](const QDir& d) {
             d.mkdir("a.cvx");
             d.mkdir("b.cvx");
             return d.filePath("*.cvx");
         },
         Outcome::Records},
        {"WildcardFolder", at("*/x.cvx"), Outcome::CannotStart},
        {"NameOf4096Characters",
         [](const QDir& d) { return d.filePath(QString(4096, QLatin1Char('n'))); },
         Outcome::CannotStart},
        {"PathOf4096Characters",
         [](const QDir& d) {
             QString p = d.path();
             while (p.size() < 4096)
                 p += "/abcdefgh";
             return p + "/x.cvx";
         },
         Outcome::CannotStart},
        {"LineFeedInName", at("line\nfeed.cvx"), Outcome::Records},
        {"ControlCharactersInName", at("\x01\x1b[31m.cvx"), Outcome::Records},
        {"NonAsciiName", at("\xe6\xb8\xac\xe5\xae\x9a \xf0\x9f\x93\x88.cvx"), Outcome::Records},
        {"NulInName",
         [](const QDir& d) { return d.filePath(QStringLiteral("a")) + QChar(0) + "b"; },
         Outcome::CannotStart},
    };
}

class FileNames : public HostileInput, public ::testing::WithParamInterface<NameCase> {
  protected:
    QTemporaryDir tmp;
    QString oldCwd = QDir::currentPath();
    void SetUp() override {
        HostileInput::SetUp();
        ASSERT_TRUE(tmp.isValid());
        QDir::setCurrent(tmp.path());  // where a relative name lands
    }
    void TearDown() override { QDir::setCurrent(oldCwd); }
};

TEST_P(FileNames, RecordOrSayWhyWithoutTouchingAnyFile) {
    const NameCase& c = GetParam();
    const QString name = c.prepare(QDir(tmp.path()));
    const auto before = Snapshot(tmp.path());
    form->Text1->setText(name);
    const QString boxText = form->Text1->text();  // what the box took of it
    form->Check1->click();

    // Nothing that existed was changed.
    const auto after = Snapshot(tmp.path());
    for (const auto& [file, content] : before) {
        ASSERT_TRUE(after.count(file)) << file.toStdString();
        EXPECT_EQ(after.at(file), content) << file.toStdString();
    }
    switch (c.outcome) {
        case Outcome::Records: {
            EXPECT_TRUE(messages.shown.empty());
            ASSERT_TRUE(form->Check1->isChecked());
            ASSERT_TRUE(form->writer().isOpen());
            form->Command2->click();
            form->Command2->click();
            form->Check1->click();
            const auto r = ReadRecording(QFile::encodeName(boxText).toStdString());
            ASSERT_TRUE(r.headerOk) << r.error;
            EXPECT_EQ(r.recordCount, 2u);
            EXPECT_FALSE(r.damagedTail);
            EXPECT_EQ(after.size(), before.size() + 1);
            break;
        }
        case Outcome::Exists:
            ASSERT_EQ(messages.shown.size(), 1u);
            EXPECT_EQ(messages.shown[0].text, boxText + " exists, please specify a new name");
            EXPECT_EQ(after.size(), before.size());
            break;
        case Outcome::CannotStart:
            ASSERT_EQ(messages.shown.size(), 1u);
            EXPECT_TRUE(messages.shown[0].text.startsWith("The recording could not be started."))
                << messages.shown[0].text.toStdString();
            EXPECT_GT(messages.shown[0].text.size(), 40);  // says why
            EXPECT_EQ(after.size(), before.size());
            break;
    }
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_FALSE(form->writer().isOpen());
    for (QPushButton* b :
         {form->SetSampleFreqDownButton, form->SetSampleFreqUpButton, form->SetSenseCh1DownButton,
          form->SetSenseCh1UpButton, form->SetSenseCh2DownButton, form->SetSenseCh2UpButton})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    ExpectStillAcquiring();
}

INSTANTIATE_TEST_SUITE_P(Table, FileNames, ::testing::ValuesIn(NameCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostileInput, AFolderWithoutWritePermissionIsRefusedWithAMessage) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions do not apply";
    QTemporaryDir tmp;
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::ExeOwner));
    form->Text1->setText(QDir(tmp.path()).filePath("x.cvx"));
    form->Check1->click();
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_FALSE(form->Check1->isChecked());
    ExpectStillAcquiring();
}

// ---- Comment --------------------------------------------------------------------------------

struct CommentCase {
    const char* name;
    QString text;
};

// The stored comment: the box's text, a space and the record number, in UTF-8, cut to 65536
// bytes without splitting a character.
std::string ExpectedComment(const QString& box, int number) {
    const QByteArray full = (box + QLatin1Char(' ') + QString::number(number)).toUtf8();
    std::size_t keep = std::min<std::size_t>(full.size(), recfile::kMaxCommentBytes);
    while (keep < static_cast<std::size_t>(full.size()) && keep > 0 &&
           (static_cast<uint8_t>(full[static_cast<qsizetype>(keep)]) & 0xC0) == 0x80)
        --keep;
    return std::string(full.constData(), keep);
}

class Comments : public HostileInput, public ::testing::WithParamInterface<CommentCase> {
  protected:
    QTemporaryDir tmp;
};

TEST_P(Comments, ReadBackAsTheBoxHeldThemCutAtTheLimit) {
    const CommentCase& c = GetParam();
    ASSERT_TRUE(tmp.isValid());
    const QString file = QDir(tmp.path()).filePath("comments.cvx");
    form->Text1->setText(file);
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen());
    form->Text2->setText(c.text);
    const QString box = form->Text2->text();
    EXPECT_EQ(box, c.text.left(kBoxLimit));
    form->Command2->click();
    form->Command2->click();
    form->Check1->click();

    const auto r = ReadRecording(file.toStdString());
    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.damagedTail);
    ASSERT_EQ(r.records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const std::string& stored = r.records[static_cast<std::size_t>(i)].comment;
        EXPECT_LE(stored.size(), recfile::kMaxCommentBytes);
        EXPECT_EQ(stored, ExpectedComment(box, i)) << "record " << i;
        // Whole characters only: it reads back as UTF-8 without replacement characters.
        const QString back =
            QString::fromUtf8(stored.data(), static_cast<qsizetype>(stored.size()));
        EXPECT_EQ(back.toUtf8().toStdString(), stored);
        if (!box.contains(QChar(0xFFFD))) {
            EXPECT_FALSE(back.contains(QChar(0xFFFD))) << "a character was broken";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Comments,
    ::testing::Values(
        CommentCase{"Empty", ""}, CommentCase{"HundredKilobytesAscii", Repeat("c", 100 * 1024)},
        // 3 bytes of UTF-8 each: 32767 of them exceed the limit, which cuts between characters.
        CommentCase{"HundredKilobytesThreeByteCharacters",
                    Repeat(QString::fromUtf8("\u20ac"), 100 * 1024)},
        // Outside the Basic Multilingual Plane: 4 bytes of UTF-8, two UTF-16 units each.
        CommentCase{"HundredKilobytesBeyondTheBmp",
                    Repeat(QString::fromUtf8("\U0001F600"), 100 * 1024)},
        CommentCase{"BeyondTheBmpShort", QString::fromUtf8("\U0001D11E \U0001F4C8 ok")},
        CommentCase{"ControlCharacters",
                    QStringLiteral("line\nfeed\ttab") + QChar(0) + QStringLiteral("nul\x1b[0m")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::testing
