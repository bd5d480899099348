#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFileInfo>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"

namespace rv8 {
namespace {

using testing::FileBytes;
using testing::OpenLikeWindow;
using testing::TestBlock;
using testing::WriteBytes;
using testing::WriteLikeWindow;

class WriterTest : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    QString qpath(const char* name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

TEST_F(WriterTest, WindowSequenceReadsBack) {
    WriteVelmarFileII w;
    EXPECT_EQ(w.fileName(), QStringLiteral("C:\\Sample.cvx"));
    w.CloseFile();  // nothing open: no-op
    EXPECT_FALSE(w.isOpen());
    ASSERT_TRUE(OpenLikeWindow(w, qpath("a.cvx"), 50000, 2.5, 0.1))
        << w.errorString().toStdString();
    EXPECT_TRUE(w.isOpen());
    const int frames[] = {4096, 1, 0, 7};
    for (int r = 0; r < 4; ++r)
        ASSERT_TRUE(WriteLikeWindow(w, r, frames[r]));
    w.CloseFile();
    EXPECT_FALSE(w.isOpen());
    w.CloseFile();

    const RecordingReadResult got = ReadRecording(path("a.cvx"));
    ASSERT_TRUE(got.headerOk) << got.error;
    EXPECT_FALSE(got.damagedTail) << got.error;
    EXPECT_EQ(got.header.channelCount, 2);
    EXPECT_EQ(got.header.sampleRate, 50000);
    ASSERT_EQ(got.header.ranges.size(), 2u);
    EXPECT_EQ(got.header.ranges[0].upper, 2.5);
    EXPECT_EQ(got.header.ranges[0].lower, -2.5);
    EXPECT_EQ(got.header.ranges[1].upper, 0.1);
    EXPECT_EQ(got.header.ranges[1].lower, -0.1);
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    EXPECT_NEAR(static_cast<double>(got.header.creationTimeUs), static_cast<double>(nowUs), 60e6);
    ASSERT_EQ(got.records.size(), 4u);
    for (int r = 0; r < 4; ++r) {
        const RecordingRecord& rec = got.records[r];
        EXPECT_EQ(rec.number, static_cast<uint32_t>(r));
        EXPECT_EQ(rec.comment, "Log comment " + std::to_string(r));
        EXPECT_EQ(rec.eventMark, 1);
        EXPECT_EQ(rec.sampleRate, 50000);
        EXPECT_EQ(rec.frames, static_cast<uint32_t>(frames[r]));
        EXPECT_EQ(rec.samples, TestBlock(r, frames[r]));
        EXPECT_GE(rec.timeUs, got.header.creationTimeUs);
        if (r > 0) {
            EXPECT_GE(rec.timeUs, got.records[r - 1].timeUs);
        }
    }
    EXPECT_EQ(got.tailOffset, got.fileSize);
}

TEST_F(WriterTest, EachRecordCarriesTheRateInForceAndItsOwnCommentAndMark) {
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("r.cvx"), 1000, 1, 1));
    const std::vector<int16_t> block = TestBlock(0, 3);
    w.AddComment(QStringLiteral("first"));
    w.AddEventMark(-7);
    ASSERT_TRUE(w.WriteBlock(block.data(), 3));
    w.SampleRate(250000);
    ASSERT_TRUE(w.WriteBlock(block.data(), 3));  // no comment or mark given for this one
    w.ChannelCount(5);                           // settings for the next file only
    w.AddComment(QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
    ASSERT_TRUE(w.WriteBlock(block.data(), 3));
    w.CloseFile();

    const RecordingReadResult got = ReadRecording(path("r.cvx"));
    ASSERT_EQ(got.records.size(), 3u) << got.error;
    EXPECT_EQ(got.header.sampleRate, 1000);
    EXPECT_EQ(got.header.channelCount, 2);
    EXPECT_EQ(got.records[0].sampleRate, 1000);
    EXPECT_EQ(got.records[1].sampleRate, 250000);
    EXPECT_EQ(got.records[2].sampleRate, 250000);
    EXPECT_EQ(got.records[0].comment, "first");
    EXPECT_EQ(got.records[0].eventMark, -7);
    EXPECT_EQ(got.records[1].comment, "");
    EXPECT_EQ(got.records[1].eventMark, 0);
    EXPECT_EQ(got.records[2].comment, "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(got.records[2].samples, block);
}

TEST_F(WriterTest, ExistingFileIsNeverOpenedForWriting) {
    const std::vector<uint8_t> original = {'k', 'e', 'e', 'p', 0, 1, 2, 0xFF};
    WriteBytes(path("taken.cvx"), original);
    WriteVelmarFileII w;
    EXPECT_FALSE(OpenLikeWindow(w, qpath("taken.cvx"), 1000, 1, 1));
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(w.WriteBlock(TestBlock(0, 2).data(), 2));
    w.CloseFile();
    EXPECT_EQ(FileBytes(path("taken.cvx")), original);
    const std::string err = w.errorString().toStdString();
    EXPECT_NE(err.find(path("taken.cvx")), std::string::npos) << err;
    EXPECT_NE(err.find(std::strerror(EEXIST)), std::string::npos) << err;

    // A second recording on the first one's name is refused too, and the first stays intact.
    ASSERT_TRUE(OpenLikeWindow(w, qpath("one.cvx"), 1000, 1, 1));
    ASSERT_TRUE(WriteLikeWindow(w, 0, 10));
    w.CloseFile();
    const std::vector<uint8_t> first = FileBytes(path("one.cvx"));
    WriteVelmarFileII other;
    EXPECT_FALSE(OpenLikeWindow(other, qpath("one.cvx"), 1000, 1, 1));
    EXPECT_EQ(FileBytes(path("one.cvx")), first);
}

TEST_F(WriterTest, FailedOpensNameTheFileAndTheReason) {
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(path("locked").c_str(), 0555), 0);
    struct Case {
        QString name;
        std::string mentions;  // in errorString
        bool needsNonRoot;
    };
    const Case cases[] = {
        {qpath("missing/x.cvx"), std::strerror(ENOENT), false},
        {qpath("folder"), std::strerror(EEXIST), false},
        {qpath("locked/x.cvx"), std::strerror(EACCES), true},
        {QString(), "empty", false},
        {qpath("nul") + QChar(0) + QStringLiteral("x.cvx"), "NUL", false},
    };
    for (const Case& c : cases) {
        if (c.needsNonRoot && ::geteuid() == 0) continue;  // root writes anywhere
        WriteVelmarFileII w;
        EXPECT_FALSE(OpenLikeWindow(w, c.name, 1000, 1, 1)) << c.name.toStdString();
        EXPECT_FALSE(w.isOpen());
        const std::string err = w.errorString().toStdString();
        EXPECT_NE(err.find(c.mentions), std::string::npos) << err;
        if (!c.name.isEmpty()) {
            EXPECT_NE(err.find(c.name.left(c.name.indexOf(QChar(0))).toStdString()),
                      std::string::npos)
                << err;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(qpath("nul")));

    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("open.cvx"), 1000, 1, 1));
    EXPECT_FALSE(OpenLikeWindow(w, qpath("open2.cvx"), 1000, 1, 1));  // one file at a time
    EXPECT_TRUE(w.isOpen());
    EXPECT_FALSE(QFileInfo::exists(qpath("open2.cvx")));
    WriteVelmarFileII none;
    none.ChannelCount(0);
    none.FileName(qpath("zero.cvx"));
    EXPECT_FALSE(none.OpenFile());
}

TEST_F(WriterTest, FrameCountsAndSampleArgumentsAreChecked) {
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("f.cvx"), 1000, 1, 1));
    struct Case {
        bool withSamples;
        int32_t frames;
        bool ok;
    };
    const std::vector<int16_t> block = TestBlock(0, 2);
    const Case cases[] = {{true, -1, false}, {false, 2, false}, {false, 0, true},
                          {true, 0, true},   {true, 2, true},   {true, INT32_MIN, false}};
    int written = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(w.WriteBlock(c.withSamples ? block.data() : nullptr, c.frames), c.ok) << c.frames;
        written += c.ok;
        EXPECT_TRUE(w.isOpen());  // a refused call leaves the file open
    }
    w.CloseFile();
    const RecordingReadResult got = ReadRecording(path("f.cvx"));
    ASSERT_EQ(got.records.size(), static_cast<std::size_t>(written));
    EXPECT_FALSE(got.damagedTail);
    EXPECT_EQ(got.records[0].frames, 0u);
    EXPECT_EQ(got.records[2].samples, block);
}

TEST_F(WriterTest, LongCommentsAreCutAtACharacterBoundary) {
    // 65535 ASCII bytes and a two-byte character: the character would straddle the limit.
    const QString comment = QString(65535, QChar('a')) + QString::fromUtf8("\xc3\xa9");
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("c.cvx"), 1000, 1, 1));
    w.AddComment(comment);
    ASSERT_TRUE(w.WriteBlock(nullptr, 0));
    w.AddComment(QString(recfile::kMaxCommentBytes, QChar('b')));  // exactly the limit
    ASSERT_TRUE(w.WriteBlock(nullptr, 0));
    w.CloseFile();
    const RecordingReadResult got = ReadRecording(path("c.cvx"));
    ASSERT_EQ(got.records.size(), 2u) << got.error;
    EXPECT_EQ(got.records[0].comment, std::string(65535, 'a'));
    EXPECT_EQ(got.records[1].comment.size(), recfile::kMaxCommentBytes);
}

// A file-size limit is per process, so the writing happens in a child. The limit falls in the
// middle of the fourth record: three records are written, the fourth fails, and the file holds
// exactly the three.
TEST_F(WriterTest, FileSizeLimitEndsTheRecordingCleanly) {
    const int kFrames = 1000;
    const uint64_t record = recfile::RecordSize(13, kFrames, 2);  // "Log comment N"
    const uint64_t limit = recfile::HeaderSize(2) + 3 * record + record / 2;
    const std::string file = path("limit.cvx");
    int pipeFd[2];
    ASSERT_EQ(::pipe(pipeFd), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(pipeFd[0]);
        struct rlimit rl {};
        rl.rlim_cur = rl.rlim_max = limit;
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(90);
        WriteVelmarFileII w;
        if (!OpenLikeWindow(w, QString::fromStdString(file), 1000, 1, 1)) ::_exit(91);
        int ok = 0;
        while (ok < 10 && WriteLikeWindow(w, ok, kFrames))
            ++ok;
        const std::string err = w.errorString().toStdString();
        const std::string report =
            std::to_string(ok) + " " + (w.isOpen() ? "open" : "closed") + " " + err;
        (void)!::write(pipeFd[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(pipeFd[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = ::read(pipeFd[0], buf, sizeof buf)) > 0;)
        report.append(buf, n);
    ::close(pipeFd[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child killed by signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(report.rfind("3 closed ", 0), 0u) << report;
    EXPECT_NE(report.find(std::strerror(EFBIG)), std::string::npos) << report;
    EXPECT_NE(report.find(file), std::string::npos) << report;

    const RecordingReadResult got = ReadRecording(file);
    ASSERT_TRUE(got.headerOk) << got.error;
    EXPECT_FALSE(got.damagedTail) << got.error;
    ASSERT_EQ(got.records.size(), 3u);
    EXPECT_EQ(got.fileSize, recfile::HeaderSize(2) + 3 * record);
    EXPECT_EQ(got.records[2].samples, TestBlock(2, kFrames));
}

// A long recording must not fill the page cache: once the background sync has made records
// durable, their pages are released (and the records read back intact afterwards).
TEST_F(WriterTest, SyncedRecordsLeaveThePageCache) {
    struct statfs fs {};
    ASSERT_EQ(::statfs(dir_.path().toLocal8Bit().constData(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC) GTEST_SKIP() << "a tmpfs folder has no page cache to release";
    constexpr int kFrames = 130000;
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("c.cvx"), 1e6, 1, 1));
    // Records for a little over one sync interval, then a few more after it.
    const auto start = std::chrono::steady_clock::now();
    int records = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1600)) {
        ASSERT_TRUE(WriteLikeWindow(w, records++, kFrames));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The first records' pages, as the page cache holds them now.
    const int fd = ::open(path("c.cvx").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::size_t span = 4u * 520000;
    void* map = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    const long page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident((span + static_cast<std::size_t>(page) - 1) /
                                        static_cast<std::size_t>(page));
    ASSERT_EQ(::mincore(map, span, resident.data()), 0);
    const auto cached = std::count_if(resident.begin(), resident.end(),
                                      [](unsigned char r) { return (r & 1) != 0; });
    ::munmap(map, span);
    ::close(fd);
    EXPECT_LT(cached, static_cast<long>(resident.size() / 10))
        << cached << " of the first " << resident.size() << " pages still cached after " << records
        << " records";
    w.CloseFile();
    const RecordingReadResult got = ReadRecording(path("c.cvx"));
    EXPECT_EQ(got.records.size(), static_cast<std::size_t>(records)) << got.error;
}

// Not a test: prints how long one 520 KB record takes (run with
// --gtest_also_run_disabled_tests --gtest_filter='*Timing*').
TEST_F(WriterTest, DISABLED_TimingOf130000FrameRecords) {
    const int kFrames = 130000;
    const int kRecords = 400;
    std::vector<int16_t> block = TestBlock(1, kFrames);
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenLikeWindow(w, qpath("t.cvx"), 1e6, 1, 1));
    ASSERT_TRUE(WriteLikeWindow(w, 0, kFrames));  // warm the buffer
    std::vector<double> us;
    for (int r = 1; r < kRecords; ++r) {
        w.AddComment(QStringLiteral("Log comment %1").arg(r));
        w.AddEventMark(1);
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(w.WriteBlock(block.data(), kFrames));
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    w.CloseFile();
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    const auto t0 = std::chrono::steady_clock::now();
    const uint32_t crc = Crc32(block.data(), block.size() * 2);
    const double crcUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    std::printf(
        "WriteBlock of %d frames x 2 (%zu bytes): median %.1f us, mean %.1f us, "
        "p90 %.1f us, max %.1f us (page-cache writeback stalls); CRC alone %.1f us "
        "(%08x)\n",
        kFrames, block.size() * 2, us[us.size() / 2], sum / us.size(), us[us.size() * 9 / 10],
        us.back(), crcUs, crc);
}

}  // namespace
}  // namespace rv8
