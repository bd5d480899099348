// rv8rec export and plot when things go wrong around them: a full disk, SIGINT/SIGTERM/SIGHUP
// during an export, the recording cut while it is exported, and crafted files that claim far
// more than they hold. Each ends with a message and an exit status, never a crash, and leaves
// no temporary file.
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/support/Sanitizers.h"
#include "tests/tools/ChildProcess.h"
#include "tests/tools/ToolRun.h"

namespace rv8 {
namespace {

using testing::Child;
using testing::ChildRun;
using testing::EnvOr;
using testing::Quote;

// A recording of `records` records of `frames` frames of noise (which FLAC can't shrink much),
// two channels, 48 kHz.
void WriteRecording(const std::string& path, int records, int frames) {
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(path), 48000, 2, 0.5));
    std::vector<int16_t> block(2 * static_cast<std::size_t>(frames));
    uint32_t x = 2463534242u;
    for (int r = 0; r < records; ++r) {
        for (int16_t& s : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            s = static_cast<int16_t>(x);
        }
        w.AddComment(QStringLiteral("noise %1").arg(r));
        ASSERT_TRUE(w.WriteBlock(block.data(), frames));
    }
    w.CloseFile();
}

class ExportFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = EnvOr("RV8_BIN_DIR", ".");
        ASSERT_TRUE(QDir(dir_.path()).mkdir("out"));
    }
    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    // rv8rec followed by `args`, split at blanks.
    std::vector<std::string> command(const std::string& args) const {
        std::vector<std::string> argv{bin_ + "/rv8rec"};
        std::string word;
        for (char c : args + " ") {
            if (c != ' ') {
                word += c;
            } else if (!word.empty()) {
                argv.push_back(word);
                word.clear();
            }
        }
        return argv;
    }
    QStringList outNames() const {
        return QDir(QString::fromStdString(path("out")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    }

    QTemporaryDir dir_;
    std::string bin_;
};

// The disk fills up while the export writes: a message that says so, status 2, nothing left on
// the disk, and no library's diagnostics. (HDF5 ended with SIGSEGV at exit, --split left the
// files it had finished.)
TEST_F(ExportFaultTest, FullDiskEndsWithAMessageAndLeavesNothing) {
    const std::string disk = path("out");
    if (!testing::SmallDiskAvailable(disk)) GTEST_SKIP() << "no private tmpfs: needs root";
    const std::string input = path("rec.cvx");
    WriteRecording(input, 40, 25000);  // 4 MB, on a disk of 1 MB
    for (const char* args :
         {"--format csv", "--format sr", "--format wav", "--format flac", "--format h5",
          "--format wav --split", "--format sr --split", "--format flac --split"}) {
        SCOPED_TRACE(args);
        const testing::ToolRun r =
            testing::OnSmallDisk(disk, 1024,
                                 Quote(bin_ + "/rv8rec") + " export " + Quote(input) + " " + args +
                                     " -o " + Quote(disk + "/o.x") + " 2>&1");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("No space left on device"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("HDF5-DIAG"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find(".rv8rec-"), std::string::npos) << r.out;
        // One line of message, then "status 2", then an empty listing.
        EXPECT_TRUE(r.out.ends_with("\nstatus 2\n")) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    }
}

// SIGINT, SIGTERM or SIGHUP while the export writes (caught as soon as its temporary file
// appears): the temporary files go, nothing is left, exit status 128 + the signal.
TEST_F(ExportFaultTest, InterruptedExportRemovesItsTemporaryFiles) {
    const std::string input = path("rec.cvx");
    WriteRecording(input, 2000, 4000);  // 32 MB: each export takes 0.2 s or more
    struct Case {
        const char* args;
        int signal;
    };
    const Case cases[] = {
        {"--format csv", SIGINT},        {"--format wav", SIGTERM},
        {"--format flac", SIGHUP},       {"--format sr", SIGINT},
        {"--format h5", SIGTERM},        {"--format wav --split", SIGHUP},
        {"--format sr --split", SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.args) + " signal " + std::to_string(c.signal));
        testing::FolderWatch watch(path("out"));
        Child child(command("export " + input + " " + c.args + " -o " + path("out/o.x")));
        ASSERT_TRUE(watch.waitFor(".rv8rec-", 20000)) << "no temporary file appeared";
        ::kill(child.pid(), c.signal);
        const ChildRun run = child.wait();
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 128 + c.signal) << run.err;
        EXPECT_EQ(outNames(), QStringList()) << "left behind";
    }
}

// The recording is cut short while the export reads it a second time (the sigrok session reads
// every record again to write each channel): a read error, not SIGBUS; nothing left. The
// others (and a --split session, whose files are written while the records are read) end with
// the intact records before the cut or with a read error, depending on where the cut falls.
TEST_F(ExportFaultTest, RecordingCutWhileExported) {
    const std::string source = path("source.cvx");
    WriteRecording(source, 2000, 4000);
    for (const char* args :
         {"--format sr", "--format sr --split", "--format csv", "--format wav", "--format h5"}) {
        SCOPED_TRACE(args);
        const std::string input = path("cut.cvx");
        QFile::remove(QString::fromStdString(input));
        ASSERT_TRUE(QFile::copy(QString::fromStdString(source), QString::fromStdString(input)));
        testing::FolderWatch watch(path("out"));
        Child child(command("export " + input + " " + args + " -o " + path("out/o.x")));
        ASSERT_TRUE(watch.waitFor(".rv8rec-", 20000));
        ASSERT_EQ(::truncate(input.c_str(), 1000), 0);
        const ChildRun run = child.wait();
        EXPECT_EQ(run.signal, 0) << run.err;
        if (std::string(args) == "--format sr") {  // the cut comes after the checking pass
            EXPECT_EQ(run.status, 2) << run.err;
            EXPECT_NE(run.err.find("cut short"), std::string::npos) << run.err;
        } else {
            EXPECT_TRUE(run.status == 1 || run.status == 2) << run.status << run.err;
        }
        for (const QString& name : outNames()) {
            EXPECT_FALSE(name.contains(".rv8rec-")) << name.toStdString();
            QFile::remove(QString::fromStdString(path("out/" + name.toStdString())));
        }
    }
}

// A crafted recording of 65535 channels (5 MB: a header of 1 MB, two records of one frame and
// their settings blocks):
// every export and the plot stay within a small memory bound and a few seconds, under a limit
// of 1 GiB of address space; those that can't hold it refuse it with a message. (The sigrok
// session took 16.8 GB, the plot's SVG 1.2 GB; under a limit both died of std::bad_alloc.)
TEST_F(ExportFaultTest, CraftedWideFileIsWrittenInBoundedMemoryOrRefused) {
    const uint16_t channels = 65535;
    RecordingHeader h;
    h.channelCount = channels;
    h.sampleFormat = recfile::kSampleFormatInt16;
    h.sampleRate = 1000;
    h.ranges.assign(channels, ChannelRange{1.0, -1.0});
    std::vector<uint8_t> bytes = EncodeRecordingHeader(h);
    const std::vector<int16_t> frame(channels, 1234);
    for (uint32_t n = 0; n < 2; ++n) {
        std::vector<uint8_t> rec(recfile::RecordSize(1, 1, channels));
        RecordFields f;
        f.number = n;
        f.timeUs = 1700000000000000;
        f.sampleRate = 1000;
        EncodeRecord(rec.data(), f, "x", 1, frame.data(), 1, channels);
        bytes.insert(bytes.end(), rec.begin(), rec.end());
    }
    const std::string input = path("wide.cvx");
    testing::WriteBytes(input, bytes);
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"export " + input + " --format csv -o " + path("out/o.csv"), 0, ""},
        {"export " + input + " --format sr -o " + path("out/o.sr"), 2, "at most 64"},
        {"export " + input + " --format wav -o " + path("out/o.wav"), 2, "at most 1024"},
        {"export " + input + " --format flac -o " + path("out/o.flac"), 2, "at most 8"},
        {"export " + input + " --format h5 -o " + path("out/o.h5"), 0, ""},
        {"plot " + input + " -o " + path("out/o.svg"), 2, "room for 26"},
        {"plot " + input + " --records 0 -o " + path("out/o.png"), 2, "room for 26"},
    };
    const bool limited = !testing::kAddressSanitizer;  // its shadow memory needs more
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Child child(command(c.args), limited ? uint64_t{1} << 30 : 0);
        const ChildRun run = child.wait();
        std::printf("[ %s ] exit %d, %.2f s, %ld KB resident\n", c.args.c_str(), run.status,
                    run.seconds, run.maxRssKb);
        EXPECT_EQ(run.signal, 0) << run.err;
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        if (limited) {
            EXPECT_LT(run.maxRssKb, 150 * 1024);
        }
        EXPECT_LT(run.seconds, 30);
        const QStringList left = outNames();
        EXPECT_EQ(left.size(), c.status == 0 ? 1 : 0) << left.join(' ').toStdString();
        for (const QString& name : left)
            QFile::remove(QString::fromStdString(path("out/" + name.toStdString())));
    }
}

}  // namespace
}  // namespace rv8
