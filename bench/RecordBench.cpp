// Writing one 130000-frame record through the recording-file writer, against a raw write(2) of
// the same number of bytes to a file in the same folder. Both run at the program's pace (one
// record every 20 ms, the acquisition ceiling) so that the writer syncs as it does in use: at
// most once a second, the sync's cost shared by the records of that second. Only the write calls
// themselves are timed. The folder is a new one in the temporary directory ($TMPDIR or /tmp).
//
// The writer's benchmark makes the raw writes of its baseline in the same session: in each 20 ms
// slot one record and one raw write, which of them first taking turns, so that both meet the
// same spells of a shared machine (two sessions one after the other differed by up to 40 %).
// record/raw_write then reports the raw writes of the writer's sessions, one per repetition;
// run on its own (a filter without the writer), it makes its own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <deque>
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

// One raw file and its write of a record's bytes.
class RawFile {
  public:
    RawFile(const fs::path& name, std::size_t bytes) : data_(bytes, 3) {
        fd_ = ::open(name.string().c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    }
    ~RawFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool write() { return ::write(fd_, data_.data(), data_.size()) == ssize_t(data_.size()); }
    int fd() const { return fd_; }

  private:
    std::vector<char> data_;
    int fd_ = -1;
};

std::size_t RecordBytes() {
    return static_cast<std::size_t>(
        recfile::RecordSize(static_cast<uint64_t>(kComment.toUtf8().size()), kFrames, 2));
}

// The raw writes' times of the writer's sessions not yet reported, oldest first.
std::deque<std::vector<double>>& PairedRawTimes() {
    static std::deque<std::vector<double>> times;
    return times;
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
    RawFile raw(folder.file("raw.bin"), RecordBytes());
    if (!raw.ok()) {
        state.SkipWithError("cannot create the raw file");
        return;
    }
    const auto timed = [](auto&& write, double& seconds) {
        const auto t0 = Clock::now();
        const bool ok = write();
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        return ok;
    };
    const auto record = [&] {
        writer.AddComment(kComment);
        writer.AddEventMark(1);
        return writer.WriteBlock(block.data(), kFrames);
    };
    std::vector<double> rawTimes;
    auto next = Clock::now();
    bool rawFirst = false;
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        next += kPace;
        double recordSeconds = 0, rawSeconds = 0;
        bool ok = true;
        if (rawFirst) ok = timed([&] { return raw.write(); }, rawSeconds);
        ok = ok && timed(record, recordSeconds);
        if (!rawFirst) ok = ok && timed([&] { return raw.write(); }, rawSeconds);
        rawFirst = !rawFirst;
        if (!ok) {
            state.SkipWithError("write failed");
            break;
        }
        state.SetIterationTime(recordSeconds);
        rawTimes.push_back(rawSeconds);
    }
    writer.CloseFile();
    PairedRawTimes().push_back(std::move(rawTimes));
}

// How the raw file is synced: never, or with fdatasync at most once a second as the writer does
// (the least any writer with that policy pays).
enum class Sync { None, EverySecond };

void BM_RawWrite(benchmark::State& state, Sync sync) {
    if (sync == Sync::None && !PairedRawTimes().empty()) {
        // The raw writes made beside the writer's records.
        const std::vector<double> times = std::move(PairedRawTimes().front());
        PairedRawTimes().pop_front();
        std::size_t i = 0;
        for (auto _ : state) {
            if (i >= times.size()) {
                state.SkipWithError("fewer paired writes than iterations");
                break;
            }
            state.SetIterationTime(times[i++]);
        }
        return;
    }
    TempFolder folder;
    RawFile raw(folder.file("raw.bin"), RecordBytes());
    if (!folder.ok() || !raw.ok()) {
        state.SkipWithError("cannot create the file");
        return;
    }
    auto lastSync = Clock::now();
    Paced(state, [&] {
        if (!raw.write()) return false;
        if (sync != Sync::None && Clock::now() - lastSync >= std::chrono::seconds(1)) {
            if (::fdatasync(raw.fd()) != 0) return false;
            lastSync = Clock::now();
        }
        return true;
    });
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
