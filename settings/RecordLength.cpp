#include "settings/RecordLength.h"

#include <algorithm>

#include "core/Numbers.h"
#include "core/Ui.h"

namespace rv8 {

RecordLength::RecordLength(Rv8Driver& driver, QComboBox& RecordlenthCombo, QScrollBar& HScroll3,
                           QLineEdit& GetRecordLenthTextBox, QLineEdit& GetPostSamplesText)
    : driver_(driver),
      combo_(RecordlenthCombo),
      scale_(HScroll3),
      recordLengthBox_(GetRecordLenthTextBox),
      postSamplesBox_(GetPostSamplesText) {}

void RecordLength::RecordlenthCombo_Click() {
    recordLength_ = driver_.GetRecordLength();
    postSamples_ = driver_.GetPostSamples();

    const int index = combo_.currentIndex();
    if (index < 0) return;  // nothing picked: no entry to read
    const int32_t n = RoundToI32(TextToNumber(combo_.itemText(index)));

    // The time view never shows more than the record, nor more than kMaxScale blocks of
    // chart::kFramesPerScaleStep samples; re-limited on every pick, also when the length stays.
    const int maximum =
        std::min<int>(RoundToI16(n / static_cast<double>(chart::kFramesPerScaleStep)), kMaxScale);
    scale_.setMaximum(maximum);
    if (scale_.value() > scale_.maximum()) scale_.setValue(scale_.maximum());

    if (n == recordLength_) return;

    // Never leave the instrument with more post-trigger samples than its record length.
    const int32_t half = RoundToI32(n / 2.0);
    if (postSamples_ > n) {
        driver_.SetPostSamples(half);
        driver_.SetRecordLength(n);
    } else {
        driver_.SetRecordLength(n);
        driver_.SetPostSamples(half);
    }
    postSamples_ = driver_.GetPostSamples();
    recordLength_ = driver_.GetRecordLength();

    WriteDisabledBox(recordLengthBox_, FormatSignSpace(recordLength_));
    WriteDisabledBox(postSamplesBox_, FormatSignSpace(postSamples_));
}

}  // namespace rv8
