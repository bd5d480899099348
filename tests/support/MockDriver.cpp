#include "tests/support/MockDriver.h"

namespace rv8::testing {

MockDriver::MockDriver() = default;
MockDriver::~MockDriver() = default;

}  // namespace rv8::testing
