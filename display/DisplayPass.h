// The display pass: turns the two raw channel buffers into the interleaved SampleBlock, hands
// the chart the settings its readouts need and the measurements of the block, draws it as traces
// (time view) or spectra (spectrum view), then hands it to the logging step. Also the chart's
// range handler, which rewrites the volt labels and redraws, and the clipboard copy.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

#include "display/Kurvo.h"
#include "display/Spektra.h"

namespace rv8 {

struct DisplayPassControls {
    Kurvo& Kurvo1;
    Spektra& Spektra1;
    Spektra& Spektra2;
    QRadioButton& Option1;  // "V-T" selected: time view
    QScrollBar& HScroll2;   // "Position"
    QScrollBar& HScroll3;   // "Scale"
    QLabel& Ymax1;
    QLabel& Ymax2;
    QLabel& Ymin1;
    QLabel& Ymin2;
    QLineEdit& SetSenseCh1TextBox;
    QLineEdit& SetSenseCh2TextBox;
    // Read for the chart's readouts at the start of each pass.
    QLineEdit& SetSampleFreqTextBox;  // the sample frequency in force
    QComboBox& TrigSourceCombo;       // channel 1, channel 2, "No Trig"
    QLineEdit& TrigLevelCh1Text;      // volts
    QLineEdit& TrigLevelCh2Text;
};

class DisplayPass {
  public:
    // The raw buffers hold `rawCapacity` samples each and live as long as this object.
    // `recordLength` and `postSamples` report the values in force; `loggingStep` receives the
    // block (frames x 2 interleaved values) at the end of every pass that got that far.
    DisplayPass(DisplayPassControls controls, const uint16_t* Ch1Raw, const uint16_t* Ch2Raw,
                int32_t rawCapacity, std::function<int32_t()> recordLength,
                std::function<int32_t()> postSamples,
                std::function<void(int16_t* block, int32_t frames)> loggingStep);

    void DisplayPaint();
    void Kurvo1_RangeChanged(int32_t a, int32_t b);
    void Command4_Click();

    // The visible window of the time view for a record of `frames` frames: the first frame
    // and the number of frames to plot (never beyond the record).
    struct Window {
        int32_t start;
        int32_t frames;
    };
    static Window TimeWindow(int32_t recordLength, int position, int positionMax, int scale);
    // First sample of the 1024 that the spectrum view transforms.
    static int32_t SpectrumStart(int32_t recordLength);

    // The instrument delivered a record into the raw buffers: from now on the chart's readouts
    // measure the buffers (before, they hold no signal, only zeros).
    void RecordFetched() { recordFetched_ = true; }

  private:
    // The chart's readout settings from the controls, and the block's measurements (before the
    // logging step masks the block), when the chart shows its readouts.
    void ReadoutSettings(int32_t reported);
    void MeasureBlock(int32_t frames);
    void TimeView(int32_t frames);
    void SpectrumView(int32_t frames);

    DisplayPassControls c_;
    const uint16_t* ch1_;
    const uint16_t* ch2_;
    int32_t capacity_;
    std::function<int32_t()> recordLength_;
    std::function<int32_t()> postSamples_;
    std::function<void(int16_t*, int32_t)> loggingStep_;
    // The SampleBlock of a pass. Its storage is kept between passes so that a pass costs no
    // allocation; its contents belong to one pass only.
    std::vector<int16_t> SampleBlock_;
    std::vector<int16_t> SpectrumBuffer_;
    measure::Measurer measurer_;
    bool recordFetched_ = false;
};

}  // namespace rv8
