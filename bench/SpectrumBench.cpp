// One spectrum pass as the display pass runs it (1024 inputs per channel through SetInput, a
// Transform per channel, 513 BinValue reads per channel), against the FFT library's bare real
// transforms of 1024 floats, twice.
#include <benchmark/benchmark.h>

#include <kissfft/kiss_fftr.h>

#include <vector>

#include "bench/BenchData.h"
#include "bench/Benchmarks.h"
#include "display/Spektra.h"

namespace rv8::bench {

namespace {

constexpr int kN = Spektra::kInputs;

void BM_SpectrumPass(benchmark::State& state) {
    const std::vector<int16_t> block = MakeFrames(Signal::Sine, kN);
    Spektra s1, s2;
    for (auto _ : state) {
        for (int i = 0; i < kN; ++i) {
            s1.SetInput(static_cast<int16_t>(i), block[2 * i]);
            s2.SetInput(static_cast<int16_t>(i), block[2 * i + 1]);
        }
        s1.Transform(kN);
        s2.Transform(kN);
        double sum = 0;
        for (int k = 0; k < Spektra::kBins; ++k)
            sum += s1.BinValue(static_cast<int16_t>(k)) + s2.BinValue(static_cast<int16_t>(k));
        benchmark::DoNotOptimize(sum);
    }
}

void BM_KissFftr(benchmark::State& state) {
    const std::vector<int16_t> block = MakeFrames(Signal::Sine, kN);
    std::vector<kiss_fft_scalar> in1(kN), in2(kN);
    for (int i = 0; i < kN; ++i) {
        in1[i] = block[2 * i];
        in2[i] = block[2 * i + 1];
    }
    std::vector<kiss_fft_cpx> out1(kN / 2 + 1), out2(kN / 2 + 1);
    kiss_fftr_cfg cfg = kiss_fftr_alloc(kN, 0, nullptr, nullptr);
    for (auto _ : state) {
        kiss_fftr(cfg, in1.data(), out1.data());
        kiss_fftr(cfg, in2.data(), out2.data());
        benchmark::DoNotOptimize(out1.data());
        benchmark::DoNotOptimize(out2.data());
    }
    kiss_fftr_free(cfg);
}

}  // namespace

void RegisterSpectrumBenchmarks() {
    benchmark::RegisterBenchmark("spectrum/pass", BM_SpectrumPass);
    benchmark::RegisterBenchmark("kiss_fftr/2x1024", BM_KissFftr);
}

}  // namespace rv8::bench
