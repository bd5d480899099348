// Trigger settings: source and slope lists, and the level, hysteresis and time-out steps. The
// steps start from the instrument's values (never from the boxes) and show their result in
// display boxes in sign-space format.
#pragma once

#include <cstdint>

#include <QComboBox>
#include <QLineEdit>

#include "driver/Rv8Driver.h"
#include "settings/Step.h"

namespace rv8 {

struct TriggerControls {
    QComboBox& TrigSourceCombo;
    QComboBox& TrigModeCombo;
    QLineEdit& TrigLevelCh1Text;
    QLineEdit& TrigLevelCh2Text;
    QLineEdit& TrigHysCh1Text;
    QLineEdit& TrigHysCh2Text;
    QLineEdit& TrigTimeOutText;
};

class TriggerSettings {
  public:
    TriggerSettings(Rv8Driver& driver, TriggerControls controls);

    void TrigLevelCh1DownButton_Click();
    void TrigLevelCh1UpButton_Click();
    void TrigLevelCh2DownButton_Click();
    void TrigLevelCh2UpButton_Click();
    void TrigHysCh1DownButton_Click();
    void TrigHysCh1UpButton_Click();
    void TrigHysCh2DownButton_Click();
    void TrigHysCh2UpButton_Click();
    void TrigTimeoutDownButton_Click();
    void TrigTimeoutUpButton_Click();

    // Connected to QComboBox::activated.
    void TrigModeCombo_Click();
    void TrigSourceCombo_Click();

    // The time-out the "+" button asks for, from the sample frequency f and the time-out T in
    // force: 1 when T x 0.001 is negative, T + 1 while 10 / f is at least T x 0.001, else -1.
    static int32_t TimeOutUpCandidate(int32_t f, int32_t T);

  private:
    // Only the channel-1 "-" handler rounds the level it reads back before showing it.
    enum class ReadBack { AsRead, Rounded };

    void StepLevel(int32_t channel, StepDirection direction, ReadBack shown);
    void StepHys(int32_t channel, StepDirection direction);
    void StepTimeOut(StepDirection direction);

    Rv8Driver& driver_;
    TriggerControls c_;
};

}  // namespace rv8
