// The display pass's conversion of both raw buffers into the interleaved signed block, against a
// memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/BenchData.h"
#include "bench/Benchmarks.h"
#include "core/Samples.h"

namespace rv8::bench {

namespace {

constexpr int kFrames = 131072;

template <void (*Convert)(const uint16_t*, const uint16_t*, int16_t*, std::size_t)>
void BM_InterleaveRaw(benchmark::State& state) {
    std::vector<uint16_t> ch1(kRawBufferSamples), ch2(kRawBufferSamples);
    Random rng(42);
    for (int i = 0; i < kRawBufferSamples; ++i) {
        ch1[i] = static_cast<uint16_t>(rng.next());
        ch2[i] = static_cast<uint16_t>(rng.next());
    }
    std::vector<int16_t> block(2 * kFrames);
    // The frame count comes from the record length at run time in the program; hide the
    // constant from the compiler so that it cannot specialise the loop for it.
    std::size_t frames = kFrames;
    benchmark::DoNotOptimize(frames);
    for (auto _ : state) {
        Convert(ch1.data(), ch2.data(), block.data(), frames);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 2 * kFrames * int64_t{sizeof(int16_t)});
}

void BM_MemcpyBlock(benchmark::State& state) {
    const std::size_t bytes = 2 * kFrames * sizeof(int16_t);
    std::vector<char> src(bytes, 1), dst(bytes);
    std::size_t n = bytes;
    benchmark::DoNotOptimize(n);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

}  // namespace

void RegisterInterleaveBenchmarks() {
    benchmark::RegisterBenchmark("interleave/131072", BM_InterleaveRaw<InterleaveRaw>);
    benchmark::RegisterBenchmark("memcpy/512KiB", BM_MemcpyBlock);
}

}  // namespace rv8::bench
