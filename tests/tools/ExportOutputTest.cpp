// Where rv8rec export writes: devices and FIFOs written straight through or refused, never
// replaced; symbolic links kept; --split all or nothing; long names; messages that name OUT.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/ToolRun.h"

namespace rv8 {
namespace {

using testing::EnvOr;
using testing::FileBytes;
using testing::Quote;
using testing::RunTool;

class ExportOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = EnvOr("RV8_BIN_DIR", ".");
        file_ = path("rec.cvx");
        write(file_, {48000, 48000, 48000});
    }
    // A recording of one 600-frame record per rate.
    void write(const std::string& name, const std::vector<double>& rates) const {
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(name), rates[0], 2, 0.5));
        for (std::size_t k = 0; k < rates.size(); ++k) {
            w.SampleRate(rates[k]);
            ASSERT_TRUE(testing::WriteLikeWindow(w, static_cast<int>(k), 600));
        }
        w.CloseFile();
    }
    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    testing::ToolRun exportTo(const std::string& args, const std::string& input = "") const {
        return RunTool(Quote(bin_ + "/rv8rec") + " export " + Quote(input.empty() ? file_ : input) +
                       " " + args);
    }
    QStringList names() const {
        QStringList n =
            QDir(dir_.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
        n.sort();
        return n;
    }

    QTemporaryDir dir_;
    std::string bin_, file_;
};

unsigned FileType(const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// What each format does with an OUT that is a character device or a FIFO with a reader: the
// formats that stream write straight through; WAV, which seeks back, only into a seekable
// device; sr, h5 and --split refuse. Either way the node stays what it was.
TEST_F(ExportOutputTest, DevicesAndFifosAreWrittenThroughOrRefusedNeverReplaced) {
    const std::string device = path("null"), fifo = path("fifo");
    const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    const testing::ToolRun csv = exportTo("");
    ASSERT_EQ(csv.status, 0);
    struct Case {
        std::string args;
        int deviceStatus, fifoStatus;
        std::string fifoStarts;  // what the reader gets first when written through
        std::string refusal;     // in the message when refused
    };
    const Case cases[] = {
        {"", 0, 0, csv.out, ""},
        {"--format flac", 0, 0, "fLaC", ""},
        {"--format wav", 0, 2, "", "seeks back"},
        {"--format sr", 2, 2, "", "never replaced"},
        {"--format h5", 2, 2, "", "never replaced"},
        {"--format wav --split", 2, 2, "", "--split"},
        {"--format sr --split", 2, 2, "", "--split"},
    };
    if (!haveDevice) std::printf("[ skipped ] no character device: mknod is not allowed here\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        if (haveDevice) {
            const testing::ToolRun r = exportTo(c.args + " -o " + Quote(device));
            EXPECT_EQ(r.status, c.deviceStatus) << r.err;
            if (c.deviceStatus != 0) {
                EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
            }
            EXPECT_EQ(FileType(device), unsigned{S_IFCHR});
        }
        testing::FifoReader reader(fifo);
        const testing::ToolRun r = exportTo(c.args + " -o " + Quote(fifo));
        const std::string got = reader.stop();
        EXPECT_EQ(r.status, c.fifoStatus) << r.err;
        if (c.fifoStatus == 0) {
            EXPECT_EQ(got.substr(0, c.fifoStarts.size()), c.fifoStarts);
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(got, "");
            EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
        }
        EXPECT_EQ(FileType(fifo), unsigned{S_IFIFO});
    }
    // A picture goes through a FIFO too.
    const std::string pic = path("pic.png");
    ASSERT_EQ(::mkfifo(pic.c_str(), 0666), 0);
    testing::FifoReader reader(pic);
    const testing::ToolRun plot =
        RunTool(Quote(bin_ + "/rv8rec") + " plot " + Quote(file_) + " -o " + Quote(pic));
    EXPECT_EQ(plot.status, 0) << plot.err;
    EXPECT_EQ(reader.stop().substr(0, 4), "\x89PNG");
    EXPECT_EQ(FileType(pic), unsigned{S_IFIFO});
    QStringList expected{"fifo", "pic.png", "rec.cvx"};
    if (haveDevice) expected << "null";
    expected.sort();
    EXPECT_EQ(names(), expected);
}

// A symbolic link as OUT: the file it points to is replaced (or made), the link stays.
TEST_F(ExportOutputTest, SymbolicLinksStayLinks) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("real"));
    testing::WriteBytes(path("real/old.csv"), {'o', 'l', 'd'});
    ASSERT_EQ(::symlink("real/old.csv", path("link.csv").c_str()), 0);
    ASSERT_EQ(::symlink("real/new.wav", path("dangling.wav").c_str()), 0);
    EXPECT_EQ(exportTo("-o " + Quote(path("link.csv"))).status, 0);
    EXPECT_EQ(exportTo("--format wav -o " + Quote(path("dangling.wav"))).status, 0);
    EXPECT_EQ(FileType(path("link.csv")), unsigned{S_IFLNK});
    EXPECT_EQ(FileType(path("dangling.wav")), unsigned{S_IFLNK});
    const std::vector<uint8_t> csv = FileBytes(path("real/old.csv"));
    EXPECT_EQ(std::string(csv.begin(), csv.end()).substr(0, 6), "record");
    EXPECT_GT(FileBytes(path("real/new.wav")).size(), 3u * 600 * 4);
    EXPECT_EQ(QDir(dir_.filePath("real")).entryList(QDir::Files | QDir::Hidden),
              QStringList({"new.wav", "old.csv"}));
}

// A --split export that fails leaves none of its files: a record whose rate can't be stored,
// or a file name of a part that is an existing recording (found at the third record).
TEST_F(ExportOutputTest, SplitIsAllOrNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    write(path("nan.cvx"), {48000, 44100, nan});
    for (const char* format : {"wav", "flac", "sr"}) {
        SCOPED_TRACE(format);
        const std::string ext = format;
        const testing::ToolRun odd =
            exportTo("--format " + ext + " --split -o " + Quote(path("o." + ext)), path("nan.cvx"));
        EXPECT_EQ(odd.status, 2);
        EXPECT_NE(odd.err.find("can't be stored"), std::string::npos) << odd.err;
        EXPECT_EQ(names(), QStringList({"nan.cvx", "rec.cvx"}));

        const std::string taken = path("p-000002." + ext);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(file_), QString::fromStdString(taken)));
        const testing::ToolRun clash =
            exportTo("--format " + ext + " --split -o " + Quote(path("p." + ext)));
        EXPECT_EQ(clash.status, 2);
        EXPECT_NE(clash.err.find("is a recording file"), std::string::npos) << clash.err;
        EXPECT_EQ(FileBytes(taken), FileBytes(file_));
        ASSERT_TRUE(QFile::remove(QString::fromStdString(taken)));
        EXPECT_EQ(names(), QStringList({"nan.cvx", "rec.cvx"}));
    }
}

// Names up to the longest a folder holds (255 bytes) can be written; a failure names OUT, never
// the temporary file.
TEST_F(ExportOutputTest, LongNamesAndMessagesNameTheOutput) {
    const std::string stem(240, 'n');
    for (const char* format : {"csv", "sr", "wav", "flac", "h5"}) {
        SCOPED_TRACE(format);
        const std::string out = path(stem + "." + format);  // 243 or 244 bytes
        const testing::ToolRun r =
            exportTo("--format " + std::string(format) + " -o " + Quote(out));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(QFile::remove(QString::fromStdString(out)));
        const std::string missing = path("missing/out.") + format;
        const testing::ToolRun m =
            exportTo("--format " + std::string(format) + " -o " + Quote(missing));
        EXPECT_EQ(m.status, 2);
        EXPECT_NE(m.err.find(missing), std::string::npos) << m.err;
        EXPECT_EQ(m.err.find(".rv8rec-"), std::string::npos) << m.err;
    }
    const testing::ToolRun split =
        exportTo("--format wav --split -o " + Quote(path(stem + ".wav")));
    EXPECT_EQ(split.status, 0) << split.err;
    EXPECT_EQ(names().size(), 4);  // rec.cvx and three parts of 251 bytes
}

}  // namespace
}  // namespace rv8
