// The instrument, as the window sees it: one member per function of the driver library, with
// the library's argument order and widths; by-reference arguments are C++ references.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace rv8 {

// The driver library could not be loaded, or lacks a function the window called. Not
// recoverable: the program reports it and ends.
class DriverUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Rv8Driver {
  public:
    virtual ~Rv8Driver() = default;

    virtual void InitInstrument(int32_t mode) = 0;
    virtual void ExitInstrument() = 0;
    virtual void GetSerialNumber(int32_t& serial) = 0;
    virtual void GetCalibrationDate(int32_t& word) = 0;
    virtual int32_t GetMaxSampleFrequency() = 0;
    virtual int32_t GetMaxRecordLength() = 0;
    virtual int32_t StartMeasurement() = 0;
    // Fills the first record-length samples of each buffer, given by its first sample.
    virtual void GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) = 0;
    virtual void SetMeasureMode(int32_t mode) = 0;
    virtual int32_t GetMeasureMode() = 0;
    virtual void SetRecordLength(int32_t samples) = 0;
    virtual int32_t GetRecordLength() = 0;
    virtual void SetPostSamples(int32_t samples) = 0;
    virtual int32_t GetPostSamples() = 0;
    virtual void SetSampleFrequency(int32_t& frequency) = 0;
    virtual int32_t GetSampleFrequency() = 0;
    virtual void SetSensitivity(int32_t channel, double& volts) = 0;
    virtual void GetSensitivity(int32_t channel, double& volts) = 0;
    virtual void SetCoupling(int32_t channel, uint8_t code) = 0;
    virtual uint8_t GetCoupling(int32_t channel) = 0;
    virtual void SetTriggerSource(int32_t code) = 0;
    virtual int32_t GetTriggerSource() = 0;
    virtual void SetTriggerMode(uint8_t code) = 0;
    virtual uint8_t GetTriggerMode() = 0;
    virtual void SetTriggerLevel(int32_t channel, double volts) = 0;
    virtual void GetTriggerLevel(int32_t channel, double& volts) = 0;
    virtual void SetTriggerHys(int32_t channel, double volts) = 0;
    virtual void GetTriggerHys(int32_t channel, double& volts) = 0;
    virtual void SetTriggerTimeOut(int32_t timeout) = 0;
    virtual int32_t GetTriggerTimeOut() = 0;
};

}  // namespace rv8
