// A fake instrument for the window's tests: keeps its settings like a real one and records
// every driver call as one line of text ("SetRecordLength 4096", "GetSampleFrequency = 500"),
// so whole call sequences can be compared with what the window must send.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/Numbers.h"
#include "driver/Rv8Driver.h"

namespace rv8::testing {

class FakeInstrument : public Rv8Driver {
  public:
    int32_t serial = 12345;
    int32_t calibration = 0x0F0A07D8;
    int32_t maxFrequency = 1000000;
    int32_t maxRecordLength = 131072;
    int32_t frequency = 1000;
    // Frequencies the instrument makes: by default any whole number up to the maximum.
    std::function<int32_t(int32_t)> takeFrequency = [](int32_t f) { return f; };
    int32_t recordLength = 1024;
    // Record lengths the instrument takes: by default any from 1 to its maximum.
    std::function<int32_t(int32_t)> takeRecordLength = [this](int32_t n) {
        return std::clamp(n, 1, maxRecordLength);
    };
    int32_t postSamples = 512;
    double sensitivity[2] = {4, 0.8};
    double level[2] = {0, 0};
    double hysteresis[2] = {0, 0};
    int32_t timeout = 100;
    int32_t startResult = 0;
    // Runs inside every StartMeasurement, before it answers (a measurement that takes its time).
    std::function<void()> whileMeasuring;
    // Raw samples GetMeasurementRaw writes (per channel, sample index) while the record length
    // allows; defaults to mid-scale.
    std::function<uint16_t(int channel, int32_t i)> sample = [](int, int32_t) {
        return uint16_t{32768};
    };
    int32_t fetchCount = 0;
    std::vector<std::string> calls;

    void clearCalls() { calls.clear(); }
    int count(const std::string& prefix) const {
        return static_cast<int>(std::count_if(
            calls.begin(), calls.end(), [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
    }

    void InitInstrument(int32_t mode) override { log("InitInstrument", mode); }
    void ExitInstrument() override { log("ExitInstrument"); }
    void GetSerialNumber(int32_t& s) override {
        s = serial;
        log("GetSerialNumber", "->", s);
    }
    void GetCalibrationDate(int32_t& w) override {
        w = calibration;
        log("GetCalibrationDate", "->", w);
    }
    int32_t GetMaxSampleFrequency() override { return ret("GetMaxSampleFrequency", maxFrequency); }
    int32_t GetMaxRecordLength() override { return ret("GetMaxRecordLength", maxRecordLength); }
    int32_t StartMeasurement() override {
        if (whileMeasuring) whileMeasuring();
        return ret("StartMeasurement", startResult);
    }
    void GetMeasurementRaw(uint16_t& ch1, uint16_t& ch2) override {
        uint16_t* b1 = &ch1;
        uint16_t* b2 = &ch2;
        for (int32_t i = 0; i < recordLength; ++i) {
            b1[i] = sample(0, i);
            b2[i] = sample(1, i);
        }
        ++fetchCount;
        log("GetMeasurementRaw", "->", recordLength);
    }
    void SetMeasureMode(int32_t m) override { log("SetMeasureMode", m); }
    int32_t GetMeasureMode() override { return ret("GetMeasureMode", 1); }
    void SetRecordLength(int32_t n) override {
        log("SetRecordLength", n);
        recordLength = takeRecordLength(n);
        postSamples = std::min(postSamples, recordLength);
    }
    int32_t GetRecordLength() override { return ret("GetRecordLength", recordLength); }
    void SetPostSamples(int32_t n) override {
        log("SetPostSamples", n);
        postSamples = std::clamp(n, 0, recordLength);
    }
    int32_t GetPostSamples() override { return ret("GetPostSamples", postSamples); }
    void SetSampleFrequency(int32_t& f) override {
        const int32_t in = f;
        frequency = takeFrequency(f);
        log("SetSampleFrequency", in, "->", f);
    }
    int32_t GetSampleFrequency() override { return ret("GetSampleFrequency", frequency); }
    void SetSensitivity(int32_t ch, double& v) override {
        const double in = v;
        sensitivity[ch - 1] = v;
        log("SetSensitivity", ch, in, "->", v);
    }
    void GetSensitivity(int32_t ch, double& v) override {
        const double in = v;
        v = sensitivity[ch - 1];
        log("GetSensitivity", ch, in, "->", v);
    }
    void SetCoupling(int32_t ch, uint8_t c) override { log("SetCoupling", ch, int{c}); }
    uint8_t GetCoupling(int32_t) override { return 0; }
    void SetTriggerSource(int32_t c) override { log("SetTriggerSource", c); }
    int32_t GetTriggerSource() override { return 0; }
    void SetTriggerMode(uint8_t c) override { log("SetTriggerMode", int{c}); }
    uint8_t GetTriggerMode() override { return 0; }
    void SetTriggerLevel(int32_t ch, double v) override {
        level[ch - 1] = v;
        log("SetTriggerLevel", ch, v);
    }
    void GetTriggerLevel(int32_t ch, double& v) override {
        v = level[ch - 1];
        log("GetTriggerLevel", ch, "->", v);
    }
    void SetTriggerHys(int32_t ch, double v) override {
        hysteresis[ch - 1] = v;
        log("SetTriggerHys", ch, v);
    }
    void GetTriggerHys(int32_t ch, double& v) override {
        v = hysteresis[ch - 1];
        log("GetTriggerHys", ch, "->", v);
    }
    void SetTriggerTimeOut(int32_t t) override {
        timeout = t;
        log("SetTriggerTimeOut", t);
    }
    int32_t GetTriggerTimeOut() override { return ret("GetTriggerTimeOut", timeout); }

  private:
    static std::string str(const char* s) { return s; }
    static std::string str(int32_t v) { return std::to_string(v); }
    static std::string str(double v) { return FormatPlain(v).toStdString(); }
    template <typename... A>
    void log(const char* name, A... args) {
        std::string line = name;
        ((line += ' ', line += str(args)), ...);
        calls.push_back(line);
    }
    int32_t ret(const char* name, int32_t v) {
        calls.push_back(std::string(name) + " = " + std::to_string(v));
        return v;
    }
};

}  // namespace rv8::testing
