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
    };
    for (const Case& c : cases) {
        const testing::ToolRun r = RunTool(run(c.args));
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        for (const std::string& m : c.mentions) {
            EXPECT_NE(r.out.find(m), std::string::npos) << c.args << " lacks " << m << "\n"
                                                        << r.out;
        }
    }
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
        {"export " + Quote(small_) + " --records 5-9", 0, head},
        // Intact records first, then the failure status.
        {"export " + Quote(damaged_), 1, head + rec0},
        {"export " + Quote(notRecording_), 1, ""},
    };
    for (const Case& c : cases) {
        const testing::ToolRun r = RunTool(run(c.args));
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out, c.csv) << c.args;
    }
}

}  // namespace
}  // namespace rv8
