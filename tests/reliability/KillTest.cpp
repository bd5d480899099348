// A recording killed at random moments: a child process writes records with the real writer
// and reports on a pipe when it begins each record and when WriteBlock has returned; the parent
// kills it with SIGKILL at a random moment, twenty times. Every record whose writing returned
// must read back exactly as written; at most the one record being written may also be there;
// anything cut short is reported as a damaged tail at the end of the last good record.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <thread>

#include <QDir>
#include <QTemporaryDir>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/tools/ToolRun.h"

namespace rv8::testing {
namespace {

struct Message {
    int32_t kind;  // kOpened, kBegin, kDone
    int32_t number;
};
constexpr int32_t kOpened = 1, kBegin = 2, kDone = 3;
constexpr int kMaxRecords = 3000;

// Frames of record n: mostly large records (so that a kill often lands inside a write), some
// small and some empty.
int32_t FramesOf(int32_t n) {
    switch (n % 5) {
        case 0:
            return 130000;
        case 1:
            return 0;
        case 2:
            return 1 + n % 17;
        default:
            return 20000 + (n * 7919) % 50000;
    }
}
int16_t SampleOf(int32_t n, std::size_t i) {
    return static_cast<int16_t>(static_cast<uint16_t>((n * 31 + i * 7) & 0xFFFC));
}

[[noreturn]] void Child(const std::string& path, int out) {
    auto send = [out](int32_t kind, int32_t n) {
        const Message m{kind, n};
        if (::write(out, &m, sizeof m) != sizeof m) ::_exit(4);
    };
    WriteVelmarFileII w;
    w.ChannelCount(2);
    w.SampleRate(100000);
    w.SetChannelRange(4, -4, 0);
    w.SetChannelRange(0.8, -0.8, 1);
    w.FileName(QString::fromStdString(path));
    if (!w.OpenFile()) ::_exit(2);
    send(kOpened, 0);
    std::vector<int16_t> samples(2 * 130000);
    for (int32_t n = 0; n < kMaxRecords; ++n) {
        const int32_t frames = FramesOf(n);
        for (std::size_t i = 0; i < 2 * static_cast<std::size_t>(frames); ++i)
            samples[i] = SampleOf(n, i);
        w.AddComment(QStringLiteral("kill %1").arg(n));
        w.AddEventMark(n);
        send(kBegin, n);
        if (!w.WriteBlock(samples.data(), frames)) ::_exit(3);
        send(kDone, n);
    }
    ::_exit(0);
}

TEST(KilledRecording, KeepsEveryRecordWhoseWritingReturned) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string cli = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    int tornTails = 0;

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string path =
            QDir(tmp.path()).filePath(QStringLiteral("k%1.cvx").arg(round)).toStdString();
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            Child(path, fds[1]);
        }
        ::close(fds[1]);

        // Wait for a random number of returned records (0 to 40; every fifth round kills
        // while the file is being created), then a random fraction of a record's time more.
        const int waitFor = round % 5 == 0 ? -1 : static_cast<int>(random() % 41);
        const auto delay = std::chrono::microseconds(random() % 1500);
        bool opened = false;
        int32_t begun = -1, done = -1;
        auto take = [&](const Message& m) {
            if (m.kind == kOpened) opened = true;
            if (m.kind == kBegin) begun = m.number;
            if (m.kind == kDone) done = m.number;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (waitFor >= 0 && done + 1 < waitFor && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            Message m{};
            if (::read(fds[0], &m, sizeof m) != sizeof m) break;
            take(m);
        }
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        // Everything the child reported before it died.
        for (Message m{}; ::read(fds[0], &m, sizeof m) == sizeof m;)
            take(m);
        ::close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself with " << status;

        const RecordingReadResult r = ReadRecording(path);
        if (!opened) {
            // Killed while creating the file: no record, and nothing that looks like one.
            EXPECT_EQ(r.recordCount, 0u);
            continue;
        }
        ASSERT_TRUE(r.headerOk) << r.error;
        const uint64_t returned = static_cast<uint64_t>(done + 1);
        const bool writing = begun > done;
        EXPECT_GE(r.recordCount, returned);
        EXPECT_LE(r.recordCount, returned + (writing ? 1 : 0));
        for (const RecordingRecord& rec : r.records) {
            const int32_t n = static_cast<int32_t>(rec.number);
            ASSERT_EQ(rec.frames, static_cast<uint32_t>(FramesOf(n)));
            EXPECT_EQ(rec.comment, "kill " + std::to_string(n));
            EXPECT_EQ(rec.eventMark, n);
            for (std::size_t i = 0; i < rec.samples.size(); ++i)
                ASSERT_EQ(rec.samples[i], SampleOf(n, i)) << "record " << n << " sample " << i;
        }
        EXPECT_EQ(r.damagedTail, r.tailOffset < r.fileSize);
        EXPECT_EQ(r.tailIndex, r.recordCount);
        if (r.damagedTail) {
            ++tornTails;
            EXPECT_TRUE(writing) << "a damaged tail without a record in progress";
        }
        EXPECT_EQ(RunTool(cli + " verify " + Quote(path)).status, r.damagedTail ? 1 : 0);
    }
    std::printf("kill test: %d of 20 rounds left a damaged tail (seed %u)\n", tornTails, seed);
}

}  // namespace
}  // namespace rv8::testing
