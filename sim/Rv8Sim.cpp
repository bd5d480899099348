// The simulated driver library: every function of the instrument driver, with C linkage and the
// same names, over one process-wide SimInstrument. Its options come from the RV8SIM_*
// environment variables, read at every InitInstrument; before the first one the defaults hold.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/rv8_api.h"
#include "sim/SimInstrument.h"

namespace {

using rv8::sim::SimInstrument;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

class Library {
  public:
    template <typename Fn>
    auto call(Fn fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn(instrument_);
    }

    // Reads the options again and opens their trace file; they take effect with the
    // InitInstrument that follows. Called with the mutex held.
    void reload() {
        std::vector<std::string> warnings;
        rv8::sim::SimOptions options = rv8::sim::OptionsFromEnvironment(
            [](const char* name) { return std::getenv(name); }, &warnings);
        for (const std::string& w : warnings)
            std::fprintf(stderr, "rv8 simulator: %s\n", w.c_str());
        instrument_.setOptions(options);
        openTrace(options.tracePath);
    }

    std::mutex& mutex() { return mutex_; }
    SimInstrument& instrument() { return instrument_; }

  private:
    void openTrace(const std::string& path) {
        if (trace_ && path == tracePath_) return;  // keep appending to the same file
        tracePath_ = path;
        trace_.reset(path.empty() ? nullptr : std::fopen(path.c_str(), "a"));
        if (!path.empty() && !trace_) {
            std::fprintf(stderr, "rv8 simulator: cannot open the trace file %s\n", path.c_str());
        }
        if (!trace_) {
            instrument_.setTraceSink(nullptr);
            return;
        }
        std::FILE* file = trace_.get();
        instrument_.setTraceSink([file](const std::string& line) {
            std::fputs(line.c_str(), file);
            std::fputc('\n', file);
            std::fflush(file);  // readable at once by whoever watches the program
        });
    }

    std::mutex mutex_;
    SimInstrument instrument_;
    std::string tracePath_;
    std::unique_ptr<std::FILE, FileCloser> trace_;
};

Library& Lib() {
    static Library library;
    return library;
}

}  // namespace

extern "C" {

RV8_EXPORT void InitInstrument(int32_t mode) {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex());
    lib.reload();
    lib.instrument().InitInstrument(mode);
}
RV8_EXPORT void ExitInstrument(void) {
    Lib().call([](SimInstrument& s) { s.ExitInstrument(); });
}
RV8_EXPORT void GetSerialNumber(int32_t* serial) {
    Lib().call([&](SimInstrument& s) { s.GetSerialNumber(serial); });
}
RV8_EXPORT void GetCalibrationDate(int32_t* word) {
    Lib().call([&](SimInstrument& s) { s.GetCalibrationDate(word); });
}
RV8_EXPORT int32_t GetMaxSampleFrequency(void) {
    return Lib().call([](SimInstrument& s) { return s.GetMaxSampleFrequency(); });
}
RV8_EXPORT int32_t GetMaxRecordLength(void) {
    return Lib().call([](SimInstrument& s) { return s.GetMaxRecordLength(); });
}
RV8_EXPORT int32_t StartMeasurement(void) {
    return Lib().call([](SimInstrument& s) { return s.StartMeasurement(); });
}
RV8_EXPORT void GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2) {
    Lib().call([&](SimInstrument& s) { s.GetMeasurementRaw(ch1, ch2); });
}
RV8_EXPORT void SetMeasureMode(int32_t mode) {
    Lib().call([&](SimInstrument& s) { s.SetMeasureMode(mode); });
}
RV8_EXPORT int32_t GetMeasureMode(void) {
    return Lib().call([](SimInstrument& s) { return s.GetMeasureMode(); });
}
RV8_EXPORT void SetRecordLength(int32_t samples) {
    Lib().call([&](SimInstrument& s) { s.SetRecordLength(samples); });
}
RV8_EXPORT int32_t GetRecordLength(void) {
    return Lib().call([](SimInstrument& s) { return s.GetRecordLength(); });
}
RV8_EXPORT void SetPostSamples(int32_t samples) {
    Lib().call([&](SimInstrument& s) { s.SetPostSamples(samples); });
}
RV8_EXPORT int32_t GetPostSamples(void) {
    return Lib().call([](SimInstrument& s) { return s.GetPostSamples(); });
}
RV8_EXPORT void SetSampleFrequency(int32_t* frequency) {
    Lib().call([&](SimInstrument& s) { s.SetSampleFrequency(frequency); });
}
RV8_EXPORT int32_t GetSampleFrequency(void) {
    return Lib().call([](SimInstrument& s) { return s.GetSampleFrequency(); });
}
RV8_EXPORT void SetSensitivity(int32_t channel, double* volts) {
    Lib().call([&](SimInstrument& s) { s.SetSensitivity(channel, volts); });
}
RV8_EXPORT void GetSensitivity(int32_t channel, double* volts) {
    Lib().call([&](SimInstrument& s) { s.GetSensitivity(channel, volts); });
}
RV8_EXPORT void SetCoupling(int32_t channel, uint8_t code) {
    Lib().call([&](SimInstrument& s) { s.SetCoupling(channel, code); });
}
RV8_EXPORT uint8_t GetCoupling(int32_t channel) {
    return Lib().call([&](SimInstrument& s) { return s.GetCoupling(channel); });
}
RV8_EXPORT void SetTriggerSource(int32_t code) {
    Lib().call([&](SimInstrument& s) { s.SetTriggerSource(code); });
}
RV8_EXPORT int32_t GetTriggerSource(void) {
    return Lib().call([](SimInstrument& s) { return s.GetTriggerSource(); });
}
RV8_EXPORT void SetTriggerMode(uint8_t code) {
    Lib().call([&](SimInstrument& s) { s.SetTriggerMode(code); });
}
RV8_EXPORT uint8_t GetTriggerMode(void) {
    return Lib().call([](SimInstrument& s) { return s.GetTriggerMode(); });
}
RV8_EXPORT void SetTriggerLevel(int32_t channel, double volts) {
    Lib().call([&](SimInstrument& s) { s.SetTriggerLevel(channel, volts); });
}
RV8_EXPORT void GetTriggerLevel(int32_t channel, double* volts) {
    Lib().call([&](SimInstrument& s) { s.GetTriggerLevel(channel, volts); });
}
RV8_EXPORT void SetTriggerHys(int32_t channel, double volts) {
    Lib().call([&](SimInstrument& s) { s.SetTriggerHys(channel, volts); });
}
RV8_EXPORT void GetTriggerHys(int32_t channel, double* volts) {
    Lib().call([&](SimInstrument& s) { s.GetTriggerHys(channel, volts); });
}
RV8_EXPORT void SetTriggerTimeOut(int32_t timeout) {
    Lib().call([&](SimInstrument& s) { s.SetTriggerTimeOut(timeout); });
}
RV8_EXPORT int32_t GetTriggerTimeOut(void) {
    return Lib().call([](SimInstrument& s) { return s.GetTriggerTimeOut(); });
}

}  // extern "C"
