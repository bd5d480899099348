// A recording fake of the instrument driver for the handlers' tests.
#pragma once

#include <gmock/gmock.h>

#include "driver/Rv8Driver.h"

namespace rv8::testing {

// One mocked function per function of the driver (driver/Rv8Functions.h), e.g.
//   MOCK_METHOD(void, GetSensitivity, (int32_t channel, double& volts), (override));
#define RV8_MOCK(Result, Name, ...) \
    MOCK_METHOD(Result, Name, (RV8_CPP_PARAMS(__VA_ARGS__)), (override));

class MockDriver : public Rv8Driver {
  public:
    // Out of line (MockDriver.cpp): the mock's vtable and its 30 mocked functions are then made
    // once, not in every test file that uses the mock.
    MockDriver();
    ~MockDriver() override;

    RV8_FUNCTIONS(RV8_MOCK)
};

#undef RV8_MOCK

}  // namespace rv8::testing
