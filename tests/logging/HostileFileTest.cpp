// The reader on files made to hurt it: sparse files whose one record claims a huge sample
// block, files that are no regular files, files cut or lengthened while being read, and the
// command-line tool on them. Memory is measured by this program's own count of the bytes held
// through operator new (and, as a cross-check, the growth of the peak resident size).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/support/Sanitizers.h"
#include "tests/tools/ToolRun.h"

// ---- Bytes held through operator new ----------------------------------------------------------

namespace {
std::atomic<long long> g_held{0};
std::atomic<long long> g_peak{0};

void* Take(std::size_t n) {
    void* p = std::malloc(n + 16);
    if (p == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(p) = n;
    const long long now = g_held += static_cast<long long>(n);
    for (long long peak = g_peak; now > peak && !g_peak.compare_exchange_weak(peak, now);) {
    }
    return static_cast<char*>(p) + 16;
}
void Give(void* q) noexcept {
    if (q == nullptr) return;
    void* p = static_cast<char*>(q) - 16;
    g_held -= static_cast<long long>(*static_cast<std::size_t*>(p));
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) {
    return Take(n);
}
void* operator new[](std::size_t n) {
    return Take(n);
}
void operator delete(void* p) noexcept {
    Give(p);
}
void operator delete[](void* p) noexcept {
    Give(p);
}
void operator delete(void* p, std::size_t) noexcept {
    Give(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    Give(p);
}

namespace rv8 {
namespace {

using testing::OpenLikeWindow;
using testing::WriteLikeWindow;

constexpr long long kMiB = 1 << 20;
using testing::kAddressSanitizer;

long PeakResidentKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A header for 2 channels and one record claiming `frames` frames and no comment, the file
// extended (sparsely) to the size the claim needs. With `validCrc` the record's CRC is the one
// of its bytes as they read (zeros): a huge record that is really there. Version 1 records: a
// record header and nothing between it and the samples.
std::string SparseFile(const QTemporaryDir& dir, const char* name, uint32_t frames, bool validCrc) {
    RecordingHeader h;
    h.channelCount = 2;
    h.sampleFormat = recfile::kSampleFormatInt16;
    h.sampleRate = 1000;
    h.ranges = {{1, -1}, {1, -1}};
    std::vector<uint8_t> bytes = EncodeRecordingHeader(h, 1);
    uint8_t head[recfile::kRecordHeaderBytes] = {};
    recfile::PutU32(head + recfile::kRecOffMarker, recfile::kRecordMarker);
    recfile::PutU32(head + recfile::kRecOffEventMark, 1);
    recfile::PutU32(head + recfile::kRecOffFrames, frames);
    bytes.insert(bytes.end(), head, head + sizeof head);
    const uint64_t total = recfile::RecordSize(0, frames, 2, 1);
    const std::string path = QDir(dir.path()).filePath(name).toStdString();
    testing::WriteBytes(path, bytes);
    const uint64_t end = bytes.size() - sizeof head + total;
    EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(end)), 0);
    if (validCrc) {
        uint32_t crc = Crc32(head, sizeof head);
        const std::vector<uint8_t> zeros(kMiB, 0);
        for (uint64_t left = total - sizeof head - 4; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(left, zeros.size()));
            crc = Crc32(zeros.data(), n, crc);
            left -= n;
        }
        uint8_t field[4];
        recfile::PutU32(field, crc);
        FILE* f = std::fopen(path.c_str(), "r+b");
        EXPECT_NE(f, nullptr);
        std::fseek(f, static_cast<long>(end - 4), SEEK_SET);
        std::fwrite(field, 1, 4, f);
        std::fclose(f);
    }
    return path;
}

struct SparseCase {
    const char* name;
    uint32_t frames;
    bool validCrc;
    bool visitor;    // a visitor that wants the samples
    bool delivered;  // the record reaches the visitor / is counted
};

class SparseFiles : public ::testing::TestWithParam<SparseCase> {};

TEST_P(SparseFiles, CostAStreamThroughTheCrcNeverTheClaimedMemory) {
    const SparseCase& c = GetParam();
    QTemporaryDir dir;
    const std::string path = SparseFile(dir, "sparse.cvx", c.frames, c.validCrc);
    uint64_t samplesSeen = 0;
    bool allZero = true;
    const RecordingVisitor visit = [&](const RecordingRecord& rec) {
        samplesSeen += rec.samples.size();
        for (std::size_t i = 0; i < rec.samples.size(); i += 4099)
            allZero = allZero && rec.samples[i] == 0;
        return true;
    };
    const long rssBefore = PeakResidentKiB();
    g_peak = g_held.load();
    const long long heldBefore = g_held;
    const auto t0 = std::chrono::steady_clock::now();
    const RecordingReadResult r = ScanRecording(path, c.visitor ? visit : nullptr);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long long peak = g_peak - heldBefore;
    const long rssGrowth = PeakResidentKiB() - rssBefore;
    std::printf("[ %s ] %.2f s, peak held %.1f MiB, peak RSS growth %.1f MiB\n", c.name, s,
                peak / double(kMiB), rssGrowth / 1024.0);

    ASSERT_TRUE(r.headerOk) << r.error;
    EXPECT_FALSE(r.outOfMemory);
    EXPECT_FALSE(r.ioError);
    if (c.delivered) {
        EXPECT_FALSE(r.damagedTail) << r.error;
        EXPECT_EQ(r.recordCount, 1u);
        if (c.visitor) {
            EXPECT_EQ(samplesSeen, 2ull * c.frames);
            EXPECT_TRUE(allZero);
        }
        // A valid record's samples cost their own size, and no more than one piece besides.
        EXPECT_LT(peak, (c.visitor ? 4ll * c.frames : 0) + 2 * (long long)recfile::kReadChunkBytes +
                            kMiB);
    } else {
        EXPECT_TRUE(r.damagedTail);
        EXPECT_EQ(r.recordCount, 0u);
        EXPECT_EQ(r.tailOffset, recfile::HeaderSize(2));
        EXPECT_NE(r.error.find("damaged record (checksum mismatch)"), std::string::npos) << r.error;
        EXPECT_LT(peak, 64 * kMiB);
        if (!kAddressSanitizer) {
            EXPECT_LT(rssGrowth, 64 * 1024);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SparseFiles,
    ::testing::Values(
        // 1 GiB of samples claimed, checksum wrong.
        SparseCase{"GigabyteClaim", 1u << 28, false, false, false},
        SparseCase{"GigabyteClaimWithAVisitor", 1u << 28, false, true, false},
        // The largest frame count: 16 GiB of samples claimed.
        SparseCase{"LargestFrameCount", 0xFFFFFFFFu, false, false, false},
        // 32 MiB of zero samples with a matching checksum: a valid record of 8 Mi frames.
        SparseCase{"ValidLargeRecordVerified", 1u << 23, true, false, true},
        SparseCase{"ValidLargeRecordVisited", 1u << 23, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A valid record larger than the memory the process may have: reading stops there with a
// message instead of dying on std::bad_alloc.
TEST(SparseFilesOutOfMemory, AValidRecordBeyondTheMemoryLimitStopsReadingCleanly) {
    if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit does not work under ASan";
    QTemporaryDir dir;
    const std::string path = SparseFile(dir, "big.cvx", 1u << 27, true);  // 512 MiB of samples
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    // Room for what the process has mapped now and a little more, not for the samples.
    long vmKiB = 0;
    {
        FILE* f = std::fopen("/proc/self/status", "r");
        char line[256];
        while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "VmSize: %ld", &vmKiB) == 1) break;
        }
        if (f != nullptr) std::fclose(f);
    }
    ASSERT_GT(vmKiB, 0);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(vmKiB + 256 * 1024) * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &small), 0);
    RecordingReadResult r;
    try {
        r = ScanRecording(path, [](const RecordingRecord&) { return true; });
    } catch (...) {
        setrlimit(RLIMIT_AS, &old);
        FAIL() << "the reader threw";
    }
    setrlimit(RLIMIT_AS, &old);
    EXPECT_TRUE(r.outOfMemory);
    EXPECT_TRUE(r.ioError);
    EXPECT_TRUE(r.damagedTail);
    EXPECT_EQ(r.recordCount, 0u);
    EXPECT_NE(r.error.find("not enough memory"), std::string::npos) << r.error;
    // Without a visitor the same record is checked and counted.
    EXPECT_EQ(ScanRecording(path, nullptr).recordCount, 1u);
}

// ---- Files that are not regular files -------------------------------------------------------

TEST(NotRegularFiles, AreRefusedAtOnceWithAClearMessage) {
    QTemporaryDir dir;
    const std::string fifo = QDir(dir.path()).filePath("pipe.cvx").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::string path;
        const char* says;
    };
    const Case cases[] = {{fifo, "pipe"},
                          {"/dev/zero", "device"},
                          {"/dev/null", "device"},
                          {dir.path().toStdString(), "folder"}};
    for (const Case& c : cases) {
        for (const bool visitor : {false, true}) {
            const RecordingReadResult r =
                visitor ? ReadRecording(c.path) : ScanRecording(c.path, nullptr);
            EXPECT_FALSE(r.headerOk) << c.path;
            EXPECT_TRUE(r.ioError) << c.path;
            EXPECT_NE(r.error.find(c.path), std::string::npos) << r.error;
            EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
        }
    }
}

// ---- Files that change while being read -----------------------------------------------------

struct ChangeCase {
    const char* name;
    // The change is made from the header visitor (before any record is read) or from the
    // record visitor of record `afterRecord`.
    int afterRecord;                                                  // -1: from the header visitor
    std::function<uint64_t(uint64_t header, uint64_t record)> cutTo;  // null: no cut
    bool grow;
    uint64_t records;  // records read
    bool damaged;
};

class ChangingFiles : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangingFiles, EndInAnIncompleteTailNeverACrash) {
    const ChangeCase& c = GetParam();
    QTemporaryDir dir;
    const QString name = QDir(dir.path()).filePath("changing.cvx");
    const std::string path = name.toStdString();
    const uint64_t header = recfile::HeaderSize(2);
    const uint64_t record = recfile::RecordSize(13, 3000, 2);
    const auto change = [&] {
        if (c.cutTo) {
            ASSERT_EQ(::truncate(path.c_str(), (off_t)c.cutTo(header, record)), 0);
        }
        if (c.grow) {
            testing::WriteBytes(path + ".x", std::vector<uint8_t>(5000, 0xAB));
            ASSERT_EQ(std::system(("cat '" + path + ".x' >> '" + path + "'").c_str()), 0);
        }
    };
    // In small pieces too, so that records take the path of a check before the samples.
    for (const std::size_t piece : {recfile::kReadChunkBytes, std::size_t{4096}}) {
        SCOPED_TRACE(piece);
        ::unlink(path.c_str());
        WriteVelmarFileII w;
        ASSERT_TRUE(OpenLikeWindow(w, name, 1000, 1, 1));
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(WriteLikeWindow(w, i, 3000));
        ASSERT_TRUE(w.CloseFile());
        uint64_t seen = 0;
        const RecordingReadResult r = ScanRecording(
            path,
            [&](const RecordingRecord& rec) {
                ++seen;
                if (static_cast<int>(rec.number) == c.afterRecord) change();
                return true;
            },
            [&](const RecordingHeader&) {
                if (c.afterRecord < 0) change();
            },
            RecordingReadOptions{piece});
        ASSERT_TRUE(r.headerOk) << r.error;
        EXPECT_FALSE(r.ioError) << r.error;
        EXPECT_EQ(r.recordCount, c.records) << r.error;
        EXPECT_EQ(seen, c.records);
        EXPECT_EQ(r.damagedTail, c.damaged) << r.error;
        if (c.damaged) {
            EXPECT_EQ(r.tailOffset, header + c.records * record);
            EXPECT_NE(r.error.find("incomplete record"), std::string::npos) << r.error;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChangingFiles,
    ::testing::Values(
        ChangeCase{"CutToNothingAfterTheHeader", -1, [](uint64_t, uint64_t) { return 0; }, false, 0,
                   true},
        ChangeCase{"CutInsideTheFirstRecordAfterTheHeader", -1,
                   [](uint64_t h, uint64_t) { return h + 20; }, false, 0, true},
        ChangeCase{"CutInsideTheThirdRecordAfterTheFirst", 0,
                   [](uint64_t h, uint64_t r) { return h + 2 * r + r / 2; }, false, 2, true},
        ChangeCase{"CutAtARecordEnd", 1, [](uint64_t h, uint64_t r) { return h + 2 * r; }, false, 2,
                   true},
        // Bytes appended after the file was opened are not read: the file as it was, intact.
        ChangeCase{"GrowsWhileRead", 0, nullptr, true, 4, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The command-line tool ------------------------------------------------------------------

TEST(HostileFilesCli, VerifyReportsTheSparseFileDamagedQuickly) {
    QTemporaryDir dir;
    const std::string tool = testing::Quote(testing::EnvOr("RV8_BIN_DIR", ".") + "/rv8rec");
    const std::string gig = SparseFile(dir, "gig.cvx", 1u << 28, false);
    const std::string largest = SparseFile(dir, "largest.cvx", 0xFFFFFFFFu, false);
    const std::string valid = SparseFile(dir, "valid.cvx", 1u << 26, true);  // 256 MiB, sound
    // Under a limit of 200 MB of address space: no death on std::bad_alloc, whatever is asked.
    const std::string limited = "ulimit -v 200000; ";
    struct Case {
        std::string prefix;
        const char* command;
        std::string path;
        int status;
        const char* says;  // on standard output or standard error
    };
    std::vector<Case> cases = {
        {"", "verify", gig, 1, "DAMAGED after 0 intact records"},
        {"", "info", gig, 1, "damaged tail"},
        {"", "export", gig, 1, "record,time_s"},
        {"", "verify", largest, 1, "DAMAGED after 0 intact records"},
        {"", "verify", valid, 0, "intact, 1 records"},
    };
    if (!kAddressSanitizer) {
        cases.push_back({limited, "verify", largest, 1, "DAMAGED after 0 intact records"});
        cases.push_back({limited, "verify", valid, 0, "intact, 1 records"});
        // The samples of the valid record do not fit: a report and status 2, no crash.
        cases.push_back({limited, "export", valid, 2, "not enough memory"});
    }
    for (const Case& c : cases) {
        const std::string command =
            c.prefix + tool + " " + c.command + " " + testing::Quote(c.path);
        const auto t0 = std::chrono::steady_clock::now();
        const testing::ToolRun run = testing::RunTool(command);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("[ %s ] exit %d after %.2f s\n", command.c_str(), run.status, s);
        EXPECT_EQ(run.status, c.status) << command << "\n" << run.out;
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << command << "\n"
                                                                       << run.out << run.err;
    }
}

}  // namespace
}  // namespace rv8
