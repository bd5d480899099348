// The simulated instrument's tests share this fixture: an instrument that measures at once, opened
// with noise-free signals unless a test says otherwise.
#pragma once

#include <gtest/gtest.h>

#include "sim/SimInstrument.h"

namespace rv8::sim {

// Noise-free signals, so that every sample can be predicted.
inline SimOptions Exact() {
    SimOptions o;
    o.signal[0] = {.shape = Shape::Sine, .frequency = 1000, .amplitude = 1.5};
    o.signal[1] = {.shape = Shape::Square, .frequency = 250, .amplitude = 0.3, .offset = 0.1};
    return o;
}

class SimInstrumentTest : public ::testing::Test {
  protected:
    void open(SimOptions o = Exact()) {
        sim.setOptions(o);
        sim.InitInstrument(776);
    }
    // Measures and checks that the measurement succeeded.
    void measure() { ASSERT_EQ(sim.StartMeasurement(), 0); }

    SimInstrument sim;
    void SetUp() override { sim.setRealTime(false); }
};

}  // namespace rv8::sim
