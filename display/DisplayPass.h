// The display pass: turns the two raw channel buffers into the interleaved SampleBlock, hands
// the chart the settings its readouts need and the measurements of the block, draws it as traces
// (time view) or spectra (spectrum view), then hands it to the logging step. Also the chart's
// range handler, which rewrites the volt labels and redraws, and the clipboard copy.
//
// The settings the readouts and the logging step get are those of the acquisition in the raw
// buffers (RecordFetched), on every pass that shows it, a redraw included: a setting changed
// since then applies from the next acquisition on. Before the first acquisition they are the
// settings in force.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

#include "core/Acquisition.h"
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
    // The volt labels' sensitivities.
    QLineEdit& SetSenseCh1TextBox;
    QLineEdit& SetSenseCh2TextBox;
};

class DisplayPass {
  public:
    using LoggingStep =
        std::function<void(int16_t* block, int32_t frames, const Acquisition& acquisition)>;
    // The raw buffers hold `rawCapacity` samples each and live as long as this object.
    // `recordLength` reports the record length in force, `settingsInForce` the settings in force
    // (used until the first acquisition); `loggingStep` receives the block (frames x 2
    // interleaved values) and its acquisition at the end of every pass that got that far.
    DisplayPass(DisplayPassControls controls, const uint16_t* Ch1Raw, const uint16_t* Ch2Raw,
                int32_t rawCapacity, std::function<int32_t()> recordLength,
                std::function<Acquisition()> settingsInForce, LoggingStep loggingStep);

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

    // The instrument delivered a record into the raw buffers, taken with `acquisition`: the
    // passes from now on show it (before, the buffers hold no signal, only zeros, and the
    // readouts measure nothing).
    void RecordFetched(const Acquisition& acquisition) {
        acquisition_ = acquisition;
        recordFetched_ = true;
    }
    // The acquisition the passes show (settings unknown before the first one).
    const Acquisition& acquisition() const { return acquisition_; }

  private:
    // The chart's readout settings from the acquisition, and the block's measurements (before
    // the logging step masks the block), when the chart shows its readouts.
    void ReadoutSettings(const Acquisition& a);
    void MeasureBlock(int32_t frames, const Acquisition& a);
    void TimeView(int32_t frames);
    void SpectrumView(int32_t frames);

    DisplayPassControls c_;
    const uint16_t* ch1_;
    const uint16_t* ch2_;
    int32_t capacity_;
    std::function<int32_t()> recordLength_;
    std::function<Acquisition()> settingsInForce_;
    LoggingStep loggingStep_;
    Acquisition acquisition_;
    // The SampleBlock of a pass. Its storage is kept between passes so that a pass costs no
    // allocation; its contents belong to one pass only.
    std::vector<int16_t> SampleBlock_;
    std::vector<int16_t> SpectrumBuffer_;
    measure::Measurer measurer_;
    bool recordFetched_ = false;
};

}  // namespace rv8
