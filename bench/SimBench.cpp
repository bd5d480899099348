// The simulated instrument's measurement of a 130000-sample record on both channels (signal
// generation, trigger search, quantisation, hand-over into the caller's buffers), with its
// default signals and no real-time wait; against a memcpy of the bytes it hands over.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/Benchmarks.h"
#include "sim/SimInstrument.h"

namespace rv8::bench {

namespace {

constexpr int32_t kLength = 130000;

void BM_SimMeasurement(benchmark::State& state) {
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
    std::vector<uint16_t> ch1(kLength), ch2(kLength);
    for (auto _ : state) {
        if (inst.StartMeasurement() != 0) {
            state.SkipWithError("StartMeasurement failed");
            break;
        }
        inst.GetMeasurementRaw(ch1.data(), ch2.data());
        benchmark::DoNotOptimize(ch1.data());
        benchmark::DoNotOptimize(ch2.data());
    }
}

void BM_MemcpyRecord(benchmark::State& state) {
    const std::size_t bytes = 2 * kLength * sizeof(uint16_t);
    std::vector<char> src(bytes, 1), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
}

}  // namespace

void RegisterSimBenchmarks() {
    benchmark::RegisterBenchmark("sim/measure/130000", BM_SimMeasurement);
    benchmark::RegisterBenchmark("memcpy/2x130000", BM_MemcpyRecord);
}

}  // namespace rv8::bench
