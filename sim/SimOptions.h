// What the simulated instrument is like: its identity, limits, starting ranges, input signals and
// failure modes. The library reads them from RV8SIM_* environment variables at every
// InitInstrument (docs/simulator.md lists them); tests build them directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/Signal.h"

namespace rv8::sim {

// The raw buffers the program hands to GetMeasurementRaw hold 131093 samples; the instrument's
// memory is never larger than this.
constexpr int32_t kLargestRecordLength = 131072;

struct SimOptions {
    int32_t serialNumber = 12345;          // 0: no instrument answers
    int32_t calibrationDate = 0x0F0A07D8;  // day << 24 | month << 16 | year: 15-10-2008
    int32_t maxSampleFrequency = 200000;   // samples per second per channel
    int32_t maxRecordLength = kLargestRecordLength;
    double sensitivity[2] = {4.0, 0.8};  // starting ranges, taken as given (even off the list)
    InputSignal signal[2] = {
        {.shape = Shape::Sine, .frequency = 1000.0, .amplitude = 1.5, .noise = 0.01},
        {.shape = Shape::Square, .frequency = 250.0, .amplitude = 0.3, .offset = 0.1}};
    int32_t startResult = 0;  // what StartMeasurement returns; non-zero: nothing is acquired
    int32_t acquireMs = -1;   // time a measurement takes; -1: the record's duration, at most 100 ms
    std::string tracePath;    // append a line per call to this file; empty: no trace

    bool operator==(const SimOptions&) const = default;
};

// Reads the RV8SIM_* variables through `lookup` (getenv, or a table in tests). An unset variable
// keeps the default; one that cannot be used keeps the default and adds a line to `warnings`.
SimOptions OptionsFromEnvironment(const std::function<const char*(const char*)>& lookup,
                                  std::vector<std::string>* warnings);

}  // namespace rv8::sim
