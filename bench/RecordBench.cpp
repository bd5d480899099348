// Writing one 130000-frame record through the recording-file writer, against a raw write(2) of
// the same number of bytes to a file in the same folder. Both run at the program's pace (one
// record every 20 ms, the acquisition ceiling) so that the writer syncs as it does in use: at
// most once a second, the sync's cost shared by the records of that second. Only the write calls
// themselves are timed. The folder is a new one in the temporary directory ($TMPDIR or /tmp).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <QString>

#include "bench/BenchData.h"
#include "bench/Benchmarks.h"
#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"

namespace rv8::bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int32_t kFrames = 130000;
constexpr int kRecords = 100;  // two seconds at 50 records a second
constexpr auto kPace = std::chrono::milliseconds(20);
const QString kComment = QStringLiteral("Log comment 123");

// A new, empty folder in the temporary directory, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "rv8-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    bool ok() const { return !path_.empty(); }
    fs::path file(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Runs `write` once per iteration, one every kPace, timing each call on its own.
template <typename Write>
void Paced(benchmark::State& state, Write write) {
    auto next = Clock::now();
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += kPace;
        const auto t0 = Clock::now();
        const bool ok = write();
        const auto t1 = Clock::now();
        if (!ok) {
            state.SkipWithError("write failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}

void BM_WriteBlock(benchmark::State& state) {
    TempFolder folder;
    std::vector<int16_t> block = MakeFrames(Signal::Sine, kFrames);
    WriteVelmarFileII writer;
    writer.ChannelCount(2);
    writer.SampleRate(100000);
    writer.SetChannelRange(4, -4, 0);
    writer.SetChannelRange(0.8, -0.8, 1);
    writer.FileName(QString::fromStdString(folder.file("record.cvx").string()));
    if (!folder.ok() || !writer.OpenFile()) {
        state.SkipWithError("cannot create the recording file");
        return;
    }
    Paced(state, [&] {
        writer.AddComment(kComment);
        writer.AddEventMark(1);
        return writer.WriteBlock(block.data(), kFrames);
    });
    writer.CloseFile();
}

// How the raw file is synced: never, or with fdatasync at most once a second as the writer does
// (the least any writer with that policy pays).
enum class Sync { None, EverySecond };

void BM_RawWrite(benchmark::State& state, Sync sync) {
    TempFolder folder;
    const std::size_t bytes = static_cast<std::size_t>(
        recfile::RecordSize(static_cast<uint64_t>(kComment.toUtf8().size()), kFrames, 2));
    std::vector<char> data(bytes, 3);
    const std::string name = folder.file("raw.bin").string();
    const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (!folder.ok() || fd < 0) {
        state.SkipWithError("cannot create the file");
        return;
    }
    auto lastSync = Clock::now();
    Paced(state, [&] {
        if (::write(fd, data.data(), bytes) != static_cast<ssize_t>(bytes)) return false;
        if (sync != Sync::None && Clock::now() - lastSync >= std::chrono::seconds(1)) {
            if (::fdatasync(fd) != 0) return false;
            lastSync = Clock::now();
        }
        return true;
    });
    ::close(fd);
}

}  // namespace

void RegisterRecordBenchmarks() {
    benchmark::RegisterBenchmark("record/write_block/130000", BM_WriteBlock)
        ->UseManualTime()
        ->Iterations(kRecords)
        ->Repetitions(1);
    struct Variant {
        const char* name;
        Sync sync;
    };
    for (const Variant& v : {Variant{"record/raw_write/130000", Sync::None},
                             Variant{"record/raw_write_sync/130000", Sync::EverySecond}}) {
        benchmark::RegisterBenchmark(v.name, BM_RawWrite, v.sync)
            ->UseManualTime()
            ->Iterations(kRecords)
            ->Repetitions(1);
    }
}

}  // namespace rv8::bench
