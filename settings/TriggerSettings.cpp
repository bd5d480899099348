#include "settings/TriggerSettings.h"

#include <limits>

#include "core/Numbers.h"
#include "core/Ui.h"

namespace rv8 {

TriggerSettings::TriggerSettings(Rv8Driver& driver, TriggerControls controls)
    : driver_(driver), c_(controls) {}

void TriggerSettings::TrigLevelCh1DownButton_Click() {
    StepLevel(1, StepDirection::Down, ReadBack::Rounded);
}
void TriggerSettings::TrigLevelCh1UpButton_Click() {
    StepLevel(1, StepDirection::Up, ReadBack::AsRead);
}
void TriggerSettings::TrigLevelCh2DownButton_Click() {
    StepLevel(2, StepDirection::Down, ReadBack::AsRead);
}
void TriggerSettings::TrigLevelCh2UpButton_Click() {
    StepLevel(2, StepDirection::Up, ReadBack::AsRead);
}
void TriggerSettings::TrigHysCh1DownButton_Click() {
    StepHys(1, StepDirection::Down);
}
void TriggerSettings::TrigHysCh1UpButton_Click() {
    StepHys(1, StepDirection::Up);
}
void TriggerSettings::TrigHysCh2DownButton_Click() {
    StepHys(2, StepDirection::Down);
}
void TriggerSettings::TrigHysCh2UpButton_Click() {
    StepHys(2, StepDirection::Up);
}
void TriggerSettings::TrigTimeoutDownButton_Click() {
    StepTimeOut(StepDirection::Down);
}
void TriggerSettings::TrigTimeoutUpButton_Click() {
    StepTimeOut(StepDirection::Up);
}

// Level: from -S to +S in steps of S/10, S being the channel's range in force.
void TriggerSettings::StepLevel(int32_t channel, StepDirection direction, ReadBack shown) {
    double level = 0.0;
    driver_.GetTriggerLevel(channel, level);
    double s = 0.0;
    driver_.GetSensitivity(channel, s);

    double next;
    if (direction == StepDirection::Down) {
        next = Round3(level) - s / 10;
        if (next < -s) next = -s;
    } else {
        next = Round3(level) + s / 10;
        if (next > s) next = s;
    }
    driver_.SetTriggerLevel(channel, next);

    double readBack = 0.0;
    driver_.GetTriggerLevel(channel, readBack);
    if (shown == ReadBack::Rounded) readBack = Round3(readBack);
    QLineEdit& box = channel == 1 ? c_.TrigLevelCh1Text : c_.TrigLevelCh2Text;
    WriteDisabledBox(box, FormatSignSpace(readBack));
}

// Hysteresis: from 0 to S in steps of S/20; the box shows the value sent, not read back.
void TriggerSettings::StepHys(int32_t channel, StepDirection direction) {
    double hys = 0.0;
    driver_.GetTriggerHys(channel, hys);
    double s = 0.0;
    driver_.GetSensitivity(channel, s);

    double next;
    if (direction == StepDirection::Down) {
        next = Round3(hys) - s / 20;
        if (!(next > 0)) next = 0;
    } else {
        next = Round3(hys) + s / 20;
        if (next > s) next = s;
    }
    driver_.SetTriggerHys(channel, next);

    QLineEdit& box = channel == 1 ? c_.TrigHysCh1Text : c_.TrigHysCh2Text;
    WriteDisabledBox(box, FormatSignSpace(next));
}

int32_t TriggerSettings::TimeOutUpCandidate(int32_t f, int32_t T) {
    const double t = T * 0.001;
    if (t < 0) return 1;
    // A frequency of 0 leaves no time limit at all; a negative one gives a negative period.
    const double period =
        f == 0 ? std::numeric_limits<double>::infinity() : 10.0 / static_cast<double>(f);
    if (period >= t) return SaturateToI32(static_cast<int64_t>(T) + 1);
    return -1;
}

void TriggerSettings::StepTimeOut(StepDirection direction) {
    int32_t next;
    if (direction == StepDirection::Down) {
        const int32_t t = driver_.GetTriggerTimeOut();
        next = SaturateToI32(static_cast<int64_t>(t) - 1);
    } else {
        const int32_t f = driver_.GetSampleFrequency();
        const int32_t t = driver_.GetTriggerTimeOut();
        next = TimeOutUpCandidate(f, t);
    }
    driver_.SetTriggerTimeOut(next);
    const int32_t readBack = driver_.GetTriggerTimeOut();
    WriteDisabledBox(c_.TrigTimeOutText, FormatSignSpace(readBack));
}

// "Rising" unless "Falling" is picked.
void TriggerSettings::TrigModeCombo_Click() {
    const uint8_t code = c_.TrigModeCombo.currentIndex() == 1 ? 1 : 0;
    driver_.SetTriggerMode(code);
}

// Channel 1 -> 0, channel 2 -> 1, "No Trig" -> 5; with nothing picked nothing is sent.
void TriggerSettings::TrigSourceCombo_Click() {
    switch (c_.TrigSourceCombo.currentIndex()) {
        case 0:
            driver_.SetTriggerSource(0);
            break;
        case 1:
            driver_.SetTriggerSource(1);
            break;
        case 2:
            driver_.SetTriggerSource(5);
            break;
        default:
            break;
    }
}

}  // namespace rv8
