// Kurvo: the scope screen. Draws two channels against a 10 x 8 graticule, each against its own
// vertical range in signed raw units (-32768 bottom of the input range, 32767 top), as traces
// (PlotBuffer) or as spectra (PlotArray), and writes over them what a user needs to read them:
// the scale of the divisions, the time (or frequency) of the graticule lines, the trigger point
// and level, measurements, over-range notes, spectrum peaks and a cursor readout. The member
// names up to YMin are the ones the window has always used; the members after them hand the
// chart the settings its readouts need.
//
// The picture is drawn in the screen's pixels: on a screen with a device-pixel ratio of 2 it
// has twice the pixels each way (picture() then returns an image of that many pixels, with
// that ratio set), so traces and texts stay sharp instead of being enlarged.
//
// The chart's files (the library rv8_chart), each one concern:
//   Kurvo.h, Kurvo.cpp        this widget: its members, the plots, persistence, and composing a
//                             picture from the graticule, the traces and the captions
//   KurvoCaptions.cpp         the readouts' settings and the caption layer of a picture
//   KurvoInput.cpp            the mouse: wheel zoom, drag, the cursor readout's position
//   KurvoMath.h/.cpp          arithmetic: value to row, frames per column, min/max per column,
//                             zoom and pan of a range, trace and text colours, fading
//   KurvoRaster.h/.cpp        pixel loops on plain 32-bit rows: graticule, trace spans, fading,
//                             blending captions and glyphs
//   KurvoImage.h              a QImage's pixels as the pixel loops take them
//   KurvoReadouts.h/.cpp      what the captions say and where: scales, axis labels, trigger
//                             marks, measurement texts, over-range notes, peaks, the cursor
//   KurvoText.h/.cpp          how numbers are written: SI prefixes, times, frequencies, volts
//   KurvoOverlay.h/.cpp       draws the readouts, each text on a dark backing, from glyph images
//                             rendered once
//   Measurements.h/.cpp       measures a record: extremes, mean, rms, period, over range; finds
//                             a spectrum's peak
//   MeasureBlocks.h/.cpp      the measurements' vector loop (plain, SSE2, AVX2)
//   Spektra.h/.cpp            the spectrum component: 1024 samples to 513 amplitude bins
// and core/ChartGeometry.h: the graticule's divisions and the frames of a Scale step, shared with
// the window's controls.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QWidget>

#include "display/KurvoMath.h"
#include "display/KurvoOverlay.h"
#include "display/KurvoRaster.h"
#include "display/KurvoReadouts.h"
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
    // Text images the caption layer has rendered (it keeps them while they stay on screen).
    int captionsRendered() const { return overlay_.rendered(); }

  signals:
    // Raised once for each change of a vertical range made by the user with the mouse (wheel:
    // zoom about the centre; drag: move). Changes made through YMax/YMin raise nothing.
    void RangeChanged(int32_t a, int32_t b);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
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
    // Applies a mouse change of the shown channels' ranges; true if any range changed.
    bool applyRanges(const std::array<int32_t, 2>& mins, const std::array<int32_t, 2>& maxs);
    bool channelShown(int channel) const { return both_ || shown_ == channel; }

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
    std::array<bool, 2> shownOverRange_{false, false};  // of the last plot
    bool overRangeStale_ = true;                        // shownOverRange_ not yet found
    bool hovering_ = false;                             // the mouse is over the chart...
    QPointF cursor_;                                    // ...here (logical pixels)
    kurvo::Readouts readouts_;
    kurvo::KurvoOverlay overlay_;
};

}  // namespace rv8
