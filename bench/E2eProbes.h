// The measuring instruments of e2e_bench (E2eBench.cpp): a driver that counts and times the
// measurements on their way to the library, event filters that time the window's painting, and
// the process's CPU time, memory and age, with the baselines a run is compared against.
#pragma once

#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QString>

#include <chrono>
#include <vector>

#include "core/Messages.h"
#include "driver/Rv8Driver.h"

namespace rv8::bench {

using Clock = std::chrono::steady_clock;

constexpr auto kInterval = std::chrono::milliseconds(20);  // the window's timer

// Passes every call on to another driver: one override per function of driver/Rv8Functions.h.
#define RV8_FORWARD(Result, Name, ...)                  \
    Result Name(RV8_CPP_PARAMS(__VA_ARGS__)) override { \
        return d_.Name(RV8_ARGS(__VA_ARGS__));          \
    }

class ForwardingDriver : public Rv8Driver {
  public:
    explicit ForwardingDriver(Rv8Driver& d) : d_(d) {}

    RV8_FUNCTIONS(RV8_FORWARD)

  private:
    Rv8Driver& d_;
};

#undef RV8_FORWARD

// Forwards every call to the loaded library and counts the measurements that delivered data,
// and the time spent inside the instrument for them.
class CountingDriver final : public ForwardingDriver {
  public:
    using ForwardingDriver::ForwardingDriver;
    long measurements = 0;
    double instrumentSeconds = 0;
    long cycles = 0;  // intervals between two measurements that followed each other
    double cycleSeconds = 0;
    Clock::time_point lastStart{};
    double handlerSeconds = 0;  // from StartMeasurement to the end of the tick's handler
    // The timer's lateness: from the end of the 20 ms interval the handler restarted as it
    // returned to the next StartMeasurement, the tick handler's first call.
    Clock::time_point tickHandledAt{};
    double latenessSeconds = 0;
    long latenessCount = 0;

    // Called after the window's tick handler has returned (the timer was restarted just before).
    void tickHandled();
    // Between runs: the next tick follows a click, not an interval.
    void forgetTick() { tickHandledAt = {}; }

    int32_t StartMeasurement() override;
    void GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) override;
};

// Answers every message at once and remembers it; a measurement with a message is suspect.
class RecordingMessages final : public Messages {
  public:
    int count = 0;
    void show(const QString& title, const QString& text, MessageIcon) override;
};

// Notes the time of the first paint of the watched widget.
class FirstPaint final : public QObject {
  public:
    bool seen = false;
    Clock::time_point at{};
    QEventLoop loop;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Times the delivery of every update request (the window's painting and the flush of its
// backing store), wherever it goes; an update request delivered inside another one is part of
// the outer one.
class PaintClock final : public QObject {
  public:
    struct Totals {
        double seconds = 0;
        long count = 0;
    };
    Totals totals() const { return t_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Totals t_;
    bool inside_ = false;
};

// CPU time of the process so far (user + system, all threads), in seconds.
double CpuSeconds();

// The baselines, measured in the same run: the median time of a memcpy of one record's samples
// (130000 frames x 2 channels x 2 bytes) between two 20 ms sleeps, as the loop meets its data;
// and the kernel's own lateness for a 20 ms sleep (clock_nanosleep), the floor any timer has.
struct Baselines {
    double memcpySeconds = 0;
    double sleepLatenessSeconds = 0;
};

double Median(std::vector<double> v);
Baselines MeasureBaselines(int samples);

// A value of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 if missing.
long StatusKiB(const char* key);

// Seconds since this process started: /proc/self/stat's start time (in clock ticks since boot)
// against the boot-time clock. The start time has the resolution of a clock tick (10 ms).
double SecondsSinceProcessStart();

inline double MiB(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

}  // namespace rv8::bench
