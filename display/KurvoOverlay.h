// The chart's caption layer: draws the readouts (display/KurvoReadouts.h) over the traces,
// every text on a dark backing so that no trace runs through it. Texts are set glyph by glyph
// from glyph images rendered once per character and kept, so composing a picture renders no
// text however its numbers change: it darkens the backings and blends the glyphs.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>

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

  private:
    enum class Style { Plain, Channel, Warning, MarkerDown, MarkerLeft };
    struct Glyph {
        // Format_Alpha8, cut to the pixels the glyph covers, its top left corner `dx` pixels
        // right of the pen and `dy` rows below the top of the line (null for a blank).
        QImage coverage;
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
    // What one draw works on, and the widths its first steps leave for the later ones.
    struct Layout {
        const Surface& frame;
        const Readouts& r;
        const ReadoutInputs& in;
        const std::array<uint32_t, 2>& channelText;
        int margin = 0;            // between texts and from the edges
        int top = 0;               // the first row below the trigger point marker
        int rightMarkerWidth = 0;  // of the trigger level marker at the right edge, if any
    };
    // The readouts, each kind by its own step, in the order draw() calls them (later ones
    // over earlier ones).
    void drawEdgeMarkers(Layout& at);
    void drawFootCaptions(const Layout& at);
    void drawMeasurementStrip(const Layout& at);
    void drawOverRangeNotes(const Layout& at);
    void drawSpectrumPeaks(const Layout& at);
    void drawCursor(const Layout& at);
    // Draws a text or a marker with its top left corner at (x, y); returns its box.
    Box put(const Layout& at, const TextRun& t, int x, int y);
    Box put(const Layout& at, const QImage& image, int x, int y);

    const Glyph& glyph(char16_t c, bool bold);
    TextRun text(const QString& str, Style style, uint32_t colour);
    void drawText(const Surface& frame, const TextRun& run, int x, int y);
    // The image of a marker (shared with the cache), rendered if it is not there yet.
    QImage marker(Style style, uint32_t colour);
    QImage renderMarker(Style style, uint32_t colour) const;
    void setScale(double scale);

    QHash<QString, QImage> cache_;                // markers
    std::unordered_map<uint32_t, Glyph> glyphs_;  // references stay valid as it grows
    int padX_ = 0, padY_ = 0, lineHeight_ = 0;
    double scale_ = 0.0;
    QFont font_;
    QFont bold_;
    int rendered_ = 0;
};

}  // namespace rv8::kurvo
