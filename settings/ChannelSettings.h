// Channel settings: each channel's sensitivity, stepped through SensitivityRanges from the range
// the instrument reports, its input coupling, and the measure mode.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <QComboBox>
#include <QLineEdit>

#include "driver/Rv8Driver.h"
#include "settings/Step.h"

namespace rv8 {

// The full-scale ranges, in volts, that the sensitivity buttons offer, ascending.
inline constexpr std::array<double, 9> SensitivityRanges = {0.2, 0.4, 0.8, 2, 4, 8, 20, 40, 80};

// The controls of one channel's frame.
struct ChannelControls {
    QLineEdit& SetSenseTextBox;  // SetSenseCh1TextBox / SetSenseCh2TextBox (display box)
    QComboBox& SetCoupCombo;     // SetCoupCh1Combo / SetCoupCh2Combo
};

class ChannelSettings {
  public:
    // rangeChanged is the chart's range handler (Kurvo1_RangeChanged); the sensitivity buttons
    // run it with (0, 0) once the box holds the new range.
    ChannelSettings(Rv8Driver& driver, ChannelControls ch1, ChannelControls ch2,
                    QComboBox& MeasureModeCombo,
                    std::function<void(int32_t, int32_t)> rangeChanged);

    void SetSenseCh1DownButton_Click();
    void SetSenseCh1UpButton_Click();
    void SetSenseCh2DownButton_Click();
    void SetSenseCh2UpButton_Click();

    // Connected to QComboBox::activated.
    void SetCoupCh1Combo_Click();
    void SetCoupCh2Combo_Click();
    void MeasureModeCombo_Click();

    // The index of SensitivityRanges that a step from the reported range r lands on: the largest
    // entry below r ("-", else index 0) or the smallest above it ("+", else index 8). Exact
    // comparisons; a NaN range compares false everywhere and so lands on the end of the table.
    static std::size_t NextRangeIndex(double r, StepDirection direction);

  private:
    // What the box shows after SetSensitivity: channel 1 the table entry asked for, channel 2
    // the value the driver left in the by-reference argument.
    enum class Shown { TableEntry, ArgumentAfterCall };

    void StepSensitivity(int32_t channel, StepDirection direction, Shown shown);
    void SetCoupling(int32_t channel);

    Rv8Driver& driver_;
    ChannelControls ch1_;
    ChannelControls ch2_;
    QComboBox& measureMode_;
    std::function<void(int32_t, int32_t)> rangeChanged_;
};

}  // namespace rv8
