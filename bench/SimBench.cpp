// The simulated instrument's measurement of a 130000-sample record on both channels (signal
// generation, trigger search, quantisation, hand-over into the caller's buffers), with its
// default signals and no real-time wait; against a memcpy of the bytes it hands over.
//
// Three variants: hot (the same buffers measured again and again), cold (as in the program's
// loop: its own buffer size, and before each measurement 5 ms of sleep, as the program waits for
// its timer, and a 2 MiB pass through other memory, as its display pass and logging make), and
// retuned (the sample frequency changes before every measurement, so that every one rebuilds the
// generator's tables).
//
// Besides the usual output, each variant times every single measurement and, at the end, prints
// a summary row with the median of them against the median memcpy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSummary.h"
#include "bench/Benchmarks.h"
#include "core/Samples.h"
#include "sim/SimInstrument.h"

namespace rv8::bench {

namespace {

constexpr int32_t kLength = 130000;
constexpr double kTargetSeconds = 0.3e-3;  // a measurement of both channels, median
constexpr std::size_t kTrashBytes = std::size_t{2} << 20;
constexpr auto kIdle = std::chrono::milliseconds(5);

using Clock = std::chrono::steady_clock;

// Wall time of every single iteration of each benchmark, by name, over all its runs.
std::map<std::string, std::vector<double>>& Times() {
    static std::map<std::string, std::vector<double>> times;
    return times;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

enum class Variant { Hot, Cold, Retuned };

constexpr const char* kHot = "sim/measure/130000";
constexpr const char* kCold = "sim/measure_cold/130000";
constexpr const char* kRetuned = "sim/measure_retuned/130000";
constexpr const char* kMemcpy = "memcpy/2x130000";

void BM_SimMeasurement(benchmark::State& state, const char* name, Variant variant) {
    sim::SimInstrument inst;
    inst.setRealTime(false);
    inst.InitInstrument(0);
    int32_t rate = 100000;
    inst.SetSampleFrequency(&rate);
    inst.SetRecordLength(kLength);
    inst.SetPostSamples(kLength / 2);
    if (inst.GetRecordLength() != kLength) {
        state.SkipWithError("the simulator did not take the record length");
        return;
    }
    const std::size_t room = variant == Variant::Hot ? kLength : kRawBufferSamples;
    std::vector<uint16_t> ch1(room), ch2(room);
    std::vector<char> trash(variant == Variant::Cold ? kTrashBytes : 0);
    std::vector<double>& times = Times()[name];
    int32_t rates[2] = {100000, 66667};  // 200000 / 2 and 200000 / 3
    unsigned turn = 0;
    for (auto _ : state) {
        if (variant == Variant::Cold) {
            state.PauseTiming();
            std::this_thread::sleep_for(kIdle);
            std::memset(trash.data(), static_cast<int>(turn++ & 0xFF), trash.size());
            benchmark::ClobberMemory();
            state.ResumeTiming();
        }
        const auto begin = Clock::now();
        if (variant == Variant::Retuned) inst.SetSampleFrequency(&rates[turn++ % 2]);
        if (inst.StartMeasurement() != 0) {
            state.SkipWithError("StartMeasurement failed");
            break;
        }
        inst.GetMeasurementRaw(ch1.data(), ch2.data());
        benchmark::DoNotOptimize(ch1.data());
        benchmark::DoNotOptimize(ch2.data());
        benchmark::ClobberMemory();
        times.push_back(std::chrono::duration<double>(Clock::now() - begin).count());
    }
}

void BM_MemcpyRecord(benchmark::State& state, const char* name) {
    const std::size_t bytes = 2 * kLength * sizeof(uint16_t);
    std::vector<char> src(bytes, 1), dst(bytes);
    std::vector<double>& times = Times()[name];
    for (auto _ : state) {
        const auto begin = Clock::now();
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        times.push_back(std::chrono::duration<double>(Clock::now() - begin).count());
    }
}

// One row per variant that ran: the median single measurement against the median memcpy.
void PrintSimRows() {
    const auto& times = Times();
    const auto base = times.find(kMemcpy);
    const struct {
        const char* name;
        const char* figure;
        bool target;
    } rows[] = {
        {kHot, "simulator measurement, 130000 x 2 channels, median", true},
        {kCold, "simulator measurement (as above), after 5 ms idle and 2 MiB of other work", false},
        {kRetuned, "simulator measurement (as above), sample frequency changed before each", false},
    };
    for (const auto& r : rows) {
        const auto f = times.find(r.name);
        if (f == times.end() || f->second.empty()) continue;
        const double value = Median(f->second);
        SummaryRow row{.figure = r.figure, .value = FormatDuration(value)};
        if (base != times.end() && !base->second.empty()) {
            const double b = Median(base->second);
            row.baseline = "memcpy of the record, median";
            row.baselineValue = FormatDuration(b);
            row.ratio = FormatNumber(value / b, value / b < 10 ? 3 : 1);
        }
        if (r.target) {
            row.target = "<= 0.3 ms";
            row.met = YesNo(value <= kTargetSeconds);
        }
        PrintRow(row);
    }
}

}  // namespace

void RegisterSimBenchmarks() {
    for (auto [name, variant] : {std::pair{kHot, Variant::Hot}, std::pair{kCold, Variant::Cold},
                                 std::pair{kRetuned, Variant::Retuned}}) {
        auto* b = benchmark::RegisterBenchmark(name, BM_SimMeasurement, name, variant);
        // Mostly asleep: a fixed count keeps a repetition at about half a second.
        if (variant == Variant::Cold) b->Iterations(100);
    }
    benchmark::RegisterBenchmark(kMemcpy, BM_MemcpyRecord, kMemcpy);
    // After the summary rows of BenchMain, which runs the benchmarks and then returns. The table
    // of times is made first, so that it is destroyed only after the rows are printed.
    Times();
    std::atexit(PrintSimRows);
}

}  // namespace rv8::bench
