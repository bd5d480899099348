// RecordView: shows one record of a recording on the scope's chart, the way the scope's display
// pass (display/DisplayPass.cpp) shows an acquisition: the chart gets the record's settings for
// its readouts, the measurements of the record (or of the visible window) before the plot, then
// the time view's window of frames (PlotFrames: a whole record of up to 131072 frames as a
// min/max envelope) or the spectrum of 1024 samples of that window. It also keeps what the
// viewer's controls choose: the view, the channels shown, the time window, each view's vertical
// ranges, and the marks of the cursors.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/Acquisition.h"
#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "display/RecordReadings.h"
#include "display/Spektra.h"
#include "logging/RecordingFile.h"
#include "viewer/TimeAxis.h"

namespace rv8::viewer {

// The scope window's trace colours (0x00BBGGRR), so that a record looks as it did live.
constexpr int32_t kChannel1Colour = 0x00FF0000;  // blue
constexpr int32_t kChannel2Colour = 0x000000C0;  // dark red

// The settings a record's readouts use: the record's own (format version 2), or for a version 1
// record what the file knows (its rate and the channels' ranges), the rest unknown; the same as
// rv8rec measure uses.
using measure::SettingsOf;

// The 1024 samples the spectrum view transforms for a window of `count` frames from `start` of
// a record of `frames` frames: as the scope takes them from its record (from the middle on), kept
// inside the record where it is long enough.
int64_t SpectrumStartOf(int64_t start, int64_t count, int64_t frames);

class RecordView {
  public:
    enum class Mode { Time, Spectrum };

    // What the chart shows now, for the cursors and the mouse.
    struct Facts {
        bool spectrum = false;
        int64_t frames = 0;                // of the record
        TimeWindow window;                 // of the time view
        const int16_t* samples = nullptr;  // the record's frames, two interleaved values each
        Acquisition settings;
        std::array<bool, 2> measured{true, true};  // by the record's measure mode
        std::array<bool, 2> shown{true, true};     // drawn
        double triggerFrame = Acquisition::kNaN;   // the frame of the trigger point, NaN unknown
        int64_t spectrumStart = 0;                 // first of the 1024 samples transformed
        std::vector<int16_t> bins;                 // the spectrum's 2 x 513 interleaved bins
    };

    explicit RecordView(Kurvo& chart);

    // The record to show and its file's header; `record` must stay valid until the next call
    // (the viewer reads each record into the one it keeps).
    void setRecord(const RecordingRecord* record, const RecordingHeader& header);
    bool hasRecord() const { return record_ != nullptr; }

    void setMode(Mode mode);
    Mode mode() const { return mode_; }
    // Measurements over the visible window (true) or the whole record (false, as the scope).
    void setMeasureWindow(bool window);
    bool measureWindow() const { return measureWindow_; }
    // Channels drawn (at least one).
    void setShown(bool channel1, bool channel2);
    std::array<bool, 2> shown() const { return shown_; }
    // Full scale for the view shown ("Default").
    void defaultRanges();

    TimeAxis& axis() { return axis_; }
    const Facts& facts() const { return facts_; }
    Kurvo& chart() { return chart_; }

    // Hands everything to the chart.
    void refresh();

  private:
    void feedSettings();
    void measure();
    void plotTime();
    void plotSpectrum();

    Kurvo& chart_;
    Spektra spektra_[2];
    measure::Measurer measurer_;
    const RecordingRecord* record_ = nullptr;
    RecordingHeader header_;
    std::vector<int16_t> twoChannels_;  // a file of other than two channels, as two
    Mode mode_ = Mode::Time;
    bool measureWindow_ = false;
    std::array<bool, 2> shown_{true, true};
    TimeAxis axis_;
    Facts facts_;
    // Each view's vertical ranges while the other one is shown (as the scope keeps them).
    std::array<int32_t, 2> otherMin_{0, 0}, otherMax_{32768, 32768};
    // The measurements handed over last, and what they were taken of.
    std::array<measure::ChannelMeasurement, 2> measured_{};
    const RecordingRecord* measuredRecord_ = nullptr;
    TimeWindow measuredWindow_;
    bool measuredValid_ = false;
};

}  // namespace rv8::viewer
