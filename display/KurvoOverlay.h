// The chart's caption layer: draws the readouts (display/KurvoReadouts.h) over the traces,
// every text on a dark backing that dims the traces under it (they stay visible) and with a dark
// rim around each glyph, so that the text reads well over them. Texts are set glyph by glyph
// from glyph images rendered once per character and kept, so composing a picture renders no
// text however its numbers change: it darkens the backings and blends the glyphs.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include <QFont>
#include <QHash>
#include <QImage>
#include <QString>

#include "display/KurvoRaster.h"
#include "display/KurvoReadouts.h"

namespace rv8::kurvo {

// Text sizes in logical pixels (the picture has `scale` pixels to each of them).
constexpr int kTextPixels = 11;

class KurvoOverlay {
  public:
    // Draws `r` onto `frame`, a picture of in.width x in.height pixels at `scale` pixels per
    // logical pixel. channelText: each channel's text colour, 0xRRGGBB.
    void draw(const Surface& frame, const Readouts& r, const ReadoutInputs& in,
              const std::array<uint32_t, 2>& channelText, double scale);

    // Glyph images rendered so far (each character once per font and pixel ratio).
    int rendered() const { return rendered_; }

    // What the last draw put where (picture pixels), for tests and tools.
    enum class Part {
        TriggerPoint,
        TriggerStatus,
        TriggerLevel,
        Hysteresis,
        Axis,
        Scale,
        Info,
        Strip,
        OverRange,
        PeakMarker,
        Peak,
        Cursor
    };
    struct Placed {
        Part part;
        int x, y, w, h;
    };
    const std::vector<Placed>& placed() const { return placed_; }

  private:
    enum class Style { Plain, Channel, Warning, MarkerDown, MarkerLeft };
    struct Glyph {
        // Format_Alpha8, cut to the pixels the glyph covers, its top left corner `dx` pixels
        // right of the pen and `dy` rows below the top of the line (null for a blank).
        QImage coverage;
        QImage halo;  // the dark rim under it, haloRadius_ larger on every side (Alpha8)
        int advance = 0;
        int dx = 0;
        int dy = 0;
    };
    // A text laid out: its box (backing included) is w x h pixels.
    struct TextRun {
        QString text;
        Style style;
        uint32_t colour;
        int w, h;
        int width() const { return w; }
        int height() const { return h; }
    };
    struct Box {
        int x, y, w, h;
        bool overlaps(const Box& o) const {
            return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h;
        }
    };
    // What one draw works on, and the room its first steps leave for the later ones.
    struct Layout {
        const Surface& frame;
        const Readouts& r;
        const ReadoutInputs& in;
        const std::array<uint32_t, 2>& channelText;
        int margin = 0;            // between texts and from the edges
        int top = 0;               // the first row below the trigger point marker
        int rightMarkerWidth = 0;  // of the trigger level marker at the right edge, if any
        int footTop = 0;           // the first row of the foot captions
        Part part = Part::Axis;    // what the step draws now
        std::vector<Box> taken{};  // texts that later ones keep clear of
    };
    // The readouts, each kind by its own step, in the order draw() calls them (later ones
    // over earlier ones).
    void drawEdgeMarkers(Layout& at);
    void drawFootCaptions(Layout& at);
    void drawMeasurementStrip(Layout& at);
    // A channel's measurements as the strip's lines (the third one empty without a period).
    static QStringList measurementLines(const ChannelReadouts& ch, int channel);
    void drawOverRangeNotes(Layout& at);
    void drawSpectrumPeaks(Layout& at);
    void drawCursor(Layout& at);
    // Moves `b` up or down as little as it takes to overlap none of `clear`, within rows
    // top..bottom - 1 (where that is not possible, it stays where it is, within them).
    static void Settle(Box& b, const std::vector<Box>& clear, int top, int bottom);
    // Draws a text or a marker with its top left corner at (x, y) as at.part; returns its box.
    Box put(Layout& at, const TextRun& t, int x, int y);
    Box put(Layout& at, const QImage& image, int x, int y);

    const Glyph& glyph(char16_t c, bool bold);
    // The glyph and its rim in `colour` (0xRRGGBB) as one premultiplied image of the rim's
    // size, made once per character, weight and colour.
    const QImage& tile(char16_t c, bool bold, uint32_t colour);
    TextRun text(const QString& str, Style style, uint32_t colour);
    void drawText(const Surface& frame, const TextRun& run, int x, int y);
    // The image of a marker (shared with the cache), rendered if it is not there yet.
    QImage marker(Style style, uint32_t colour);
    QImage renderMarker(Style style, uint32_t colour) const;
    void setScale(double scale);

    QHash<QString, QImage> cache_;                // markers
    std::unordered_map<uint32_t, Glyph> glyphs_;  // references stay valid as it grows
    std::unordered_map<uint64_t, QImage> tiles_;  // likewise
    int padX_ = 0, padY_ = 0, lineHeight_ = 0, haloRadius_ = 1;
    double scale_ = 0.0;
    QFont font_;
    QFont bold_;
    int rendered_ = 0;
    std::vector<Placed> placed_;
};

}  // namespace rv8::kurvo
