// Registration of the benchmark groups (called from BenchMain.cpp, which also pairs each figure
// with its baseline). Every benchmark name used in a pairing is listed here.
#pragma once

namespace rv8::bench {

void RegisterInterleaveBenchmarks();
void RegisterChartBenchmarks();
void RegisterReadoutBenchmarks();
void RegisterSpectrumBenchmarks();
void RegisterRecordBenchmarks();
void RegisterSimBenchmarks();

}  // namespace rv8::bench
