// e2e_bench: the program's own window in this process (offscreen), against the built simulated
// instrument loaded as the program loads its driver library, with measurements as fast as the
// simulator can make them (RV8SIM_ACQ_MS=0).
//
// 1. Start-up: from process start (and from entering main) to the window's first paint, as the
//    program starts: application object, driver library, window, Form_Load, show.
// 2. Record length 130000, Scale 32, logging into a temporary folder, "Run" for 10 seconds with
//    the event loop running, in the V-T view and again in the V-F view: acquisitions per second
//    against the ceiling of 50 a second that the 20 ms timer sets, the peak resident memory, and
//    the growth of resident memory between second 2 and second 10.
//
// Prints its progress, then one summary row per figure (see BenchSummary.h).
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/Form1.h"
#include "bench/BenchSummary.h"
#include "core/Messages.h"
#include "core/Ui.h"
#include "driver/Rv8Library.h"

namespace rv8::bench {

namespace {

using Clock = std::chrono::steady_clock;

int kRunSeconds = 10;
constexpr int kSteadySecond = 2;   // memory growth is measured from here to the end of a run
constexpr double kCeiling = 50.0;  // acquisitions per second: one per 20 ms tick at most
constexpr double kMinFraction = 0.9;
constexpr double kMaxGrowthMiB = 2.0;  // "none beyond noise"
constexpr double kMaxStartupMs = 300.0;

// Forwards every call to the loaded library and counts the measurements that delivered data,
// and the time spent inside the instrument for them.
class CountingDriver final : public Rv8Driver {
  public:
    explicit CountingDriver(Rv8Driver& d) : d_(d) {}
    long measurements = 0;
    double instrumentSeconds = 0;
    long cycles = 0;  // intervals between two measurements that followed each other
    double cycleSeconds = 0;
    Clock::time_point lastStart{};
    double handlerSeconds = 0;  // from StartMeasurement to the end of the tick's handler

    // Called after the window's tick handler has returned.
    void tickHandled() {
        if (lastStart != Clock::time_point{})
            handlerSeconds += std::chrono::duration<double>(Clock::now() - lastStart).count();
    }

    void InitInstrument(int32_t mode) override { d_.InitInstrument(mode); }
    void ExitInstrument() override { d_.ExitInstrument(); }
    void GetSerialNumber(int32_t& serial) override { d_.GetSerialNumber(serial); }
    void GetCalibrationDate(int32_t& word) override { d_.GetCalibrationDate(word); }
    int32_t GetMaxSampleFrequency() override { return d_.GetMaxSampleFrequency(); }
    int32_t GetMaxRecordLength() override { return d_.GetMaxRecordLength(); }
    int32_t StartMeasurement() override {
        const auto t0 = Clock::now();
        if (lastStart != Clock::time_point{} && t0 - lastStart < std::chrono::milliseconds(200)) {
            ++cycles;
            cycleSeconds += std::chrono::duration<double>(t0 - lastStart).count();
        }
        lastStart = t0;
        const int32_t r = d_.StartMeasurement();
        instrumentSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
        return r;
    }
    void GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) override {
        const auto t0 = Clock::now();
        d_.GetMeasurementRaw(ch1First, ch2First);
        instrumentSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
        ++measurements;
    }
    void SetMeasureMode(int32_t mode) override { d_.SetMeasureMode(mode); }
    int32_t GetMeasureMode() override { return d_.GetMeasureMode(); }
    void SetRecordLength(int32_t samples) override { d_.SetRecordLength(samples); }
    int32_t GetRecordLength() override { return d_.GetRecordLength(); }
    void SetPostSamples(int32_t samples) override { d_.SetPostSamples(samples); }
    int32_t GetPostSamples() override { return d_.GetPostSamples(); }
    void SetSampleFrequency(int32_t& frequency) override { d_.SetSampleFrequency(frequency); }
    int32_t GetSampleFrequency() override { return d_.GetSampleFrequency(); }
    void SetSensitivity(int32_t channel, double& volts) override {
        d_.SetSensitivity(channel, volts);
    }
    void GetSensitivity(int32_t channel, double& volts) override {
        d_.GetSensitivity(channel, volts);
    }
    void SetCoupling(int32_t channel, uint8_t code) override { d_.SetCoupling(channel, code); }
    uint8_t GetCoupling(int32_t channel) override { return d_.GetCoupling(channel); }
    void SetTriggerSource(int32_t code) override { d_.SetTriggerSource(code); }
    int32_t GetTriggerSource() override { return d_.GetTriggerSource(); }
    void SetTriggerMode(uint8_t code) override { d_.SetTriggerMode(code); }
    uint8_t GetTriggerMode() override { return d_.GetTriggerMode(); }
    void SetTriggerLevel(int32_t channel, double volts) override {
        d_.SetTriggerLevel(channel, volts);
    }
    void GetTriggerLevel(int32_t channel, double& volts) override {
        d_.GetTriggerLevel(channel, volts);
    }
    void SetTriggerHys(int32_t channel, double volts) override { d_.SetTriggerHys(channel, volts); }
    void GetTriggerHys(int32_t channel, double& volts) override {
        d_.GetTriggerHys(channel, volts);
    }
    void SetTriggerTimeOut(int32_t timeout) override { d_.SetTriggerTimeOut(timeout); }
    int32_t GetTriggerTimeOut() override { return d_.GetTriggerTimeOut(); }

  private:
    Rv8Driver& d_;
};

// Answers every message at once and remembers it; a measurement with a message is suspect.
class RecordingMessages final : public Messages {
  public:
    int count = 0;
    void show(const QString& title, const QString& text, MessageIcon) override {
        ++count;
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
    }
};

// Notes the time of the first paint of the watched widget.
class FirstPaint final : public QObject {
  public:
    bool seen = false;
    Clock::time_point at{};
    QEventLoop loop;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            at = Clock::now();
            loop.quit();
        }
        return QObject::eventFilter(watched, event);
    }
};

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 if missing.
long StatusKiB(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ')[0].toLong();
    }
    return -1;
}

// Seconds since this process started: /proc/self/stat's start time (in clock ticks since boot)
// against the boot-time clock. The start time has the resolution of a clock tick (10 ms).
double SecondsSinceProcessStart() {
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may contain spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20) return -1;
    const double start = fields[19].toDouble() / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9 - start;
}

double MiB(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

struct RunResult {
    double rate = 0;          // acquisitions per second
    long records = 0;         // records logged during the run
    double instrumentMs = 0;  // mean time inside the instrument per acquisition
    double growthMiB = 0;     // VmRSS at the end minus at kSteadySecond
    double peakMiB = 0;       // VmHWM at the end
};

RunResult Run(Form1& form, CountingDriver& driver) {
    const long measured0 = driver.measurements;
    const long cycles0 = driver.cycles;
    const double cycleSeconds0 = driver.cycleSeconds;
    const double handler0 = driver.handlerSeconds;
    const double instrument0 = driver.instrumentSeconds;
    const int logged0 = form.LoggedRecordCount();
    long rssSteady = 0;
    QEventLoop loop;
    QTimer::singleShot(kSteadySecond * 1000, &loop, [&] { rssSteady = StatusKiB("VmRSS"); });
    QTimer::singleShot(kRunSeconds * 1000, &loop, [&] { loop.quit(); });
    QElapsedTimer elapsed;
    elapsed.start();
    form.Command3->click();  // Run
    loop.exec();
    form.Command3->click();  // Stop
    const double seconds = static_cast<double>(elapsed.nsecsElapsed()) * 1e-9;
    const long rssEnd = StatusKiB("VmRSS");
    RunResult r;
    const long n = driver.measurements - measured0;
    r.rate = static_cast<double>(n) / seconds;
    r.records = form.LoggedRecordCount() - logged0;
    r.instrumentMs = n > 0 ? (driver.instrumentSeconds - instrument0) * 1e3 / n : 0;
    r.growthMiB = MiB(rssEnd - rssSteady);
    const long cycles = driver.cycles - cycles0;
    const double cycleMs = cycles > 0 ? (driver.cycleSeconds - cycleSeconds0) * 1e3 / cycles : 0;
    r.peakMiB = MiB(StatusKiB("VmHWM"));
    std::printf(
        "  %ld acquisitions in %.2f s, %ld records logged; VmRSS %.1f MiB at second %d "
        "and %.1f MiB at the end\n",
        n, seconds, r.records, MiB(rssSteady), kSteadySecond, MiB(rssEnd));
    const double handlerMs = n > 0 ? (driver.handlerSeconds - handler0) * 1e3 / n : 0;
    std::printf(
        "  one cycle: %.2f ms = 20 ms timer + %.2f ms in the instrument + %.2f ms for "
        "the display pass and logging + %.2f ms for the rest (paint, timer slack)\n",
        cycleMs, r.instrumentMs, handlerMs - r.instrumentMs, cycleMs - 20.0 - handlerMs);
    return r;
}

void PrintRunRows(const char* view, const RunResult& r) {
    const double fraction = r.rate / kCeiling;
    PrintRow({.figure = std::string("acquisitions per second, ") + view,
              .value = FormatNumber(r.rate, 1) + "/s",
              .baseline = "ceiling of the 20 ms timer",
              .baselineValue = FormatNumber(kCeiling, 0) + "/s",
              .ratio = FormatNumber(fraction, 3),
              .target = "ratio >= " + FormatNumber(kMinFraction, 2),
              .met = YesNo(fraction >= kMinFraction)});
    PrintRow({.figure = std::string("peak resident memory (VmHWM), after ") + view,
              .value = FormatNumber(r.peakMiB, 1) + " MiB"});
    PrintRow({.figure = "resident memory growth, s" + std::to_string(kSteadySecond) + " to s" +
                        std::to_string(kRunSeconds) + ", " + view,
              .value = FormatNumber(r.growthMiB, 2) + " MiB",
              .target = "<= " + FormatNumber(kMaxGrowthMiB, 1) + " MiB (noise)",
              .met = YesNo(r.growthMiB <= kMaxGrowthMiB)});
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
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i > 0 && i + 1 < args.size())
        kRunSeconds = std::max(kSteadySecond + 1, args[i + 1].toInt());
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

    std::printf("V-T view, %d s:\n", kRunSeconds);
    const RunResult vt = Run(form, driver);
    form.Option2->click();
    std::printf("V-F view, %d s:\n", kRunSeconds);
    const RunResult vf = Run(form, driver);
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
    PrintRunRows("V-T", vt);
    PrintRunRows("V-F", vf);
    return messages.count > 0 ? 1 : 0;
}
