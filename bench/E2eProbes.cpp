#include "bench/E2eProbes.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/resource.h>
#include <unistd.h>

namespace rv8::bench {

void CountingDriver::tickHandled() {
    tickHandledAt = Clock::now();
    if (lastStart != Clock::time_point{})
        handlerSeconds += std::chrono::duration<double>(tickHandledAt - lastStart).count();
}

int32_t CountingDriver::StartMeasurement() {
    const auto t0 = Clock::now();
    if (lastStart != Clock::time_point{} && t0 - lastStart < std::chrono::milliseconds(200)) {
        ++cycles;
        cycleSeconds += std::chrono::duration<double>(t0 - lastStart).count();
    }
    lastStart = t0;
    if (tickHandledAt != Clock::time_point{}) {
        const double late = std::chrono::duration<double>(t0 - tickHandledAt - kInterval).count();
        latenessSeconds += late;
        ++latenessCount;
        tickHandledAt = {};
    }
    const int32_t r = ForwardingDriver::StartMeasurement();
    instrumentSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    return r;
}

void CountingDriver::GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) {
    const auto t0 = Clock::now();
    ForwardingDriver::GetMeasurementRaw(ch1First, ch2First);
    instrumentSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++measurements;
}

void RecordingMessages::show(const QString& title, const QString& text, MessageIcon) {
    ++count;
    std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
}

bool FirstPaint::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !seen) {
        seen = true;
        at = Clock::now();
        loop.quit();
    }
    return QObject::eventFilter(watched, event);
}

bool PaintClock::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::UpdateRequest || inside_) return false;
    inside_ = true;
    const auto t0 = Clock::now();
    watched->event(event);
    t_.seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    ++t_.count;
    inside_ = false;
    return true;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

Baselines MeasureBaselines(int samples) {
    std::vector<char> from(130000 * 2 * 2, 1);
    std::vector<char> to(from.size());
    std::vector<double> copies;
    std::vector<double> late;
    for (int i = 0; i < samples; ++i) {
        const auto asleep = Clock::now();
        const timespec interval{0, std::chrono::nanoseconds(kInterval).count()};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &interval, nullptr);
        const auto t0 = Clock::now();
        late.push_back(std::chrono::duration<double>(t0 - asleep - kInterval).count());
        std::memcpy(to.data(), from.data(), from.size());
        asm volatile("" : : "r"(to.data()) : "memory");
        copies.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        from[static_cast<std::size_t>(i) % from.size()] = static_cast<char>(i);
    }
    return {Median(copies), Median(late)};
}

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

}  // namespace rv8::bench
