// viewer_bench: the recording viewer (rv8view's window, offscreen) on a large recording, each
// figure next to a baseline measured in the same run.
//
//   viewer_bench BIG.cvx [--runs N]
//
// BIG.cvx: 8000 records of 130000 frames (4.2 GB; scripts/bench makes it with rv8_make_recording,
// on disk). Every read is made cold: the file's pages are dropped from the page cache
// (posix_fadvise DONTNEED) before each measurement, so the disk is read as a user opening a
// recording made earlier meets it.
//
// 1. Opening: `viewer_bench --open BIG.cvx`, a fresh process, N times: from the process's start
//    to the chart's first paint of record 0, and the peak resident memory (VmHWM) then; against
//    a pread of record 0's bytes in the same process. The viewer must not read the whole file.
// 2. Stepping: 200 steps to the next record (read, CRC checked, measured, the whole record of
//    130000 frames drawn as one min/max span per column, painted), against a pread of another
//    record's bytes; medians.
// 3. Zoom and pan of a 131072-frame record: wheel notches in and out about varying places and
//    drags along the time axis, each painted; against the scope's own widest display pass
//    (PlotBuffer of 16384 frames and paint, a chart of the same size); medians.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSummary.h"
#include "bench/E2eProbes.h"
#include "logging/RecordingIndex.h"
#include "logging/WriteVelmarFileII.h"
#include "viewer/ViewerWindow.h"

namespace rv8::bench {

namespace {

constexpr double kMaxOpenSeconds = 1.0;
constexpr double kMaxOpenMiB = 100.0;
constexpr double kMaxFrameSeconds = 16e-3;  // 60 pictures a second
constexpr int kSteps = 200;

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

void DropCache(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// The time a pread of record k's bytes takes (its pages dropped first).
double PreadRecord(const char* path, const RecordingIndex::Entry& e) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ::posix_fadvise(fd, static_cast<off_t>(e.offset), static_cast<off_t>(e.size),
                    POSIX_FADV_DONTNEED);
    std::vector<char> buf(e.size);
    const auto t0 = Clock::now();
    const ssize_t got = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(e.offset));
    const double s = Seconds(t0);
    ::close(fd);
    return got == static_cast<ssize_t>(buf.size()) ? s : 0;
}

// Counts the paints of the widget it watches.
class PaintCounter final : public QObject {
  public:
    long count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return QObject::eventFilter(watched, event);
    }
};

// Paints the chart now (and whatever else of the window waits for it), as the event loop would.
void PaintNow(QWidget& chart) {
    chart.repaint();
}

// --open FILE: one opening, as `rv8view FILE` does it; prints "OPEN seconds pread-seconds KiB".
int OpenOnce(int argc, char** argv, const char* path) {
    std::string error;
    double pread = 0;
    if (auto index = RecordingIndex::Open(path, error)) {
        RecordingIndex::Entry e;
        if (index->entry(0, e)) pread = PreadRecord(path, e);
    }
    DropCache(path);
    QApplication app(argc, argv);
    viewer::ViewerWindow window;
    FirstPaint painted;
    window.chart().installEventFilter(&painted);
    window.show();
    if (!window.openFile(QString::fromLocal8Bit(path))) return 1;
    // The first paint after the record is on the chart.
    painted.seen = false;
    QTimer::singleShot(10000, &painted.loop, [&] { painted.loop.quit(); });
    if (!painted.seen) painted.loop.exec();
    if (!painted.seen || window.current() != 0) return 1;
    const double shown = SecondsSinceProcessStart() - Seconds(painted.at);
    std::printf("OPEN %.6f %.6f %ld\n", shown, pread, StatusKiB("VmHWM"));
    return 0;
}

struct OpenFigures {
    double seconds = 0, pread = 0, mib = 0;
};

OpenFigures Opening(const char* self, const char* path, int runs) {
    std::vector<double> shown, pread, mib;
    for (int i = 0; i < runs; ++i) {
        DropCache(path);
        QProcess p;
        p.start(QString::fromLocal8Bit(self),
                {QStringLiteral("--open"), QString::fromLocal8Bit(path)});
        p.waitForFinished(60000);
        const QStringList f = QString::fromLocal8Bit(p.readAllStandardOutput()).split(' ');
        if (p.exitCode() != 0 || f.size() != 4) {
            std::fprintf(stderr, "viewer_bench: opening failed: %s\n",
                         p.readAllStandardError().constData());
            continue;
        }
        shown.push_back(f[1].toDouble());
        pread.push_back(f[2].toDouble());
        mib.push_back(MiB(f[3].toLong()));
        std::printf(
            "  open %d: first record shown %.1f ms after the process started; pread of "
            "its bytes %.2f ms; VmHWM %.1f MiB\n",
            i + 1, shown.back() * 1e3, pread.back() * 1e3, mib.back());
    }
    return {Median(shown), Median(pread), Median(mib)};
}

// Steps through records first..first+kSteps-1 of the open window, each painted.
std::vector<double> Stepping(viewer::ViewerWindow& window, int64_t first) {
    std::vector<double> times;
    window.goTo(first - 1);
    PaintNow(window.chart());
    for (int i = 0; i < kSteps; ++i) {
        const auto t0 = Clock::now();
        window.goTo(first + i);
        PaintNow(window.chart());
        times.push_back(Seconds(t0));
    }
    return times;
}

// Zooms and pans a record shown whole; each step painted.
void ZoomAndPan(viewer::ViewerWindow& window, std::vector<double>& zoom, std::vector<double>& pan) {
    Kurvo& chart = window.chart();
    const double w = chart.width(), h = chart.height();
    const auto send = [&](QEvent& e) { QApplication::sendEvent(&chart, &e); };
    for (int round = 0; round < 4; ++round) {
        const QPointF at(w * (0.2 + 0.2 * round), h / 2);
        for (int notch : {1, -1}) {
            for (int i = 0; i < 20; ++i) {
                QWheelEvent e(at, chart.mapToGlobal(at), QPoint(), QPoint(0, 120 * notch),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                const auto t0 = Clock::now();
                send(e);
                PaintNow(chart);
                zoom.push_back(Seconds(t0));
            }
        }
    }
    // Drags at a window of about 8000 frames, then at the whole record less a notch.
    for (int notches : {12, -11}) {
        QWheelEvent e(QPointF(w / 2, h / 2), chart.mapToGlobal(QPointF(w / 2, h / 2)), QPoint(),
                      QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
        send(e);
        QPointF at(w / 2, h / 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, chart.mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        send(press);
        for (int i = 0; i < 50; ++i) {
            at += QPointF(i % 20 < 10 ? -7 : 7, 0);
            QMouseEvent move(QEvent::MouseMove, at, chart.mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            const auto t0 = Clock::now();
            send(move);
            PaintNow(chart);
            pan.push_back(Seconds(t0));
        }
        QMouseEvent release(QEvent::MouseButtonRelease, at, chart.mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        send(release);
    }
}

// The scope's widest pass on the same chart: PlotBuffer of 16384 frames and paint.
double ScopePass(Kurvo& chart, const RecordingRecord& record) {
    std::vector<double> times;
    for (int i = 0; i < 100; ++i) {
        const auto t0 = Clock::now();
        chart.PlotBuffer(record.samples[2 * (i * 1000)], 2, 16384);
        chart.repaint();
        times.push_back(Seconds(t0));
    }
    return Median(times);
}

SummaryRow Row(const std::string& figure, double value, const std::string& baseline,
               double baselineValue, double maxSeconds) {
    return {.figure = figure,
            .value = FormatDuration(value),
            .baseline = baseline,
            .baselineValue = FormatDuration(baselineValue),
            .ratio = FormatNumber(value / baselineValue, value / baselineValue < 10 ? 2 : 1),
            .target = "< " + FormatDuration(maxSeconds),
            .met = YesNo(value < maxSeconds)};
}

}  // namespace

}  // namespace rv8::bench

int main(int argc, char** argv) {
    using namespace rv8::bench;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 3 && std::string(argv[1]) == "--open") return OpenOnce(argc, argv, argv[2]);
    if (argc < 2) {
        std::fputs("usage: viewer_bench BIG.cvx [--runs N]\n", stderr);
        return 2;
    }
    const char* big = argv[1];
    const int runs = argc == 4 && std::string(argv[2]) == "--runs" ? std::atoi(argv[3]) : 5;

    std::printf("opening %s, %d times, each in a fresh process:\n", big, runs);
    const OpenFigures open = Opening(argv[0], big, runs);

    QApplication app(argc, argv);
    rv8::viewer::ViewerWindow window;
    window.resize(1280, 800);
    window.show();
    // Until the window is on the (offscreen) screen: before that, nothing paints.
    while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    PaintCounter paints;
    window.chart().installEventFilter(&paints);
    if (!window.openFile(QString::fromLocal8Bit(big))) {
        std::fprintf(stderr, "viewer_bench: cannot open %s\n", big);
        return 1;
    }
    // The records' places first (the walk of their heads); the CRC walk gives way to reads.
    while (window.source().status().walking)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const uint64_t count = window.count();
    std::printf("%llu records; stepping %d of them, cold:\n",
                static_cast<unsigned long long>(count), kSteps);
    DropCache(big);
    const std::vector<double> steps = Stepping(window, static_cast<int64_t>(count / 8));
    std::vector<double> preads;
    for (int i = 0; i < kSteps; ++i) {
        rv8::RecordingIndex::Entry e;
        if (window.source().index()->entry(count / 2 + i, e)) preads.push_back(PreadRecord(big, e));
    }
    std::printf(
        "  step + paint: median %.2f ms, slowest %.2f ms (%ld paints of the chart); pread of a "
        "record's bytes: median %.2f ms\n",
        Median(steps) * 1e3, *std::max_element(steps.begin(), steps.end()) * 1e3, paints.count,
        Median(preads) * 1e3);

    std::vector<double> zoom, pan;
    QTemporaryDir folder;
    const QString small = folder.filePath(QStringLiteral("131072.cvx"));
    {
        rv8::WriteVelmarFileII w;
        w.ChannelCount(2);
        w.SampleRate(1e6);
        w.SetChannelRange(4, -4, 0);
        w.SetChannelRange(0.8, -0.8, 1);
        w.FileName(small);
        std::vector<int16_t> block(2 * 131072);
        for (int i = 0; i < 131072; ++i) {
            block[2 * i] =
                static_cast<int16_t>(static_cast<int>(20000 * std::sin(i * 0.0123)) & ~3);
            block[2 * i + 1] = static_cast<int16_t>((i / 1500) % 2 ? 9000 : -9000);
        }
        if (!w.OpenFile() || !w.WriteBlock(block.data(), 131072) || !w.CloseFile()) return 1;
    }
    if (!window.openFile(small)) return 1;
    ZoomAndPan(window, zoom, pan);
    const double scope = ScopePass(window.chart(), window.record());
    std::printf(
        "  131072 frames: zoom + paint median %.2f ms, pan + paint median %.2f ms; the "
        "scope's 16384-frame pass + paint %.2f ms (chart %dx%d)\n",
        Median(zoom) * 1e3, Median(pan) * 1e3, scope * 1e3, window.chart().width(),
        window.chart().height());

    PrintRow(Row("viewer: open 8000 x 130000 frames (4.2 GB), first record shown, median of " +
                     std::to_string(runs),
                 open.seconds, "pread of the first record's bytes, cold", open.pread,
                 kMaxOpenSeconds));
    PrintRow({.figure = "viewer: peak resident memory when the first record is shown",
              .value = FormatNumber(open.mib, 1) + " MiB",
              .baseline = "the file",
              .baselineValue = "4.2 GB",
              .target = "< " + FormatNumber(kMaxOpenMiB, 0) + " MiB",
              .met = YesNo(open.mib < kMaxOpenMiB)});
    PrintRow(Row("viewer: step to the next record + paint, 130000 frames in view (median)",
                 Median(steps), "pread of a record's bytes, cold", Median(preads),
                 kMaxFrameSeconds));
    PrintRow(Row("viewer: zoom of a 131072-frame record + paint (median)", Median(zoom),
                 "scope pass: PlotBuffer 16384 frames + paint", scope, kMaxFrameSeconds));
    PrintRow(Row("viewer: pan of a 131072-frame record + paint (median)", Median(pan),
                 "scope pass: PlotBuffer 16384 frames + paint", scope, kMaxFrameSeconds));
    return 0;
}
