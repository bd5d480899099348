// A recording fake of the instrument driver for the handlers' tests.
#pragma once

#include <gmock/gmock.h>

#include "driver/Rv8Driver.h"

namespace rv8::testing {

class MockDriver : public Rv8Driver {
  public:
    // Out of line (MockDriver.cpp): the mock's vtable and its 30 mocked functions are then made
    // once, not in every test file that uses the mock.
    MockDriver();
    ~MockDriver() override;

    MOCK_METHOD(void, InitInstrument, (int32_t mode), (override));
    MOCK_METHOD(void, ExitInstrument, (), (override));
    MOCK_METHOD(void, GetSerialNumber, (int32_t & serial), (override));
    MOCK_METHOD(void, GetCalibrationDate, (int32_t & word), (override));
    MOCK_METHOD(int32_t, GetMaxSampleFrequency, (), (override));
    MOCK_METHOD(int32_t, GetMaxRecordLength, (), (override));
    MOCK_METHOD(int32_t, StartMeasurement, (), (override));
    MOCK_METHOD(void, GetMeasurementRaw, (uint16_t & ch1First, uint16_t& ch2First), (override));
    MOCK_METHOD(void, SetMeasureMode, (int32_t mode), (override));
    MOCK_METHOD(int32_t, GetMeasureMode, (), (override));
    MOCK_METHOD(void, SetRecordLength, (int32_t samples), (override));
    MOCK_METHOD(int32_t, GetRecordLength, (), (override));
    MOCK_METHOD(void, SetPostSamples, (int32_t samples), (override));
    MOCK_METHOD(int32_t, GetPostSamples, (), (override));
    MOCK_METHOD(void, SetSampleFrequency, (int32_t & frequency), (override));
    MOCK_METHOD(int32_t, GetSampleFrequency, (), (override));
    MOCK_METHOD(void, SetSensitivity, (int32_t channel, double& volts), (override));
    MOCK_METHOD(void, GetSensitivity, (int32_t channel, double& volts), (override));
    MOCK_METHOD(void, SetCoupling, (int32_t channel, uint8_t code), (override));
    MOCK_METHOD(uint8_t, GetCoupling, (int32_t channel), (override));
    MOCK_METHOD(void, SetTriggerSource, (int32_t code), (override));
    MOCK_METHOD(int32_t, GetTriggerSource, (), (override));
    MOCK_METHOD(void, SetTriggerMode, (uint8_t code), (override));
    MOCK_METHOD(uint8_t, GetTriggerMode, (), (override));
    MOCK_METHOD(void, SetTriggerLevel, (int32_t channel, double volts), (override));
    MOCK_METHOD(void, GetTriggerLevel, (int32_t channel, double& volts), (override));
    MOCK_METHOD(void, SetTriggerHys, (int32_t channel, double volts), (override));
    MOCK_METHOD(void, GetTriggerHys, (int32_t channel, double& volts), (override));
    MOCK_METHOD(void, SetTriggerTimeOut, (int32_t timeout), (override));
    MOCK_METHOD(int32_t, GetTriggerTimeOut, (), (override));
};

}  // namespace rv8::testing
