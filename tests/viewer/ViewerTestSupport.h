// Helpers of the viewer's tests: recordings made with the project's writer, and real wheel and
// mouse events on a widget.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include <QApplication>
#include <QMouseEvent>
#include <QString>
#include <QWheelEvent>

#include "core/Acquisition.h"
#include "logging/WriteVelmarFileII.h"

namespace rv8::testing {

// Settings of a recorded acquisition at `rate` samples/s: channel 1 +-4 V, channel 2 +-0.8 V,
// chop, triggered on channel 1's rising edge at 0 V, the trigger point in the middle.
inline Acquisition ViewerAcquisition(int32_t frames, double rate, uint32_t number = 1) {
    Acquisition a;
    a.number = number;
    a.endTimeUs = 1'700'000'000'000'000 + int64_t{number} * 20'000;
    a.sampleFrequency = rate;
    a.recordLength = frames;
    a.postSamples = frames / 2;
    a.measureMode = acq::kModeChop;
    a.triggerSource = acq::kSourceChannel1;
    a.triggerSlope = acq::kRising;
    a.channel[0] = {4, 0, 0.5, acq::kAC};
    a.channel[1] = {0.8, 0, 0.1, acq::kDC};
    return a;
}

// The samples of record `r` as the simulated instrument's defaults look, recorded: a 1 kHz sine
// of 1.5 V on channel 1 and a 250 Hz square of 0.3 V on channel 2, the two lowest bits cleared.
inline int16_t SignalSample(int r, int32_t i, int channel, double rate) {
    const double t = (static_cast<double>(r) * 1e-3) + i / rate;
    const double v = channel == 0 ? 1.5 / 4 * std::sin(2 * std::numbers::pi * 1000 * t)
                                  : (std::fmod(t * 250, 1.0) < 0.5 ? 0.3 : -0.3) / 0.8;
    return static_cast<int16_t>(static_cast<long>(std::lround(v * 32768)) & ~3L);
}

// Opens a recording like the window does (2 channels, +-4 V and +-0.8 V).
inline bool OpenRecording(WriteVelmarFileII& w, const QString& path, double rate) {
    w.ChannelCount(2);
    w.SampleRate(rate);
    w.SetChannelRange(4, -4, 0);
    w.SetChannelRange(0.8, -0.8, 1);
    w.FileName(path);
    return w.OpenFile();
}

// Appends record `r` of `frames` frames of the signals, with its settings.
inline bool AppendRecord(WriteVelmarFileII& w, int r, int32_t frames, double rate) {
    std::vector<int16_t> block(2 * static_cast<std::size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            block[2 * i + c] = SignalSample(r, i, c, rate);
    w.AddAcquisition(ViewerAcquisition(frames, rate, static_cast<uint32_t>(r + 1)));
    w.AddComment(QStringLiteral("Log comment %1").arg(r));
    w.AddEventMark(1);
    return w.WriteBlock(block.data(), frames);
}

inline bool MakeRecording(const QString& path, int records, int32_t frames, double rate) {
    WriteVelmarFileII w;
    if (!OpenRecording(w, path, rate)) return false;
    for (int r = 0; r < records; ++r)
        if (!AppendRecord(w, r, frames, rate)) return false;
    return w.CloseFile();
}

// A wheel turned by `notches` (positive: away from the user) at `at`, with `mods`.
inline void Wheel(QWidget* w, QPointF at, int notches, Qt::KeyboardModifiers mods = {}) {
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

inline void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button,
                  Qt::MouseButtons held, Qt::KeyboardModifiers mods) {
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, mods);
    QApplication::sendEvent(w, &e);
}

// A drag with `button` held from `from` to `to` (through the middle), with `mods`.
inline void Drag(QWidget* w, QPointF from, QPointF to, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers mods = {}) {
    Mouse(w, QEvent::MouseButtonPress, from, button, button, mods);
    Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, button, mods);
    Mouse(w, QEvent::MouseMove, to, Qt::NoButton, button, mods);
    Mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, mods);
}

}  // namespace rv8::testing
