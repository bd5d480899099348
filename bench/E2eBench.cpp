// e2e_bench: the program's own window in this process (offscreen), against the built simulated
// instrument loaded as the program loads its driver library, with measurements as fast as the
// simulator can make them (RV8SIM_ACQ_MS=0).
//
// 1. Start-up: from process start (and from entering main) to the window's first paint, as the
//    program starts: application object, driver library, window, Form_Load, show.
// 2. Record length 130000, Scale 32, logging into a temporary folder, "Run" for 10 seconds with
//    the event loop running, three times in the V-T view and three times in the V-F view. Each
//    run gives the acquisitions per second against the ceiling of 50 a second that the 20 ms
//    timer sets, and where a cycle's time goes: in the instrument, in the display pass
//    (conversion, chart, spectrum, readouts), in the logging step (masking, CRC, write), in
//    painting, and the timer's lateness (from the end of the 20 ms interval to the tick); the CPU
//    time (user + system, all threads) per acquisition; the peak resident memory and its growth
//    between second 2 and the end. The medians of the runs of a view are the figures.
// 3. The V-T runs once more with the recording viewer following the file as it grows
//    (`rv8view --follow`, offscreen, a process of its own): the acquisition rate against the
//    runs without it, whose spread is the noise; and nothing lost: every acquisition a record,
//    the recording intact at the end.
//
// The display pass and the logging step are timed at the link: this program is linked with
// --wrap for DisplayPass::DisplayPaint and Recorder::LoggingStep (bench/CMakeLists.txt), which
// sends the window's calls through the clocks below. Painting is timed by an application event
// filter around the delivery of each update request (the measuring instruments: E2eProbes.h).
//
// Prints its progress, then one summary row per figure (see BenchSummary.h).
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "app/PreciseTimers.h"
#include "bench/BenchSummary.h"
#include "bench/E2eProbes.h"
#include "core/Ui.h"
#include "driver/Rv8Library.h"
#include "logging/RecordingFile.h"

namespace rv8 {
class DisplayPass;
class Recorder;
}  // namespace rv8

namespace {
// Time spent in the window's display passes (the logging step included: it is called from the
// pass) and in its logging steps.
struct PassClocks {
    double displaySeconds = 0;
    double loggingSeconds = 0;
    long passes = 0;
} passClocks;

double SecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

extern "C" {
void __real__ZN3rv811DisplayPass12DisplayPaintEv(rv8::DisplayPass* self);
void __wrap__ZN3rv811DisplayPass12DisplayPaintEv(rv8::DisplayPass* self) {
    const auto t0 = std::chrono::steady_clock::now();
    __real__ZN3rv811DisplayPass12DisplayPaintEv(self);
    passClocks.displaySeconds += SecondsSince(t0);
    ++passClocks.passes;
}
void __real__ZN3rv88Recorder11LoggingStepEPsiRKNS_11AcquisitionE(
    rv8::Recorder* self, int16_t* block, int32_t frames, const rv8::Acquisition& acquisition);
void __wrap__ZN3rv88Recorder11LoggingStepEPsiRKNS_11AcquisitionE(
    rv8::Recorder* self, int16_t* block, int32_t frames, const rv8::Acquisition& acquisition) {
    const auto t0 = std::chrono::steady_clock::now();
    __real__ZN3rv88Recorder11LoggingStepEPsiRKNS_11AcquisitionE(self, block, frames, acquisition);
    passClocks.loggingSeconds += SecondsSince(t0);
}
}

namespace rv8::bench {

namespace {

int kRunSeconds = 10;
constexpr int kSteadySecond = 2;   // memory growth is measured from here to the end of a run
constexpr double kCeiling = 50.0;  // acquisitions per second: one per 20 ms tick at most
constexpr double kMinFraction = 0.95;
constexpr double kMaxInstrumentMs = 0.3;
constexpr double kMaxPassAndLoggingMs = 0.35;
constexpr double kMaxLatenessMs = 0.1;
int kRuns = 3;                         // per view
constexpr double kMaxGrowthMiB = 2.0;  // "none beyond noise"
constexpr double kMaxStartupMs = 300.0;

struct RunResult {
    double rate = 0;          // acquisitions per second
    long acquisitions = 0;    // during the run
    long records = 0;         // records logged during the run
    double instrumentMs = 0;  // per acquisition: inside the instrument
    double passMs = 0;        // per acquisition: the display pass without its logging step
    double loggingMs = 0;     // per acquisition: the logging step
    double paintMs = 0;       // per acquisition: painting (update requests)
    double latenessMs = 0;    // per tick: from the interval's end to the tick
    double cpuMs = 0;         // per acquisition: CPU time of the process, all threads
    double growthMiB = 0;     // VmRSS at the end minus at kSteadySecond
    double peakMiB = 0;       // VmHWM at the end
};

RunResult Run(Form1& form, CountingDriver& driver, PaintClock& paint) {
    const CountingDriver before = driver;
    const PassClocks passes0 = passClocks;
    const PaintClock::Totals paint0 = paint.totals();
    const double cpu0 = CpuSeconds();
    const int logged0 = form.LoggedRecordCount();
    long rssSteady = 0;
    QEventLoop loop;
    QTimer::singleShot(kSteadySecond * 1000, &loop, [&] { rssSteady = StatusKiB("VmRSS"); });
    QTimer::singleShot(kRunSeconds * 1000, &loop, [&] { loop.quit(); });
    QElapsedTimer elapsed;
    elapsed.start();
    driver.forgetTick();
    form.Command3->click();  // Run
    loop.exec();
    form.Command3->click();  // Stop
    driver.forgetTick();
    const double seconds = static_cast<double>(elapsed.nsecsElapsed()) * 1e-9;
    const double cpu = CpuSeconds() - cpu0;
    const long rssEnd = StatusKiB("VmRSS");
    RunResult r;
    const long n = driver.measurements - before.measurements;
    const double perAcquisitionMs = n > 0 ? 1e3 / static_cast<double>(n) : 0;
    r.rate = static_cast<double>(n) / seconds;
    r.acquisitions = n;
    r.records = form.LoggedRecordCount() - logged0;
    r.instrumentMs = (driver.instrumentSeconds - before.instrumentSeconds) * perAcquisitionMs;
    r.loggingMs = (passClocks.loggingSeconds - passes0.loggingSeconds) * perAcquisitionMs;
    r.passMs =
        (passClocks.displaySeconds - passes0.displaySeconds) * perAcquisitionMs - r.loggingMs;
    r.paintMs = (paint.totals().seconds - paint0.seconds) * perAcquisitionMs;
    const long ticks = driver.latenessCount - before.latenessCount;
    r.latenessMs = ticks > 0 ? (driver.latenessSeconds - before.latenessSeconds) * 1e3 / ticks : 0;
    r.cpuMs = cpu * perAcquisitionMs;
    r.growthMiB = MiB(rssEnd - rssSteady);
    const long cycles = driver.cycles - before.cycles;
    const double cycleMs =
        cycles > 0 ? (driver.cycleSeconds - before.cycleSeconds) * 1e3 / cycles : 0;
    r.peakMiB = MiB(StatusKiB("VmHWM"));
    std::printf(
        "  %ld acquisitions in %.2f s, %ld records logged, %ld display passes, %ld paints; "
        "VmRSS %.1f MiB at second %d and %.1f MiB at the end\n",
        n, seconds, r.records, passClocks.passes - passes0.passes,
        paint.totals().count - paint0.count, MiB(rssSteady), kSteadySecond, MiB(rssEnd));
    std::printf(
        "  one cycle: %.3f ms = 20 ms interval + %.3f ms timer lateness + %.3f ms instrument + "
        "%.3f ms display pass + %.3f ms logging + %.3f ms other; within the interval %.3f ms "
        "painting; CPU %.3f ms per acquisition\n",
        cycleMs, r.latenessMs, r.instrumentMs, r.passMs, r.loggingMs,
        cycleMs - 20.0 - r.latenessMs - r.instrumentMs - r.passMs - r.loggingMs, r.paintMs,
        r.cpuMs);
    return r;
}

// The median of each figure over the runs of one view.
RunResult MedianOf(const std::vector<RunResult>& runs) {
    auto median = [&](double RunResult::*field) {
        std::vector<double> v;
        for (const RunResult& r : runs)
            v.push_back(r.*field);
        return Median(v);
    };
    RunResult m;
    for (double RunResult::*f : {&RunResult::rate, &RunResult::instrumentMs, &RunResult::passMs,
                                 &RunResult::loggingMs, &RunResult::paintMs, &RunResult::latenessMs,
                                 &RunResult::cpuMs, &RunResult::growthMiB, &RunResult::peakMiB})
        m.*f = median(f);
    return m;
}

void PrintRunRows(const std::string& view, const RunResult& r, const Baselines& b) {
    const std::string medians = ", " + view + ", median of " + std::to_string(kRuns);
    const double fraction = r.rate / kCeiling;
    PrintRow({.figure = "acquisitions per second" + medians,
              .value = FormatNumber(r.rate, 1) + "/s",
              .baseline = "ceiling of the 20 ms timer",
              .baselineValue = FormatNumber(kCeiling, 0) + "/s",
              .ratio = FormatNumber(fraction, 3),
              .target = "ratio >= " + FormatNumber(kMinFraction, 2),
              .met = YesNo(fraction >= kMinFraction)});
    // A time per acquisition against the memcpy of the record, with its upper limit if it has one.
    const auto perAcquisition = [&](const std::string& figure, double ms, double maxMs = 0) {
        SummaryRow row{.figure = figure + medians,
                       .value = FormatDuration(ms * 1e-3),
                       .baseline = "memcpy of the record",
                       .baselineValue = FormatDuration(b.memcpySeconds),
                       .ratio = FormatNumber(ms * 1e-3 / b.memcpySeconds, 2)};
        if (maxMs > 0) {
            row.target = "<= " + FormatNumber(maxMs, 2) + " ms";
            row.met = YesNo(ms <= maxMs);
        }
        PrintRow(row);
    };
    perAcquisition("in the instrument, per acquisition", r.instrumentMs, kMaxInstrumentMs);
    perAcquisition("display pass (conversion, chart or spectrum, readouts)", r.passMs);
    perAcquisition("logging step (masking, CRC, write, syncs)", r.loggingMs);
    perAcquisition("display pass + logging, per acquisition", r.passMs + r.loggingMs,
                   kMaxPassAndLoggingMs);
    perAcquisition("painting, per acquisition", r.paintMs);
    PrintRow({.figure = "timer lateness, mean per tick" + medians,
              .value = FormatDuration(r.latenessMs * 1e-3),
              .baseline = "20 ms clock_nanosleep, median lateness",
              .baselineValue = FormatDuration(b.sleepLatenessSeconds),
              .ratio = FormatNumber(r.latenessMs * 1e-3 / b.sleepLatenessSeconds, 2),
              .target = "< " + FormatNumber(kMaxLatenessMs, 2) + " ms",
              .met = YesNo(r.latenessMs < kMaxLatenessMs)});
    PrintRow({.figure = "CPU time (user + system), per acquisition" + medians,
              .value = FormatDuration(r.cpuMs * 1e-3),
              .baseline = "wall time of a cycle at the ceiling",
              .baselineValue = FormatDuration(1.0 / kCeiling),
              .ratio = FormatNumber(r.cpuMs * 1e-3 * kCeiling, 3)});
    PrintRow({.figure = "peak resident memory (VmHWM), after " + view,
              .value = FormatNumber(r.peakMiB, 1) + " MiB"});
    PrintRow({.figure = "resident memory growth, s" + std::to_string(kSteadySecond) + " to s" +
                        std::to_string(kRunSeconds) + medians,
              .value = FormatNumber(r.growthMiB, 2) + " MiB",
              .target = "<= " + FormatNumber(kMaxGrowthMiB, 1) + " MiB (noise)",
              .met = YesNo(r.growthMiB <= kMaxGrowthMiB)});
}

// The V-T runs with the viewer following the recording, against those without.
void PrintFollowRows(const std::vector<RunResult>& without, const std::vector<RunResult>& with,
                     const QString& recording, long logged) {
    std::vector<double> rates;
    for (const RunResult& r : without)
        rates.push_back(r.rate);
    const double noise = *std::max_element(rates.begin(), rates.end()) -
                         *std::min_element(rates.begin(), rates.end());
    const double base = MedianOf(without).rate, followed = MedianOf(with).rate;
    const double slowdown = base - followed;
    PrintRow({.figure = "acquisitions per second, V-T, the viewer following the recording, median "
                        "of " +
                        std::to_string(kRuns),
              .value = FormatNumber(followed, 1) + "/s",
              .baseline = "the V-T runs without it (spread " + FormatNumber(noise, 2) + "/s)",
              .baselineValue = FormatNumber(base, 1) + "/s",
              .ratio = FormatNumber(followed / base, 3),
              .target = "slowdown <= the spread",
              .met = YesNo(slowdown <= std::max(noise, 0.05))});
    long lost = 0;
    for (const RunResult& r : with)
        lost += r.acquisitions - r.records;
    const rv8::RecordingReadResult file = rv8::ScanRecording(recording.toStdString(), nullptr);
    const bool intact =
        file.headerOk && !file.damagedTail && file.recordCount == static_cast<uint64_t>(logged);
    PrintRow({.figure = "acquisitions without a record while followed; recording intact",
              .value = std::to_string(lost) + (intact ? ", intact" : ", NOT intact"),
              .baseline = "records in the file",
              .baselineValue = std::to_string(file.recordCount),
              .target = "0, intact",
              .met = YesNo(lost == 0 && intact)});
}

}  // namespace

}  // namespace rv8::bench

int main(int argc, char** argv) {
    using namespace rv8::bench;
    const auto mainEntered = Clock::now();
    const double processAgeAtMain = SecondsSinceProcessStart();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The simulator reads its options at InitInstrument, which Form_Load calls.
    setenv("RV8SIM_ACQ_MS", "0", 1);

    // Start-up, as the program does it.
    rv8::AskForPreciseTimers();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i > 0 && i + 1 < args.size())
        kRunSeconds = std::max(kSteadySecond + 1, args[i + 1].toInt());
    if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i > 0 && i + 1 < args.size())
        kRuns = std::max(1, args[i + 1].toInt());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    RecordingMessages messages;
    std::unique_ptr<rv8::Rv8Library> library;
    try {
        library = std::make_unique<rv8::Rv8Library>(QStringList{QStringLiteral(RV8_SIM_LIBRARY)});
    } catch (const rv8::DriverUnavailable& e) {
        std::fprintf(stderr, "e2e_bench: %s\n", e.what());
        return 1;
    }
    CountingDriver driver(*library);
    rv8::Form1 form(driver, messages);
    FirstPaint firstPaint;
    form.installEventFilter(&firstPaint);
    if (!form.Form_Load()) {
        std::fprintf(stderr, "e2e_bench: no instrument answered\n");
        return 1;
    }
    form.show();
    QTimer::singleShot(5000, &firstPaint.loop, [&] { firstPaint.loop.quit(); });
    if (!firstPaint.seen) firstPaint.loop.exec();
    form.removeEventFilter(&firstPaint);
    if (!firstPaint.seen) {
        std::fprintf(stderr, "e2e_bench: the window was never painted\n");
        return 1;
    }
    const double fromMainMs =
        std::chrono::duration<double, std::milli>(firstPaint.at - mainEntered).count();
    const double fromStartMs = processAgeAtMain * 1e3 + fromMainMs;
    std::printf(
        "start-up: %.1f ms from process start (%.1f ms of it before main), %.1f ms from "
        "main, to the first paint\n",
        fromStartMs, processAgeAtMain * 1e3, fromMainMs);

    // Connected after the window's own handler, so called when that has returned.
    QObject::connect(&form.Timer1, &QTimer::timeout, &form, [&driver] { driver.tickHandled(); });

    // The measurement set-up, as a user makes it.
    rv8::SelectItem(*form.RecordlenthCombo, 0);
    form.HScroll3->setValue(32);
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "e2e_bench: cannot create a temporary folder\n");
        return 1;
    }
    form.Text1->setText(folder.filePath(QStringLiteral("e2e.cvx")));
    form.Check1->click();
    if (!form.writer().isOpen()) {
        std::fprintf(stderr, "e2e_bench: the recording did not start\n");
        return 1;
    }
    std::printf("record length %d, Scale %d, logging to %s\n", form.RecordLength(),
                form.HScroll3->value(), qPrintable(form.Text1->text()));

    PaintClock paint;
    app.installEventFilter(&paint);
    std::vector<RunResult> vt;
    std::vector<RunResult> vf;
    // The V-T runs take turns with runs while the viewer follows the growing recording in a
    // process of its own (started and settled before, ended after), so that both meet the same
    // spells of a shared machine.
    std::vector<RunResult> followed;
    for (int i = 0; i < kRuns; ++i) {
        std::printf("V-T view, run %d of %d, %d s:\n", i + 1, kRuns, kRunSeconds);
        vt.push_back(Run(form, driver, paint));
        QProcess viewer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        viewer.setProcessEnvironment(env);
        viewer.start(QStringLiteral(RV8_VIEWER),
                     {QStringLiteral("--follow"), folder.filePath(QStringLiteral("e2e.cvx"))});
        if (!viewer.waitForStarted()) {
            std::fprintf(stderr, "e2e_bench: cannot start %s\n", RV8_VIEWER);
            return 1;
        }
        QThread::sleep(2);  // its start-up is not part of the run
        std::printf("V-T view, the viewer following, run %d of %d, %d s:\n", i + 1, kRuns,
                    kRunSeconds);
        followed.push_back(Run(form, driver, paint));
        viewer.terminate();
        viewer.waitForFinished(5000);
    }
    form.Option2->click();
    for (int i = 0; i < kRuns; ++i) {
        std::printf("V-F view, run %d of %d, %d s:\n", i + 1, kRuns, kRunSeconds);
        vf.push_back(Run(form, driver, paint));
    }
    app.removeEventFilter(&paint);
    const Baselines baselines = MeasureBaselines(100);
    std::printf("baselines: memcpy of the record %.1f us, lateness of a 20 ms sleep %.1f us\n",
                baselines.memcpySeconds * 1e6, baselines.sleepLatenessSeconds * 1e6);
    const long logged = form.LoggedRecordCount();
    form.Check1->click();  // ends the recording
    form.Form_Unload();
    form.Form_Terminate();
    if (messages.count > 0) std::printf("%d messages were shown: see above\n", messages.count);

    PrintRow({.figure = "start-up to the window's first paint",
              .value = FormatNumber(fromStartMs, 1) + " ms",
              .baseline = "(of it, before main)",
              .baselineValue = FormatNumber(processAgeAtMain * 1e3, 1) + " ms",
              .target = "< " + FormatNumber(kMaxStartupMs, 0) + " ms",
              .met = YesNo(fromStartMs < kMaxStartupMs)});
    PrintRunRows("V-T", MedianOf(vt), baselines);
    PrintRunRows("V-F", MedianOf(vf), baselines);
    PrintFollowRows(vt, followed, folder.filePath(QStringLiteral("e2e.cvx")), logged);
    return messages.count > 0 ? 1 : 0;
}
