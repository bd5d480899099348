// The simulated RV8 instrument: one member per function of the driver library, with the same
// arguments (pointers where the library takes a "ref"). It keeps every setting and reports it
// back, takes only what the hardware could (sample rates the clock can divide down to, the nine
// input ranges, post-trigger samples within the record), and measures the signals of SimOptions
// with the sample frequency, record length, sensitivity, coupling, measure mode and trigger in
// force.
//
// InitInstrument powers it up with the options set last. Before that, after ExitInstrument, and
// when the options' serial number is 0, no instrument answers: setters do nothing, getters
// return 0 and leave "ref" variables as they are, and StartMeasurement returns kNoInstrument.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/Rv8Functions.h"
#include "sim/SimOptions.h"

namespace rv8::sim {

// One member per function of the driver library (driver/Rv8Functions.h), with the C API's
// arguments, e.g.  void GetSensitivity(int32_t channel, double* volts);
#define RV8_SIM_MEMBER(Result, Name, ...) Result Name(RV8_C_PARAMS(__VA_ARGS__));

class SimInstrument {
  public:
    static constexpr int32_t kNoInstrument = -1;  // StartMeasurement without an instrument

    // The input ranges, in volts full scale.
    static constexpr double kSensitivities[] = {0.2, 0.4, 0.8, 2, 4, 8, 20, 40, 80};

    explicit SimInstrument(SimOptions options = {});

    // Options take effect at the next InitInstrument.
    void setOptions(const SimOptions& options) { pending_ = options; }
    // Receives one line per call, in the trace format of docs/simulator.md; empty: no trace.
    void setTraceSink(std::function<void(const std::string&)> sink) { trace_ = std::move(sink); }
    // Whether StartMeasurement sleeps for the measurement's duration (tests turn it off).
    void setRealTime(bool on) { realTime_ = on; }

    bool isOpen() const { return open_; }
    const SimOptions& options() const { return options_; }
    // The last record of a channel (index 0 or 1), as GetMeasurementRaw hands it out.
    const std::vector<uint16_t>& lastRecord(int index) const { return record_[index]; }
    // Sample number in the last record at which the trigger fired; -1 when it ran free.
    int32_t lastTriggerIndex() const { return lastTriggerIndex_; }
    // Time of the last record's first sample, in seconds since power-up.
    double lastRecordTime() const { return lastRecordTime_; }
    // How long StartMeasurement sleeps with the settings in force, in milliseconds.
    int32_t acquisitionMs() const;

    // The rate the sample clock makes for a request: the maximum divided by the whole number that
    // comes nearest (the higher rate on a tie), rounded to a whole number.
    static int32_t AcceptedFrequency(int32_t requested, int32_t maxFrequency);
    // The smallest range at or above the request; 80 above all of them.
    static double AcceptedSensitivity(double requested);

    // The driver library's functions (RV8_SIM_MEMBER above).
    RV8_FUNCTIONS(RV8_SIM_MEMBER)

  private:
    struct Channel {
        double sensitivity = 4.0;
        uint8_t coupling = 1;  // 0 AC, 1 DC
        double triggerLevel = 0.0;
        double triggerHys = 0.0;
    };

    void powerUp();
    Channel* channel(int32_t number);  // 1 or 2; null for any other number or without instrument
    bool measured(int index) const;    // is channel index 0 or 1 sampled in the measure mode?
    // Starts channel index's stream at `time` (seconds since power-up) for this measurement.
    ChannelGenerator& startStream(int index, double time);
    // Finds the trigger in the source channel's stream, whose sample 0 comes at the clock.
    // Returns the stream's sample that begins the record and whether it triggered.
    std::pair<int64_t, bool> placeTrigger(int source, int64_t pre);
    // Channel index's record: from sample `start` of its stream when it is analog.
    void fillRecord(int index, int64_t start);
    bool tracing() const { return static_cast<bool>(trace_); }
    void trace(const std::string& line) const { trace_(line); }

    SimOptions pending_;
    SimOptions options_;
    std::function<void(const std::string&)> trace_;
    bool realTime_ = true;

    bool open_ = false;
    int32_t measureMode_ = 3;
    int32_t recordLength_ = 4096;
    int32_t postSamples_ = 2048;
    int32_t sampleFrequency_ = 1;
    Channel channels_[2];
    int32_t triggerSource_ = 0;
    uint8_t triggerMode_ = 0;
    int32_t triggerTimeOut_ = 100;  // milliseconds

    double clock_ = 0.0;              // seconds since power-up at which the next measurement starts
    uint64_t acquisitions_ = 0;       // measurements taken; seeds each one's noise
    ChannelGenerator generators_[2];  // keep their tables from one measurement to the next
    std::vector<uint16_t> record_[2];
    int32_t lastTriggerIndex_ = -1;
    double lastRecordTime_ = 0.0;
};

#undef RV8_SIM_MEMBER

}  // namespace rv8::sim
