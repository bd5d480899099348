// rv8_make_recording: writes a recording for the export benchmark with the project's writer, the
// way the window writes it: two channels (+-4 V and +-0.8 V), a 1 kHz sine on channel 1 and a
// 250 Hz square on channel 2 quantised like the instrument (two lowest bits cleared), comment
// "Log comment N" and event mark 1 per record.
//
//   rv8_make_recording OUT.cvx RECORDS FRAMES [RATE_HZ]
//
// OUT.cvx must not exist (the writer never overwrites a file). Exit status 0 on success.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include <QString>

#include "logging/WriteVelmarFileII.h"

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fputs("usage: rv8_make_recording OUT.cvx RECORDS FRAMES [RATE_HZ]\n", stderr);
        return 2;
    }
    const long records = std::atol(argv[2]);
    const long frames = std::atol(argv[3]);
    const double rate = argc == 5 ? std::atof(argv[4]) : 1e6;
    if (records < 0 || frames < 0 || frames > INT32_MAX / 2 || !(rate > 0)) {
        std::fputs("rv8_make_recording: RECORDS and FRAMES >= 0, RATE_HZ > 0\n", stderr);
        return 2;
    }
    rv8::WriteVelmarFileII w;
    w.ChannelCount(2);
    w.SampleRate(rate);
    w.SetChannelRange(4, -4, 0);
    w.SetChannelRange(0.8, -0.8, 1);
    w.FileName(QString::fromLocal8Bit(argv[1]));
    if (!w.OpenFile()) {
        std::fprintf(stderr, "rv8_make_recording: %s\n", w.errorString().toLocal8Bit().data());
        return 2;
    }
    std::vector<int16_t> block(static_cast<std::size_t>(frames) * 2);
    const auto quantise = [](double x) {
        const long v = std::lround(std::clamp(x, -1.0, 32767.0 / 32768) * 32768);
        return static_cast<int16_t>(v & ~3L);
    };
    for (long r = 0; r < records; ++r) {
        for (long i = 0; i < frames; ++i) {
            const double t = static_cast<double>(r * frames + i) / rate;
            block[2 * i] = quantise(0.8 * std::sin(2 * std::numbers::pi * 1000 * t));
            block[2 * i + 1] = quantise(std::fmod(t * 250, 1.0) < 0.5 ? 0.6 : -0.6);
        }
        w.AddComment(QStringLiteral("Log comment %1").arg(r));
        w.AddEventMark(1);
        if (!w.WriteBlock(block.data(), static_cast<int32_t>(frames))) {
            std::fprintf(stderr, "rv8_make_recording: %s\n", w.errorString().toLocal8Bit().data());
            return 2;
        }
    }
    w.CloseFile();
    return 0;
}
