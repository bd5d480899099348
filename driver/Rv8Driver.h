// The instrument, as the window sees it: one member per function of the driver library
// (driver/Rv8Functions.h), with the library's argument order and widths; by-reference arguments
// are C++ references.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "driver/Rv8Functions.h"

namespace rv8 {

// The driver library could not be loaded, or lacks a function the window called. Not
// recoverable: the program reports it and ends.
class DriverUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One pure virtual per function of the list (driver/Rv8Functions.h), e.g.
//   virtual void GetSensitivity(int32_t channel, double& volts) = 0;
#define RV8_VIRTUAL(Result, Name, ...) virtual Result Name(RV8_CPP_PARAMS(__VA_ARGS__)) = 0;

class Rv8Driver {
  public:
    virtual ~Rv8Driver() = default;

    RV8_FUNCTIONS(RV8_VIRTUAL)
};

#undef RV8_VIRTUAL

}  // namespace rv8
