#include "settings/ChannelSettings.h"

#include <utility>

#include "core/Numbers.h"
#include "core/Ui.h"

namespace rv8 {

ChannelSettings::ChannelSettings(Rv8Driver& driver, ChannelControls ch1, ChannelControls ch2,
                                 QComboBox& MeasureModeCombo,
                                 std::function<void(int32_t, int32_t)> rangeChanged)
    : driver_(driver),
      ch1_(ch1),
      ch2_(ch2),
      measureMode_(MeasureModeCombo),
      rangeChanged_(std::move(rangeChanged)) {}

void ChannelSettings::SetSenseCh1DownButton_Click() {
    StepSensitivity(1, StepDirection::Down, Shown::TableEntry);
}
void ChannelSettings::SetSenseCh1UpButton_Click() {
    StepSensitivity(1, StepDirection::Up, Shown::TableEntry);
}
void ChannelSettings::SetSenseCh2DownButton_Click() {
    StepSensitivity(2, StepDirection::Down, Shown::ArgumentAfterCall);
}
void ChannelSettings::SetSenseCh2UpButton_Click() {
    StepSensitivity(2, StepDirection::Up, Shown::ArgumentAfterCall);
}

std::size_t ChannelSettings::NextRangeIndex(double r, StepDirection direction) {
    const std::size_t last = SensitivityRanges.size() - 1;
    if (direction == StepDirection::Down) {
        for (std::size_t i = last + 1; i-- > 0;) {
            if (SensitivityRanges[i] < r) return i;
        }
        return 0;
    }
    for (std::size_t i = 0; i <= last; ++i) {
        if (SensitivityRanges[i] > r) return i;
    }
    return last;
}

void ChannelSettings::StepSensitivity(int32_t channel, StepDirection direction, Shown shown) {
    double r = 0.0;
    driver_.GetSensitivity(channel, r);
    const double entry = SensitivityRanges[NextRangeIndex(r, direction)];

    double asked = entry;  // the driver may leave the range it took in here
    driver_.SetSensitivity(channel, asked);

    QLineEdit& box = channel == 1 ? ch1_.SetSenseTextBox : ch2_.SetSenseTextBox;
    WriteDisabledBox(box, FormatPlain(shown == Shown::TableEntry ? entry : asked));

    // The chart's range handler reads the box, so it runs after the write.
    if (rangeChanged_) rangeChanged_(0, 0);
}

void ChannelSettings::SetCoupCh1Combo_Click() {
    SetCoupling(1);
}
void ChannelSettings::SetCoupCh2Combo_Click() {
    SetCoupling(2);
}

// "AC" unless "DC" is picked: with no valid selection the channel is set to AC.
void ChannelSettings::SetCoupling(int32_t channel) {
    const QComboBox& combo = channel == 1 ? ch1_.SetCoupCombo : ch2_.SetCoupCombo;
    const uint8_t code = combo.currentIndex() == 1 ? 1 : 0;
    driver_.SetCoupling(channel, code);
}

void ChannelSettings::MeasureModeCombo_Click() {
    switch (measureMode_.currentIndex()) {
        case 0:
            driver_.SetMeasureMode(1);
            break;
        case 1:
            driver_.SetMeasureMode(2);
            break;
        case 2:
            driver_.SetMeasureMode(3);
            break;
        default:
            break;  // no valid pick: nothing to send
    }
}

}  // namespace rv8
