// The sample frequency: the editable box SetSampleFreqTextBox is the setting itself. Its change
// handler limits the typed value, sends it to the instrument and writes the frequency in force
// back into the box (and into the hidden read-back box), so the user always sees what the
// instrument took. The "-" and "+" buttons only rewrite the box's text.
#pragma once

#include <cstdint>

#include <QLabel>
#include <QLineEdit>

#include "driver/Rv8Driver.h"
#include "settings/Step.h"

namespace rv8 {

class SampleFrequency {
  public:
    // The window connects QLineEdit::textChanged of SetSampleFreqTextBox to
    // SetSampleFreqTextBox_Change; the handler relies on textChanged running synchronously
    // inside setText and staying silent when the text does not change.
    SampleFrequency(Rv8Driver& driver, QLineEdit& SetSampleFreqTextBox,
                    QLineEdit& GetSampleFreqTextBox, QLabel& MaxFreq);

    void SetSampleFreqDownButton_Click();
    void SetSampleFreqUpButton_Click();
    void SetSampleFreqTextBox_Change();

    // How deep the change handler may run inside its own write-backs. A sane instrument
    // settles within three levels (the empty box written as "1", the frequency taken for 1,
    // the same frequency asked for again). A driver whose reported frequency keeps changing
    // would otherwise recurse without end and overflow the stack; beyond this depth a nested
    // run returns at once and the outer runs finish normally.
    static constexpr int kMaxNesting = 8;

  private:
    void Step(StepDirection direction);
    int32_t BoxValue() const;

    Rv8Driver& driver_;
    QLineEdit& setBox_;
    QLineEdit& getBox_;
    QLabel& maxFreq_;
    int nesting_ = 0;
};

}  // namespace rv8
