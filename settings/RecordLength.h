// The record length: picking an entry of RecordlenthCombo limits the "Scale" bar to the new
// record and, when the length differs from the one in force, sets the instrument's record length
// and post-trigger samples (half the record) and reads both back.
#pragma once

#include <cstdint>

#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>

#include "core/ChartGeometry.h"
#include "driver/Rv8Driver.h"

namespace rv8 {

class RecordLength {
  public:
    RecordLength(Rv8Driver& driver, QComboBox& RecordlenthCombo, QScrollBar& HScroll3,
                 QLineEdit& GetRecordLenthTextBox, QLineEdit& GetPostSamplesText);

    // Connected to QComboBox::activated of RecordlenthCombo.
    void RecordlenthCombo_Click();

    // The values in force as the instrument last reported them; 0 until the first pick.
    int32_t recordLength() const { return recordLength_; }
    int32_t postSamples() const { return postSamples_; }

    // The widest "Scale" setting, in blocks of chart::kFramesPerScaleStep samples.
    static constexpr int kMaxScale = chart::kMaxScaleSteps;

  private:
    Rv8Driver& driver_;
    QComboBox& combo_;
    QScrollBar& scale_;
    QLineEdit& recordLengthBox_;
    QLineEdit& postSamplesBox_;
    int32_t recordLength_ = 0;
    int32_t postSamples_ = 0;
};

}  // namespace rv8
