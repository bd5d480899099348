// rv8_bench: runs the benchmarks (Google Benchmark flags apply), then prints one summary row per
// figure: its time, the baseline measured in the same run, their ratio and the target. With
// repetitions, the fastest repetition of each benchmark counts (the machine is shared, and
// interference only ever adds time); the rows that give what one step adds to another compare
// the medians of the repetitions instead, which one lucky repetition cannot tip. Times are CPU time
// of the benchmark's thread, which other processes on the machine disturb least; the record
// benchmarks, which wait for the disk, time their write calls on the wall clock (manual time).
#include <benchmark/benchmark.h>

#include <QApplication>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/BenchSummary.h"
#include "bench/Benchmarks.h"

namespace rv8::bench {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// A figure and its baseline, by benchmark name, with the targets that apply: the ratio
// figure / baseline at most maxRatio, the figure's own time below maxSeconds (NaN: none).
struct Pairing {
    const char* figure;
    const char* name;
    const char* baseline;
    const char* baselineName;
    double maxRatio;
    double maxSeconds;
};

const std::vector<Pairing> kPairings = {
    {"display conversion InterleaveRaw, 131072 frames", "interleave/131072",
     "memcpy of the 512 KiB block", "memcpy/512KiB", 1.5, kNone},
    {"chart PlotBuffer + paint, sine, 512 frames", "chart/sine/512", "QPainter polyline",
     "polyline/sine/512", kNone, kNone},
    {"chart PlotBuffer + paint, noise, 512 frames", "chart/noise/512", "QPainter polyline",
     "polyline/noise/512", kNone, kNone},
    {"chart PlotBuffer + paint, sine, 16384 frames", "chart/sine/16384", "QPainter polyline",
     "polyline/sine/16384", kNone, kNone},
    {"chart PlotBuffer + paint, noise, 16384 frames", "chart/noise/16384", "QPainter polyline",
     "polyline/noise/16384", 0.1, 2e-3},
    {"chart raster: 2 channels' spans over the graticule, 512 x 401", "chart/raster/fill/512x401",
     "copy of the graticule", "chart/raster/copy/512x401", kNone, kNone},
    {"spectrum pass, 2 x 1024 inputs, 2 x 513 bins", "spectrum/pass", "kiss_fftr x2, 1024 floats",
     "kiss_fftr/2x1024", kNone, 50e-6},
    {"record write, 130000 frames, at 50/s (syncs included)", "record/write_block/130000",
     "write(2) of the same bytes", "record/raw_write/130000", 1.3, kNone},
    {"raw write(2) + fdatasync once a second", "record/raw_write_sync/130000",
     "write(2) of the same bytes", "record/raw_write/130000", kNone, kNone},
    {"record write (as above)", "record/write_block/130000", "write(2) + fdatasync once a second",
     "record/raw_write_sync/130000", kNone, kNone},
    {"simulator measurement, 130000 samples x 2 channels", "sim/measure/130000",
     "memcpy of the record", "memcpy/2x130000", kNone, 1e-3},
    {"chart measurements, 130000 frames x 2 channels", "measure/130000", "memcpy of the record",
     "memcpy/2x130000", kNone, kNone},
};

// What one step adds: the median of `name` less the median of `baselineName`, at most
// maxExtraSeconds.
struct Extra {
    const char* figure;
    const char* name;
    const char* baseline;
    const char* baselineName;
    double maxExtraSeconds;
};

const std::vector<Extra> kExtras = {
    {"readouts' cost to a V-T display pass + paint, 130000 frames (median)",
     "pass/vt/130000/readouts", "the pass without readouts", "pass/vt/130000/plain", 150e-6},
    {"readouts' cost to a V-F display pass + paint, 130000 frames (median)",
     "pass/vf/130000/readouts", "the pass without readouts", "pass/vf/130000/plain", 150e-6},
};

// Prints as the console reporter does and keeps the fastest time per iteration of each
// benchmark, in seconds.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions, the console shows the median of each benchmark only.
        std::vector<Run> shown;
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") shown.push_back(r);
        }
        ConsoleReporter::ReportRuns(shown.empty() ? runs : shown);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations <= 0) continue;
            // time_type is set ("manual_time", "real_time") where the wall clock counts.
            const bool wall = !r.run_name.time_type.empty();
            const double perIteration = (wall ? r.real_accumulated_time : r.cpu_accumulated_time) /
                                        static_cast<double>(r.iterations);
            const std::string name = r.run_name.function_name;
            auto it = best_.find(name);
            if (it == best_.end() || perIteration < it->second) best_[name] = perIteration;
            all_[name].push_back(perIteration);
        }
    }
    const std::map<std::string, double>& best() const { return best_; }
    // The median time per iteration of the repetitions of `name`; NaN when it did not run.
    double median(const std::string& name) const {
        const auto it = all_.find(name);
        if (it == all_.end() || it->second.empty()) return kNone;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }

  private:
    std::map<std::string, double> best_;
    std::map<std::string, std::vector<double>> all_;
};

std::string TargetText(const Pairing& p) {
    std::string t;
    if (!std::isnan(p.maxRatio)) t = "ratio <= " + FormatNumber(p.maxRatio, 2);
    if (!std::isnan(p.maxSeconds)) {
        if (!t.empty()) t += ", ";
        t += "< " + FormatDuration(p.maxSeconds);
    }
    return t.empty() ? "-" : t;
}

void PrintExtras(const CollectingReporter& reporter) {
    for (const Extra& e : kExtras) {
        const double figure = reporter.median(e.name);
        const double baseline = reporter.median(e.baselineName);
        if (std::isnan(figure)) continue;  // filtered out or failed
        SummaryRow row;
        row.figure = e.figure;
        row.baseline = e.baseline;
        row.target = "< " + FormatDuration(e.maxExtraSeconds);
        if (std::isnan(baseline)) {
            row.value = std::string("-");  // a move: GCC 12 at -O3 warns wrongly on "= literal"
            row.met = YesNo(false);
        } else {
            const double extra = figure - baseline;
            row.value = FormatDuration(extra);
            row.baselineValue = FormatDuration(baseline);
            row.ratio = FormatNumber(figure / baseline, 3);
            row.met = YesNo(extra < e.maxExtraSeconds);
        }
        PrintRow(row);
    }
}

void PrintSummary(const std::map<std::string, double>& best) {
    for (const Pairing& p : kPairings) {
        const auto f = best.find(p.name);
        if (f == best.end()) continue;  // filtered out or failed
        SummaryRow row;
        row.figure = p.figure;
        row.value = FormatDuration(f->second);
        row.baseline = p.baseline;
        bool met = true;
        const auto b = best.find(p.baselineName);
        if (b != best.end()) {
            const double ratio = f->second / b->second;
            row.baselineValue = FormatDuration(b->second);
            row.ratio = FormatNumber(ratio, ratio < 10 ? 3 : 1);
            if (!std::isnan(p.maxRatio)) met = met && ratio <= p.maxRatio;
        } else if (!std::isnan(p.maxRatio)) {
            met = false;  // a ratio target without its baseline cannot be met
        }
        if (!std::isnan(p.maxSeconds)) met = met && f->second < p.maxSeconds;
        row.target = TargetText(p);
        row.met = row.target == "-" ? "-" : YesNo(met);
        PrintRow(row);
    }
}

}  // namespace

}  // namespace rv8::bench

int main(int argc, char** argv) {
    // The chart is a widget: it needs an application object, and no display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    rv8::bench::RegisterInterleaveBenchmarks();
    rv8::bench::RegisterChartBenchmarks();
    rv8::bench::RegisterReadoutBenchmarks();
    rv8::bench::RegisterSpectrumBenchmarks();
    rv8::bench::RegisterSimBenchmarks();
    rv8::bench::RegisterRecordBenchmarks();

    rv8::bench::CollectingReporter reporter(isatty(STDOUT_FILENO)
                                                ? benchmark::ConsoleReporter::OO_Defaults
                                                : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    rv8::bench::PrintSummary(reporter.best());
    rv8::bench::PrintExtras(reporter);
    return 0;
}
