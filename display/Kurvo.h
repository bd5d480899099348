// Kurvo: the scope screen. Draws two channels against a 10 x 8 graticule, each against its own
// vertical range in signed raw units (-32768 bottom of the input range, 32767 top), as traces
// (PlotBuffer) or as spectra (PlotArray), and writes over them what a user needs to read them:
// the scale of the divisions, the time (or frequency) of the graticule lines, the trigger point
// and level (with the trigger status and the hysteresis band), measurements (duty cycle and
// edges included, or their statistics on demand), over-range notes, spectrum peaks and a cursor
// readout. The member names up to YMin are the ones the window has always used; the members
// after them hand the chart the settings its readouts need.
//
// The picture is drawn in the screen's pixels: on a screen with a device-pixel ratio of 2 it
// has twice the pixels each way (picture() then returns an image of that many pixels, with
// that ratio set), so traces and texts stay sharp instead of being enlarged.
//
// The chart's files (the library rv8_chart), each one concern:
//   Kurvo.h, Kurvo.cpp        this widget: its members, the plots, persistence, and composing a
//                             picture from the graticule, the traces and the captions
//   KurvoCaptions.cpp         the readouts' settings and the caption layer of a picture
//   KurvoInput.cpp            the mouse and keys: wheel zoom, drag, the cursor readout's
//                             position, the statistics mode's S key and double click
//   KurvoMath.h/.cpp          arithmetic: value to row, frames per column, min/max per column,
//                             zoom and pan of a range, trace and text colours, fading
//   KurvoRaster.h/.cpp        pixel loops on plain 32-bit rows: graticule, trace spans, fading,
//                             blending captions and glyphs
//   KurvoImage.h              a QImage's pixels as the pixel loops take them
//   KurvoReadouts.h/.cpp      what the captions say and where: scales, axis labels, trigger
//                             marks, measurement texts, over-range notes, peaks, the cursor
//   KurvoStatistics.h/.cpp    the statistics mode: count, min, mean, max, deviation of each
//                             readout over the acquisitions since the last reset
//   KurvoText.h/.cpp          how numbers are written: SI prefixes, times, frequencies, volts
//   KurvoOverlay.h/.cpp       draws the readouts, each text on a dark backing, from glyph images
//                             rendered once
//   Measurements.h/.cpp       measures a record: extremes, mean and rms (of the record and of
//                             its whole periods), over range
//   MeasureCrossings.h        the level-crossing search: period, duty cycle, rise and fall times
//   SpectrumPeak.h/.cpp       a spectrum's largest line: between bins, below the resolution,
//                             beyond the stored range, above the noise floor
//   MeasureBlocks.h/.cpp      the measurements' vector loop (plain, SSE2, AVX2)
//   RecordReadings.h/.cpp     a measurement in volts, seconds and hertz (the strip's numbers, the
//                             viewer's and rv8rec measure's); RecordFilter.h/.cpp: rv8rec find
//   Spektra.h/.cpp            the spectrum component: 1024 samples to 513 amplitude bins
//   KurvoMarks.h/.cpp         the mark layer: cursors, their readings, dots on far-apart samples;
//                             the 32-bit plot (PlotFrames)
// and core/ChartGeometry.h: the graticule's divisions and the frames of a Scale step, shared with
// the window's controls.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QWidget>

#include "core/Acquisition.h"
#include "display/KurvoMarks.h"
#include "display/KurvoMath.h"
#include "display/KurvoOverlay.h"
#include "display/KurvoRaster.h"
#include "display/KurvoReadouts.h"
#include "display/KurvoStatistics.h"
#include "display/Measurements.h"

class QPainter;

namespace rv8 {

class Kurvo : public QWidget {
    Q_OBJECT
  public:
    explicit Kurvo(QWidget* parent = nullptr);
    ~Kurvo() override;

    // Channel drawn while BothChannels is false (0 channel 1, 1 channel 2).
    void ShownChannel(int16_t channel);
    // true: both channels drawn.
    void BothChannels(bool both);
    // Width of the time view in blocks of chart::kFramesPerScaleStep (512) frames (1 to
    // chart::kMaxScaleSteps, 32; other values limited to it; core/ChartGeometry.h); the time per
    // division follows from the frames drawn and the sample frequency.
    void HorizontalScale(int16_t scale);
    // 0 off, 1 on: earlier traces stay visible and fade.
    void PersistenceMode(int16_t mode);
    // 0..32 (other values limited to it): 0 fades at once, 32 keeps earlier traces longest.
    void PersistenceDepth(int16_t depth);
    // Draws N points per channel from an interleaved array (channel index fastest in memory),
    // stretched across the width: the spectra.
    void PlotArray(const std::vector<int16_t>& values);
    // Reads valuesPerFrame x frameCount consecutive values from `first` during the call (the
    // first two of each frame are channel 1 and channel 2) and draws frameCount points per
    // channel. Keeps no reference: the caller frees the data right after. Fewer than 2 values
    // per frame or no frames: nothing is read or drawn.
    void PlotBuffer(const int16_t& first, int16_t valuesPerFrame, int16_t frameCount);
    // Puts the chart's picture on the clipboard as an image.
    void CopyToClipboard();
    // Colour of a channel's trace, as 0x00BBGGRR.
    // Here and in YMax/YMin/ShownChannel a channel index other than 0 or 1 is ignored (the gets
    // return 0).
    void TraceColor(int16_t channel, int32_t bgr);
    int32_t YMax(int16_t channel) const;
    void YMax(int16_t channel, int32_t value);
    int32_t YMin(int16_t channel) const;
    void YMin(int16_t channel, int32_t value);

    // ---- Settings for the readouts. The window hands them over at the start of each display
    // pass, before it plots; each only marks the picture stale. Until a value is given (and
    // for values that make no sense: not positive, NaN) the readouts that need it are left out.
    // Sample frequency in force, samples per second per channel.
    void SampleFrequency(double hz);
    // A channel's full-scale range in volts (the sensitivity): raw 32768 reads that many volts.
    void Sensitivity(int16_t channel, double volts);
    // Record length and post-trigger samples in force: the instrument places the trigger point
    // at frame RecordLength - PostSamples of the record.
    void RecordLength(int32_t frames);
    void PostSamples(int32_t frames);
    // The record frame that the first point of the next PlotBuffer is (the time view's window).
    void WindowStart(int32_t frame);
    // The trigger source: 0 channel 1, 1 channel 2, anything else no trigger (no level marker).
    void TriggerSource(int16_t source);
    // A channel's trigger level in volts, marked at the right edge for the source channel.
    void TriggerLevel(int16_t channel, double volts);
    // Measurements of the whole record of the pass (display/Measurements.h), shown for each
    // shown channel in the time view; a measurement of 0 frames shows none.
    void Measurements(const measure::ChannelMeasurement& channel1,
                      const measure::ChannelMeasurement& channel2);
    // true (the default): the readouts are drawn. false: only the graticule, the traces and the
    // scale caption (what the chart drew before it had readouts).
    void Readouts(bool shown);
    // The spectrum component's amplitudes (Spektra::amplitudes(): neither rounded nor limited)
    // of the spectrum the next PlotArray draws, channel 0 or 1. Its peak is then found on them;
    // without them (or when their number differs from the plot's points) on the plotted bins,
    // which are rounded and limited to 32767. The window hands them over just before PlotArray
    // (DisplayPass::SpectrumView: `Kurvo1.SpectrumAmplitudes(0, Spektra1.amplitudes())`, and 1
    // with Spektra2's). The next PlotArray or PlotBuffer uses them up.
    void SpectrumAmplitudes(int16_t channel, std::span<const double> amplitudes);
    // The settings of the acquisition whose samples the pass shows (core/Acquisition.h), handed
    // over at the start of each display pass, before Measurements and the plot. Every value it
    // knows replaces the one the members above were given (sample frequency, sensitivities,
    // record length, post-trigger samples, trigger source and levels); besides, it gives
    // - the trigger slope and each channel's hysteresis: beside the trigger point the time view
    //   says whether the record crosses the trigger level with that slope there ("Trig'd") or
    //   not ("Auto", the instrument ran free), and the level marker shows the hysteresis band
    //   the signal must leave first (below the level for a rising slope, above it for falling);
    // - the measure mode: a channel it left out reads "CH2 not measured" and is not measured;
    // - the acquisition's number: a redraw of the same acquisition counts once in the
    //   statistics (number 0, unknown, counts every pass).
    void AcquisitionSettings(const rv8::Acquisition& acquisition);
    // The statistics mode: over the acquisitions since the last reset, the count, smallest,
    // mean, largest value and standard deviation of each readout of the measurement strip, per
    // channel (display/KurvoStatistics.h). They are kept from every Measurements call (one per
    // acquisition, see AcquisitionSettings) and shown in place of the strip while
    // StatisticsShown(true); the user toggles that with the S key on the chart or a double click
    // on the strip. ResetStatistics starts them afresh: the window calls it when a run starts
    // ("Run").
    void ResetStatistics();
    void StatisticsShown(bool shown);

    // ---- Members for records read back from a recording (the viewer, viewer/). None of them
    // changes what the members above do.
    // Draws `frames` interleaved frames (two values each, channel 1 first) as PlotBuffer does,
    // with a 32-bit count: a whole record of up to 131072 frames and more. With at least one
    // frame per pixel column each column shows the smallest and the largest value of its frames,
    // so no single-frame excursion disappears. Keeps no reference.
    void PlotFrames(const int16_t* interleaved, int32_t frames);
    // The mark layer (display/KurvoMarks.h), drawn over the traces and under the readouts, so
    // that it is in picture() and on the clipboard too: cursors at points of the last plot and
    // at rows, a box of readings, dots on far-apart samples. kurvo::Marks{} draws nothing.
    void Marks(const kurvo::Marks& marks);
    const kurvo::Marks& marks() const { return marks_; }
    // true: a channel that the acquisition's measure mode left out (AcquisitionSettings) is not
    // drawn at all, only its "not measured" note, so that its samples, which hold no
    // measurement, are not taken for 0 V. false (the default): drawn like the other channel.
    void HideUnmeasured(bool hide);
    bool hidesUnmeasured() const { return hideUnmeasured_; }

    // Read-outs for tests and tools.
    bool bothChannels() const { return both_; }
    int16_t shownChannel() const { return shown_; }
    int16_t horizontalScale() const { return hscale_; }
    int16_t persistenceMode() const { return persistMode_; }
    int16_t persistenceDepth() const { return persistDepth_; }
    QColor traceColor(int channel) const { return colors_[channel & 1]; }
    // Colour the trace is actually drawn in: traceColor lightened where it is too dark to see.
    QColor drawColor(int channel) const { return drawColors_[channel & 1]; }
    int plotCount() const { return plotCount_; }
    enum class PlotKind { None, Buffer, Array };
    PlotKind lastPlotKind() const { return lastKind_; }
    // The interleaved values (2 per point) of the last plot, as the chart took them.
    const std::vector<int16_t>& lastPlotValues() const { return lastValues_; }
    // Renders the chart as it is on screen.
    QImage picture();
    // The texts and positions of the readouts as the picture shows them now (composes it).
    const kurvo::Readouts& readouts();
    bool readoutsShown() const { return readoutsOn_; }
    double sampleFrequency() const { return sampleFrequency_; }
    double sensitivity(int channel) const { return sensitivity_[channel & 1]; }
    int32_t recordLength() const { return recordLength_; }
    int32_t postSamples() const { return postSamples_; }
    int32_t windowStart() const { return windowStart_; }
    int16_t triggerSource() const { return triggerSource_; }
    double triggerLevel(int channel) const { return triggerLevel_[channel & 1]; }
    bool statisticsShown() const { return statisticsShown_; }
    const kurvo::ChannelStatistics& statistics(int channel) const {
        return statistics_[channel & 1];
    }
    // Text images the caption layer has rendered (it keeps them while they stay on screen).
    int captionsRendered() const { return overlay_.rendered(); }
    // Where the caption layer put each text and marker (picture pixels; composes the picture).
    const std::vector<kurvo::KurvoOverlay::Placed>& captionBoxes() {
        compose();
        return overlay_.placed();
    }

  signals:
    // Raised once for each change of a vertical range made by the user with the mouse (wheel:
    // zoom about the centre; drag: move, raised when the drag ends). A drag whose release never
    // reaches the chart (a message box opened during it) ends at the next move without the
    // button held, or at the next press, and raises it then. Changes made through YMax/YMin
    // raise nothing.
    void RangeChanged(int32_t a, int32_t b);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

    QSize sizeHint() const override { return QSize(512, 401); }

  private:
    // One channel's trace as a span of rows per pixel column: what the chart draws when a plot
    // has at least one point per column.
    struct Spans {
        std::vector<int> top, bottom;
        uint32_t color = 0;
    };

    // Everything on screen is composed lazily: changes mark the picture stale and ask for a
    // paint, and the picture is composed once, at the next paint or picture().
    void invalidate();
    // Composes frame_ if it is stale (composeInto).
    void compose();
    // Composes the chart into `dst` (its size: surfaceSize()), in three layers: the graticule
    // (composeGrid), the traces over it (composeTraces) and the captions over both
    // (composeCaptions).
    void composeInto(const kurvo::Surface& dst);
    void composeGrid(const QSize& size);
    void composeTraces(const kurvo::Surface& dst);
    void composeCaptions(const kurvo::Surface& dst);
    // What every plot of frames does once it has taken its values (PlotBuffer, PlotFrames).
    void framesPlotted();
    // The mark layer (KurvoMarks.cpp), between the traces and the captions.
    void composeMarks(const kurvo::Surface& dst);
    // Composes the chart straight into the image `p` paints on, when it can; see Kurvo.cpp.
    bool paintDirect(QPainter& p, const QPaintEvent& event);
    // The shown channels' spans as the raster loops take them; returns how many.
    int spanRefs(kurvo::SpanRef* refs) const;
    // Keeps the persistence layer: a new plot fades earlier traces and draws over them; a
    // redraw for changed settings starts from an empty layer. Only with persistence on; off,
    // the traces are drawn straight over the graticule at compose time.
    void drawTraces(bool newPlot);
    // Draws the shown channels of the last plot into `layer` (black where there is no trace).
    void drawLastPlot(QImage& layer);
    void drawPolyline(QImage& layer, int channel, const int16_t* values, int points);
    // The shown channels' spans for the last plot on a w x h picture; false if it has fewer
    // points than columns (then it is drawn as a polyline) or nothing is shown.
    bool computeSpans(int w, int h);
    void buildGrid();
    void buildCaption(int width);
    void fadeTraces();
    // The picture's size in the screen's pixels, and their number per logical pixel.
    QSize surfaceSize() const;
    double pixelRatio() const;
    // Whether the last plot crosses the trigger level with the acquisition's slope at the
    // trigger point: 1 yes, -1 no, 0 unknown (no slope, no level, the point not in view).
    int triggerState(const kurvo::ReadoutInputs& in) const;
    // The readouts' inputs from the chart's state, for a picture of the given size.
    kurvo::ReadoutInputs readoutInputs(const QSize& size);
    // Sets `field` to `value` and marks the picture stale if that changes it.
    template <typename T>
    void setReadoutValue(T& field, T value) {
        if (field == value) return;
        field = value;
        invalidate();
    }
    int lastPlotPoints() const { return static_cast<int>(lastValues_.size() / 2); }
    // A drag: moves the shown channels' ranges from where they were at the press by the
    // mouse's rows since then; ends it, raising RangeChanged once if a range differs from the
    // one at the press (at the release, or at the first event that shows the release was lost).
    void panTo(const QPointF& position);
    // The cursor readout's position (logical pixels).
    void trackCursor(const QPointF& position);
    void finishDrag();
    // Applies a mouse change of the shown channels' ranges; true if any range changed.
    bool applyRanges(const std::array<int32_t, 2>& mins, const std::array<int32_t, 2>& maxs);
    bool channelShown(int channel) const { return both_ || shown_ == channel; }
    // Whether a channel's trace is drawn: shown, and not left out by HideUnmeasured.
    bool traceDrawn(int channel) const {
        return channelShown(channel) && !(hideUnmeasured_ && !channelMeasured_[channel & 1]);
    }

    bool both_ = false;
    int16_t shown_ = 0;
    int16_t hscale_ = 1;
    int16_t persistMode_ = 0;
    int16_t persistDepth_ = 0;
    std::array<QColor, 2> colors_{QColor(0, 0, 255), QColor(192, 0, 0)};
    std::array<QColor, 2> drawColors_{colors_};
    std::array<int32_t, 2> ymax_{32767, 32767};
    std::array<int32_t, 2> ymin_{-32768, -32768};
    int plotCount_ = 0;
    PlotKind lastKind_ = PlotKind::None;
    std::vector<int16_t> lastValues_;
    QImage frame_;            // the picture shown: graticule, traces and caption
    bool frameStale_ = true;  // frame_ no longer shows the state above
    QImage persistence_;  // persistence on: the last plot over the faded earlier traces, on black
    QImage grid_;         // the graticule alone, rebuilt on resize
    QImage caption_;      // the caption's text on transparent, rebuilt when it changes
    int16_t captionScale_ = 0;                 // the scale caption_ shows (0: none built)
    int captionWidth_ = 0;                     // the picture width caption_ was built for
    std::array<Spans, 2> spans_;               // per channel, reused from plot to plot
    std::vector<kurvo::MinMax> columnMinMax_;  // scratch for computeSpans
    std::vector<kurvo::RowSpan> columnSpans_;  // scratch for computeSpans
    int wheelRemainder_ = 0;  // wheel movement short of a whole notch (high-resolution wheels)
    QPoint dragStart_;
    bool dragging_ = false;
    std::array<int32_t, 2> dragMin_{}, dragMax_{};

    // The readouts' settings and state (KurvoCaptions.cpp).
    bool readoutsOn_ = true;
    double sampleFrequency_ = 0.0;
    std::array<double, 2> sensitivity_{0.0, 0.0};
    int32_t recordLength_ = 0;
    int32_t postSamples_ = 0;
    int32_t windowStart_ = 0;
    int16_t triggerSource_ = -1;
    std::array<double, 2> triggerLevel_{0.0, 0.0};
    std::array<measure::ChannelMeasurement, 2> measured_{};
    // From AcquisitionSettings.
    int8_t triggerSlope_ = acq::kUnknown;
    std::array<double, 2> hysteresis_{AcquisitionChannel::kNaN, AcquisitionChannel::kNaN};
    std::array<bool, 2> channelMeasured_{true, true};
    uint32_t acquisitionNumber_ = 0;
    // The statistics mode.
    std::array<kurvo::ChannelStatistics, 2> statistics_{};
    uint32_t countedNumber_ = 0;  // the acquisition last added to them (0: none known)
    bool statisticsShown_ = false;
    // The amplitudes handed over for the next spectrum plot, and those of the last one (empty:
    // none).
    std::array<std::vector<double>, 2> nextAmplitudes_, amplitudes_;
    std::array<measure::SpectrumPeak, 2> peaks_{};  // of the last spectrum plot
    bool peaksStale_ = true;                        // peaks_ not yet found
    bool hovering_ = false;                         // the mouse is over the chart...
    QPointF cursor_;                                // ...here (logical pixels)
    kurvo::Readouts readouts_;
    kurvo::KurvoOverlay overlay_;
    kurvo::Marks marks_;  // the mark layer's
    bool hideUnmeasured_ = false;
};

}  // namespace rv8
