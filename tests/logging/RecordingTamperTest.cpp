// Another program deletes, moves, replaces, shortens or lengthens the recording file while the
// writer has it open. The writer ends the recording with a message naming the file and what
// happened, found by the record that would follow, by the background check (polled through
// CheckOpenFile), or at CloseFile, and leaves the bytes as the case wants them.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"

namespace rv8 {
namespace {

using testing::FileBytes;
using testing::OpenLikeWindow;
using testing::WriteBytes;
using testing::WriteLikeWindow;

constexpr int kFrames = 100;
const uint64_t kHeader = recfile::HeaderSize(2);
const uint64_t kRecord = recfile::RecordSize(13, kFrames, 2);  // "Log comment N"

// How the writer learns of it.
enum class Found {
    Writing,   // records keep coming every 20 ms until one fails
    Watching,  // CheckOpenFile polled without writing
    Closing,   // CloseFile right away
};

// What the file holds afterwards.
enum class Left {
    Nothing,     // no file of the name
    Moved,       // the file under its new name, with every record
    Other,       // the replacement, untouched
    Cut,         // exactly the bytes the other program left
    OwnRecords,  // exactly the writer's records (the other program's bytes cut off)
};

struct TamperCase {
    const char* name;
    std::function<void(const std::string& dir, const std::string& file)> act;
    const char* says;
    Found found;
    Left left;
    uint64_t cutTo = 0;  // Left::Cut
};

void Run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

const auto kDelete = [](const std::string&, const std::string& f) {
    ASSERT_EQ(::unlink(f.c_str()), 0);
};
const auto kRemoveFolder = [](const std::string& d, const std::string&) {
    Run("rm -rf '" + d + "'");
};
const auto kRename = [](const std::string&, const std::string& f) {
    ASSERT_EQ(::rename(f.c_str(), (f + ".moved").c_str()), 0);
};
const auto kReplaceOver = [](const std::string&, const std::string& f) {
    WriteBytes(f + ".new", {'o', 't', 'h', 'e', 'r'});
    ASSERT_EQ(::rename((f + ".new").c_str(), f.c_str()), 0);
};
const auto kMoveAsideAndReplace = [](const std::string&, const std::string& f) {
    ASSERT_EQ(::rename(f.c_str(), (f + ".moved").c_str()), 0);
    WriteBytes(f, {'o', 't', 'h', 'e', 'r'});
};
std::function<void(const std::string&, const std::string&)> TruncateTo(uint64_t size) {
    return [size](const std::string&, const std::string& f) {
        ASSERT_EQ(::truncate(f.c_str(), static_cast<off_t>(size)), 0);
    };
}
const auto kAppend = [](const std::string&, const std::string& f) {
    Run("printf 'garbage' >> '" + f + "'");
};

class Tamper : public ::testing::TestWithParam<TamperCase> {};

TEST_P(Tamper, EndsTheRecordingWithAMessageAndLeavesTheBytesSound) {
    const TamperCase& c = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string dir = QDir(tmp.path()).filePath("rec").toStdString();
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    const std::string file = dir + "/tampered.cvx";
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, QString::fromStdString(file), 1000, 1, 1));
    int written = 0;
    for (; written < 3; ++written)
        ASSERT_TRUE(WriteLikeWindow(w, written, kFrames));

    c.act(dir, file);
    const auto t0 = std::chrono::steady_clock::now();
    bool ended = false;
    switch (c.found) {
        case Found::Writing:
            while (!ended && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
                ended = !WriteLikeWindow(w, written, kFrames);
                if (!ended) ++written;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            break;
        case Found::Watching:
            while (!ended && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
                ended = !w.CheckOpenFile();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            break;
        case Found::Closing:
            ended = !w.CloseFile();
            break;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("[ %s ] found after %.0f ms\n", c.name, ms);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(w.isOpen());
    const std::string err = w.errorString().toStdString();
    EXPECT_NE(err.find(file), std::string::npos) << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_FALSE(w.WriteBlock(nullptr, 0));  // nothing more is written anywhere
    EXPECT_TRUE(w.CloseFile());              // and nothing is left to close

    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    switch (c.left) {
        case Left::Nothing:
            EXPECT_FALSE(QFile::exists(QString::fromStdString(file)));
            break;
        case Left::Moved: {
            const RecordingReadResult r = ReadRecording(file + ".moved");
            EXPECT_FALSE(r.damagedTail) << r.error;
            EXPECT_EQ(r.recordCount, static_cast<uint64_t>(written));
            if (QFile::exists(QString::fromStdString(file))) {
                EXPECT_EQ(FileBytes(file), other);
            }
            break;
        }
        case Left::Other:
            EXPECT_EQ(FileBytes(file), other);
            break;
        case Left::Cut:
            // No hole at the old offset, no record after the cut.
            EXPECT_EQ(FileBytes(file).size(), c.cutTo);
            break;
        case Left::OwnRecords: {
            const RecordingReadResult r = ReadRecording(file);
            EXPECT_FALSE(r.damagedTail) << r.error;
            EXPECT_EQ(r.recordCount, static_cast<uint64_t>(written));
            EXPECT_EQ(r.fileSize, kHeader + written * kRecord);
            break;
        }
    }
}

const uint64_t kMiddle = kHeader + kRecord + kRecord / 2;  // inside the second record

INSTANTIATE_TEST_SUITE_P(
    Table, Tamper,
    ::testing::Values(
        TamperCase{"DeletedWhileWriting", kDelete, "was deleted", Found::Writing, Left::Nothing},
        TamperCase{"DeletedWhileWatching", kDelete, "was deleted", Found::Watching, Left::Nothing},
        TamperCase{"DeletedAtClose", kDelete, "was deleted", Found::Closing, Left::Nothing},
        TamperCase{"FolderRemovedWhileWriting", kRemoveFolder, "was deleted", Found::Writing,
                   Left::Nothing},
        TamperCase{"RenamedWhileWriting", kRename, "was moved or renamed", Found::Writing,
                   Left::Moved},
        TamperCase{"RenamedAtClose", kRename, "was moved or renamed", Found::Closing, Left::Moved},
        TamperCase{"ReplacedWhileWriting", kReplaceOver, "was replaced", Found::Writing,
                   Left::Other},
        TamperCase{"ReplacedAtClose", kReplaceOver, "was replaced", Found::Closing, Left::Other},
        TamperCase{"MovedAsideAndReplacedWhileWatching", kMoveAsideAndReplace, "was replaced",
                   Found::Watching, Left::Moved},
        TamperCase{"TruncatedToZeroWhileWriting", TruncateTo(0), "was shortened by another",
                   Found::Writing, Left::Cut, 0},
        TamperCase{"TruncatedToZeroWhileWatching", TruncateTo(0), "was shortened by another",
                   Found::Watching, Left::Cut, 0},
        TamperCase{"TruncatedToTheMiddleWhileWriting", TruncateTo(kMiddle),
                   "was shortened by another", Found::Writing, Left::Cut, kMiddle},
        TamperCase{"TruncatedToTheMiddleAtClose", TruncateTo(kMiddle), "was shortened by another",
                   Found::Closing, Left::Cut, kMiddle},
        TamperCase{"AppendedToWhileWriting", kAppend, "was changed by another", Found::Writing,
                   Left::OwnRecords},
        TamperCase{"AppendedToAtClose", kAppend, "was changed by another", Found::Closing,
                   Left::OwnRecords}),
    [](const auto& info) { return std::string(info.param.name); });

// An untouched file closes cleanly, however long it stayed open.
TEST(TamperFree, AFileLeftAloneClosesWithoutAMessage) {
    QTemporaryDir tmp;
    const QString name = QDir(tmp.path()).filePath("quiet.cvx");
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, name, 1000, 1, 1));
    for (int i = 0; i < 40; ++i) {  // 0.8 s: the background check runs a few times
        ASSERT_TRUE(WriteLikeWindow(w, i, kFrames));
        ASSERT_TRUE(w.CheckOpenFile());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(w.CloseFile()) << w.errorString().toStdString();
    EXPECT_TRUE(w.errorString().isEmpty());
    EXPECT_EQ(ReadRecording(name.toStdString()).recordCount, 40u);
}

}  // namespace
}  // namespace rv8
