// Helpers shared by the recording-file tests: temporary folders, file bytes, and a writer
// driven the way the window drives it.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QString>
#include <QTemporaryDir>

#include "logging/WriteVelmarFileII.h"

namespace rv8::testing {

inline std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A block of `frames` frames of two channels whose values depend on the record and frame.
inline std::vector<int16_t> TestBlock(int record, int frames) {
    std::vector<int16_t> block(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        block[2 * i] = static_cast<int16_t>((record * 1000 + i * 4) - 32768);
        block[2 * i + 1] = static_cast<int16_t>(32764 - record * 8 - i * 4);
    }
    return block;
}

// Opens `path` with the window's set-up: 2 channels, the rate, ranges +-s1 and +-s2.
inline bool OpenLikeWindow(WriteVelmarFileII& w, const QString& path, double rate, double s1,
                           double s2) {
    w.ChannelCount(2);
    w.SampleRate(rate);
    w.FileName(path);
    w.SetChannelRange(s1, -s1, 0);
    w.SetChannelRange(s2, -s2, 1);
    return w.OpenFile();
}

// The settings of the window's acquisition number `record` + 1 at 20000 samples/s: channel 1
// +-1 V DC, channel 2 +-2 V AC, chop, triggered on channel 2's falling edge.
inline Acquisition TestAcquisition(int record, int frames) {
    Acquisition a;
    a.number = static_cast<uint32_t>(record + 1);
    a.endTimeUs = 1'700'000'000'000'000 + record * 1000;
    a.sampleFrequency = 20000;
    a.recordLength = frames;
    a.postSamples = frames / 2;
    a.measureMode = acq::kModeChop;
    a.triggerSource = acq::kSourceChannel2;
    a.triggerSlope = acq::kFalling;
    a.channel[0] = {1, 0.25, 0.125, acq::kDC};
    a.channel[1] = {2, -0.5, 0.25, acq::kAC};
    return a;
}

// One logging step: comment "Log comment N", event mark 1, the block (the settings unknown, the
// rate the one the file was opened with).
inline bool WriteLikeWindow(WriteVelmarFileII& w, int record, int frames) {
    const std::vector<int16_t> block = TestBlock(record, frames);
    w.AddComment(QStringLiteral("Log comment %1").arg(record));
    w.AddEventMark(1);
    return w.WriteBlock(block.data(), frames);
}

}  // namespace rv8::testing
