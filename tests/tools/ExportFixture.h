// The recording the export tests share (3 records of 600 frames at 48 kHz, two channels), its
// default CSV export, and the helpers to read back what other programs print.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <charconv>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/tools/ToolRun.h"

namespace rv8::exports {

using testing::EnvOr;
using testing::Quote;
using testing::RunTool;

inline constexpr char kPython[] = "/usr/bin/python3";
inline constexpr double kRate = 48000;
inline constexpr int kFrames = 600;
inline constexpr int kRecords = 3;

inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

inline std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> lines = Split(s, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

inline bool ParseDouble(const std::string& s, double& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Samples spread over the whole 16-bit range, different in every record and channel.
inline std::vector<int16_t> Block(int record) {
    std::vector<int16_t> b(2 * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        b[2 * i] = static_cast<int16_t>((i * 7919 + record * 104729) % 65536 - 32768);
        b[2 * i + 1] = static_cast<int16_t>(32767 - (i * 4099 + record * 611) % 65536);
    }
    return b;
}

class ExportReaderTest : public ::testing::Test {
  public:
    void SetUp() override {
        tool_ = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";
        file_ = path("rec.cvx");
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file_), kRate, 2, 0.5));
        for (int r = 0; r < kRecords; ++r) {
            const std::vector<int16_t> b = Block(r);
            w.AddComment(r == 1 ? QString::fromUtf8("Zweite Messung, 5 \xc2\xb5s \xe2\x98\xba")
                                : QStringLiteral("Log comment %1").arg(r));
            w.AddEventMark(r + 1);
            ASSERT_TRUE(w.WriteBlock(b.data(), kFrames));
        }
        w.CloseFile();
        rec_ = ReadRecording(file_);
        ASSERT_TRUE(rec_.headerOk);
        ASSERT_EQ(rec_.records.size(), static_cast<std::size_t>(kRecords));
        const testing::ToolRun csv = RunTool(Quote(tool_) + " export " + Quote(file_));
        ASSERT_EQ(csv.status, 0);
        csvText_ = csv.out;
        const std::vector<std::string> lines = Lines(csv.out);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + kRecords * kFrames));
        for (std::size_t k = 1; k < lines.size(); ++k)
            csv_.push_back(Split(lines[k], ','));
        testing::WriteBytes(path("reference.csv"),
                            std::vector<uint8_t>(csv.out.begin(), csv.out.end()));
    }
    std::string path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }
    testing::ToolRun exportTo(const std::string& args) const {
        return RunTool(Quote(tool_) + " export " + Quote(file_) + " " + args);
    }
    // The recording's samples of every record, one after another.
    std::vector<int16_t> allSamples() const {
        std::vector<int16_t> all;
        for (const RecordingRecord& r : rec_.records)
            all.insert(all.end(), r.samples.begin(), r.samples.end());
        return all;
    }
    // Names in the folder that an interrupted export would have left.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> out;
        for (const QString& n : QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden))
            if (n.contains(QLatin1String(".rv8rec-"))) out.push_back(n.toStdString());
        return out;
    }
    void requireProgram(const std::string& probe) const {
        if (RunTool(probe).status != 0) {
            FAIL() << "`" << probe << "` fails: install the Debian packages in scripts/lib.sh";
        }
    }

    QTemporaryDir dir_;
    std::string tool_, file_, csvText_;
    RecordingReadResult rec_;
    std::vector<std::vector<std::string>> csv_;  // record, time_s, ch1_V, ch2_V per frame
};

}  // namespace rv8::exports
