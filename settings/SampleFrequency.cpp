#include "settings/SampleFrequency.h"

#include "core/Numbers.h"
#include "core/Ui.h"

namespace rv8 {

SampleFrequency::SampleFrequency(Rv8Driver& driver, QLineEdit& SetSampleFreqTextBox,
                                 QLineEdit& GetSampleFreqTextBox, QLabel& MaxFreq)
    : driver_(driver),
      setBox_(SetSampleFreqTextBox),
      getBox_(GetSampleFreqTextBox),
      maxFreq_(MaxFreq) {}

int32_t SampleFrequency::BoxValue() const {
    return RoundToI32(TextToNumber(setBox_.text()));
}

void SampleFrequency::SetSampleFreqDownButton_Click() {
    Step(StepDirection::Down);
}

void SampleFrequency::SetSampleFreqUpButton_Click() {
    Step(StepDirection::Up);
}

// Halving stops at 10; doubling only happens below the maximum and is not limited here: the
// change handler limits whatever lands in the box.
void SampleFrequency::Step(StepDirection direction) {
    int32_t v = BoxValue();
    if (direction == StepDirection::Down) {
        if (v > 10) v = RoundToI32(v / 2.0);
    } else {
        if (v < driver_.GetMaxSampleFrequency()) v = SaturateToI32(2 * static_cast<int64_t>(v));
    }
    setBox_.setText(FormatSignSpace(v));
}

void SampleFrequency::SetSampleFreqTextBox_Change() {
    if (nesting_ >= kMaxNesting) return;
    struct Depth {
        int& n;
        explicit Depth(int& d) : n(d) { ++n; }
        ~Depth() { --n; }
    } depth(nesting_);

    // Writing "1" runs this handler for "1" to its end before we go on with its result.
    if (setBox_.text().isEmpty()) setBox_.setText(QStringLiteral("1"));

    int32_t v = BoxValue();
    if (v < 1) v = 1;
    const int32_t max = driver_.GetMaxSampleFrequency();
    if (v > max) v = max;

    int32_t requested = v;  // the driver may write into it; that value is not used
    driver_.SetSampleFrequency(requested);
    const int32_t f = driver_.GetSampleFrequency();

    // A write-back that changes the text runs this handler again with f; the chain ends at the
    // first run whose text already shows the frequency it reads back.
    const QString text = FormatSignSpace(f);
    getBox_.setEnabled(true);
    getBox_.setText(text);
    setBox_.setText(text);
    getBox_.setEnabled(false);

    maxFreq_.setText(FormatZeroPattern(TextToNumber(setBox_.text()) / 2));
}

}  // namespace rv8
