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
using testing::FileBytes;
using testing::Quote;
using testing::RunTool;
using testing::WriteBytes;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tool_ = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";
        // Two records of two frames; ranges +-2 V and +-1 V; the second at 4 Hz.
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, qpath("small.cvx"), 1000, 2, 1));
        const int16_t first[] = {16384, -32768, 0, 8192};
        const int16_t second[] = {-16384, 32764, 4, -4};
        w.AddComment(QStringLiteral("Log comment 0"));
        w.AddEventMark(1);
        ASSERT_TRUE(w.WriteBlock(first, 2));
        w.SampleRate(4);
        w.AddComment(QStringLiteral("Log comment 1"));
        w.AddEventMark(1);
        ASSERT_TRUE(w.WriteBlock(second, 2));
        w.CloseFile();
        small_ = path("small.cvx");
        const std::vector<uint8_t> bytes = FileBytes(small_);
        damaged_ = path("damaged.cvx");
        WriteBytes(damaged_, std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
        // Rates that are not finite beside ordinary ones, and only such rates.
        const auto withRates = [&](const char* name, std::initializer_list<double> rates) {
            WriteVelmarFileII odd;
            ASSERT_TRUE(testing::OpenLikeWindow(odd, qpath(name), rates.begin()[0], 2, 1));
            for (const double rate : rates) {
                odd.SampleRate(rate);
                odd.AddComment(QStringLiteral("odd"));
                ASSERT_TRUE(odd.WriteBlock(first, 2));
            }
            odd.CloseFile();
        };
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        withRates("oddrates.cvx", {nan, 100, inf, 200});
        withRates("nanrates.cvx", {nan, nan});
        notRecording_ = path("text.cvx");
        WriteBytes(notRecording_, std::vector<uint8_t>(100, 'x'));
    }
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    QString qpath(const char* name) const { return dir_.filePath(name); }
    std::string run(const std::string& args) const { return Quote(tool_) + " " + args; }

    QTemporaryDir dir_;
    std::string tool_, small_, damaged_, notRecording_;
};

TEST_F(CliTest, ExitStatusAndReport) {
    struct Case {
        std::string args;
        int status;
        std::vector<std::string> mentions;
    };
    const std::string recordOffset =
        std::to_string(recfile::HeaderSize(2) + recfile::RecordSize(13, 2, 2));
    const Case cases[] = {
        {"info " + Quote(small_),
         0,
         {"Channels:        2", "Sample rate:     1000 Hz", "Channel 1 range: 2 V to -2 V",
          "Channel 2 range: 1 V to -1 V", "Records:         2", "First record:", "Last record:",
          "Record rates:    4 Hz to 1000 Hz", "State:           intact"}},
        {"verify " + Quote(small_), 0, {"intact, 2 records"}},
        {"info " + Quote(path("oddrates.cvx")),
         0,
         {"Record rates:    100 Hz to 200 Hz; 2 records have a rate that is not a finite number"}},
        {"info " + Quote(path("nanrates.cvx")),
         0,
         {"Record rates:    none finite (2 records have a rate that is not a finite number)"}},
        {"info " + Quote(damaged_),
         1,
         {"Records:         1", "damaged tail", "byte offset " + recordOffset, "record 1"}},
        {"verify " + Quote(damaged_),
         1,
         {"DAMAGED after 1 intact records, at byte offset " + recordOffset + " (record index 1)"}},
        {"verify " + Quote(notRecording_), 1, {"DAMAGED header"}},
        {"verify " + Quote(path("missing.cvx")), 2, {}},
        {"verify " + Quote(dir_.path().toStdString()), 2, {}},
        {"", 2, {}},
        {"verify", 2, {}},
        {"frobnicate " + Quote(small_), 2, {}},
        {"export " + Quote(small_) + " --records 2-1", 2, {}},
        {"export " + Quote(small_) + " --records x", 2, {}},
        {"export " + Quote(small_) + " --records", 2, {}},
        {"--help", 0, {"rv8rec export FILE", "--format csv|sr|wav|flac|h5", "rv8rec plot FILE"}},
        {"--version", 0, {"rv8rec 1."}},
        {"export " + Quote(small_) + " --format xls", 2, {}},
        {"export " + Quote(small_) + " --format wav", 2, {}},  // a binary format needs -o
        {"export " + Quote(small_) + " --split", 2, {}},
        {"export " + Quote(small_) + " --format h5 --split -o " + Quote(path("s.h5")), 2, {}},
        {"export " + Quote(small_) + " --decimal ,", 2, {}},  // the delimiter is ',' too
        {"export " + Quote(small_) + " --decimal x", 2, {}},
        {"export " + Quote(small_) + " --delimiter 7", 2, {}},
        {"export " + Quote(small_) + " --time sometimes", 2, {}},
        {"export " + Quote(small_) + " --format h5 --delimiter ';' -o " + Quote(path("d.h5")),
         2,
         {}},
        // Never over a recording, the exported one or another.
        {"export " + Quote(small_) + " -o " + Quote(small_), 2, {}},
        {"export " + Quote(small_) + " --format wav -o " + Quote(damaged_), 2, {}},
        {"export " + Quote(small_) + " --format h5 -o " + Quote(dir_.path().toStdString()), 2, {}},
        // Output that did not get there (a full disk) is a failure, not an intact file.
        {"info " + Quote(small_) + " > /dev/full", 2, {}},
        {"verify " + Quote(small_) + " > /dev/full", 2, {}},
        {"--help > /dev/full", 2, {}},
        {"export " + Quote(small_) + " > /dev/full", 2, {}},
    };
    const std::vector<uint8_t> smallBytes = FileBytes(small_), damagedBytes = FileBytes(damaged_);
    for (const Case& c : cases) {
        const testing::ToolRun r = RunTool(run(c.args));
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        for (const std::string& m : c.mentions) {
            EXPECT_NE(r.out.find(m), std::string::npos) << c.args << " lacks " << m << "\n"
                                                        << r.out;
        }
    }
    // Refused exports leave the recordings alone.
    EXPECT_EQ(FileBytes(small_), smallBytes);
    EXPECT_EQ(FileBytes(damaged_), damagedBytes);
}

TEST_F(CliTest, ExportWritesOneRowPerFrameInVolts) {
    struct Case {
        std::string args;
        int status;
        std::string csv;
    };
    const std::string head = "record,time_s,ch1_V,ch2_V\n";
    const std::string rec0 = "0,0,1,-1\n0,0.001,0,0.25\n";
    const std::string rec1 = "1,0,-1,0.9998779296875\n1,0.25,0.000244140625,-0.0001220703125\n";
    const Case cases[] = {
        {"export " + Quote(small_), 0, head + rec0 + rec1},
        {"export " + Quote(small_) + " --records 1-1", 0, head + rec1},
        {"export --records=0 " + Quote(small_), 0, head + rec0},
        // A range without any record of the file is an error, not an empty export.
        {"export " + Quote(small_) + " --records 5-9", 2, ""},
        // Intact records first, then the failure status.
        {"export " + Quote(damaged_), 1, head + rec0},
        {"export " + Quote(notRecording_), 1, ""},
        // -o writes the same text to a file (checked below), nothing to standard output.
        {"export " + Quote(small_) + " -o " + Quote(path("out.csv")), 0, ""},
    };
    const std::vector<uint8_t> before = FileBytes(small_);
    for (const Case& c : cases) {
        const testing::ToolRun r = RunTool(run(c.args));
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.csv) << c.args;
    }
    const std::vector<uint8_t> written = FileBytes(path("out.csv"));
    EXPECT_EQ(std::string(written.begin(), written.end()), head + rec0 + rec1);
    EXPECT_EQ(FileBytes(small_), before);
}

TEST_F(CliTest, RecordRangeOutcomeIsReported) {
    struct Case {
        std::string range;
        int status;
        std::string csv;  // standard output
        std::string stderrHas;
    };
    const std::string head = "record,time_s,ch1_V,ch2_V\n";
    const std::string rec1 = "1,0,-1,0.9998779296875\n1,0.25,0.000244140625,-0.0001220703125\n";
    const Case cases[] = {
        {"999", 2, "", "no record to export (records 999; the file holds records 0-1)"},
        {"2-3", 2, "", "no record to export"},
        {"1-7", 0, head + rec1, "exported 1 record (1-1) of the records 1-7 asked for"},
        {"1", 0, head + rec1, ""},
    };
    for (const Case& c : cases) {
        const testing::ToolRun r =
            RunTool(run("export " + Quote(small_) + " --records " + c.range));
        EXPECT_EQ(r.status, c.status) << c.range;
        EXPECT_EQ(r.out, c.csv) << c.range;
        if (c.stderrHas.empty()) {
            EXPECT_EQ(r.err, "") << c.range;
        } else {
            EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << c.range << ": " << r.err;
        }
    }
}

}  // namespace
}  // namespace rv8
