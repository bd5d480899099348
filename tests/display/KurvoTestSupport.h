// What the chart's widget tests share: a chart of the usual size and colours, pixel counts, flat
// test signals, a chart on a screen of twice the pixels, and the readout settings of a channel.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QWheelEvent>

#include <cstdint>
#include <memory>
#include <vector>

#include "display/Kurvo.h"
#include "display/KurvoMath.h"

namespace rv8::charttest {

constexpr int kW = 512;
constexpr int kH = 401;

inline std::unique_ptr<Kurvo> MakeChart() {
    auto k = std::make_unique<Kurvo>();
    k->resize(kW, kH);
    k->TraceColor(0, 0x00FF0000);  // blue
    k->TraceColor(1, 0x000000C0);  // dark red
    return k;
}

inline int CountColour(const QImage& img, const QColor& c, QRect area = QRect()) {
    if (area.isNull()) area = img.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((img.pixel(x, y) & 0xFFFFFFu) == (c.rgb() & 0xFFFFFFu)) ++n;
        }
    }
    return n;
}

// Interleaved frames: channel 1 at v1, channel 2 at v2.
inline std::vector<int16_t> Frames(int frames, int16_t v1, int16_t v2) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(v1);
        v.push_back(v2);
    }
    return v;
}

// The row a value lands on in a picture `height` rows tall over the full range.
inline int ValueToRowFor(int32_t value, int height) {
    return kurvo::ValueToRow(value, -32768, 32767, height);
}

inline void SendWheel(QWidget* w, int delta) {
    const QPointF pos(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent ev(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                   Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &ev);
}

// A chart on a screen of twice the pixels each way.
class SharpKurvo : public Kurvo {
  protected:
    int metric(PaintDeviceMetric m) const override {
        if (m == PdmDevicePixelRatio) return 2;
        if (m == PdmDevicePixelRatioScaled) return static_cast<int>(2 * devicePixelRatioFScale());
        return Kurvo::metric(m);
    }
};

// A chart with every readout setting of a 4 V channel 1 at 500000 samples/s.
inline void GiveSettings(Kurvo& k) {
    k.SampleFrequency(500000);
    k.Sensitivity(0, 4);
    k.Sensitivity(1, 0.8);
    k.RecordLength(4096);
    k.PostSamples(2048);
    k.WindowStart(2048);
    k.TriggerSource(0);
    k.TriggerLevel(0, 0.0);
}

}  // namespace rv8::charttest
