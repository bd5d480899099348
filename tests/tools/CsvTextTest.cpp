// The CSV export keeps its text byte for byte: every row is compared with the row the export
// always printed (one to_chars per number, 15 significant digits), over odd ranges, odd rates,
// every 16-bit sample value and records without samples; and with ';' and ',' the same text
// with those signs swapped in.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/tools/ToolRun.h"

namespace rv8 {
namespace {

using testing::EnvOr;
using testing::Quote;
using testing::RunTool;

std::string Number(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    return std::string(buf, res.ptr);
}

// The rows as the export printed them before it was made faster.
std::string ReferenceCsv(const RecordingReadResult& r) {
    const uint16_t channels = r.header.channelCount;
    std::string out = "record,time_s";
    for (uint16_t c = 0; c < channels; ++c)
        out += ",ch" + std::to_string(c + 1) + "_V";
    out += '\n';
    for (const RecordingRecord& rec : r.records) {
        const bool timed = std::isfinite(rec.sampleRate) && rec.sampleRate > 0;
        for (uint32_t i = 0; i < rec.frames; ++i) {
            out += std::to_string(rec.number) + ',';
            out += timed ? Number(i / rec.sampleRate) : std::string("nan");
            for (uint16_t c = 0; c < channels; ++c) {
                const ChannelRange& range = r.header.ranges[c];
                const double s = rec.samples[static_cast<std::size_t>(i) * channels + c];
                out += ',' + Number((range.upper + range.lower) / 2 +
                                    s * ((range.upper - range.lower) / 2) / 32768.0);
            }
            out += '\n';
        }
    }
    return out;
}

TEST(CsvTextTest, SameTextAsAlwaysForOddRangesRatesAndEverySample) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("odd.cvx").toStdString();
    WriteVelmarFileII w;
    w.ChannelCount(2);
    w.SampleRate(3333.3333);
    w.FileName(QString::fromStdString(file));
    w.SetChannelRange(1.5, -0.25, 0);  // asymmetric; channel 2 keeps 0 V to 0 V
    ASSERT_TRUE(w.OpenFile());
    // Every sample value on channel 1; channel 2 walks the range backwards. Records start up to
    // 999 frames in, so the block has that much more.
    std::vector<int16_t> all(2 * (65536 + 1000));
    for (int i = 0; i < 65536 + 1000; ++i) {
        all[2 * i] = static_cast<int16_t>(i - 32768);
        all[2 * i + 1] = static_cast<int16_t>(32767 - i);
    }
    const double rates[] = {3333.3333, 0, 3333.3333, std::nan(""), 48000, 1e-300, 7, -5};
    int n = 0;
    for (double rate : rates) {
        w.SampleRate(rate);
        w.AddComment(QStringLiteral("r"));
        const int frames = n == 2 ? 0 : (n % 2 == 0 ? 65536 : 1500 + n);
        ASSERT_TRUE(w.WriteBlock(all.data() + 2 * (n * 977 % 1000), frames));
        ++n;
    }
    w.CloseFile();
    const RecordingReadResult r = ReadRecording(file);
    ASSERT_TRUE(r.headerOk && !r.damagedTail);
    const std::string expected = ReferenceCsv(r);
    const std::string tool = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";

    const testing::ToolRun plain = RunTool(Quote(tool) + " export " + Quote(file));
    EXPECT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(plain.out.size(), expected.size());
    EXPECT_TRUE(plain.out == expected) << "the CSV text changed";

    std::string semicolon = expected;
    for (char& c : semicolon)
        c = c == ',' ? ';' : c == '.' ? ',' : c;
    const testing::ToolRun german =
        RunTool(Quote(tool) + " export " + Quote(file) + " --delimiter ';' --decimal ,");
    EXPECT_EQ(german.status, 0) << german.err;
    EXPECT_TRUE(german.out == semicolon) << "the ; and , text differs from the plain text";

    // The same records a second time through --records, after the caches hold other rates.
    const testing::ToolRun part =
        RunTool(Quote(tool) + " export " + Quote(file) + " --records 4-7");
    const std::size_t from = expected.find("\n4,");
    ASSERT_NE(from, std::string::npos);
    EXPECT_TRUE(part.out == "record,time_s,ch1_V,ch2_V" + expected.substr(from));
}

}  // namespace
}  // namespace rv8
