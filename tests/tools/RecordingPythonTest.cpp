// The Python reader reads what the C++ writer writes.
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
using testing::TestBlock;

const char kPython[] = "/usr/bin/python3";

// Prints the header and every record (with all samples) in a line format easy to compare.
const char kScript[] = R"(
import sys
sys.path.insert(0, sys.argv[1])
import rv8rec
r = rv8rec.read(sys.argv[2])
h = r.header
print("header", h["channel_count"], h["sample_rate"], h["ranges"][0]["upper"],
      h["ranges"][1]["lower"], h["header_size"])
for rec in r.records:
    s = rec["samples"]
    print("record", rec["number"], rec["event_mark"], rec["sample_rate"], rec["comment"],
          s.shape[0], s.shape[1], s.dtype, ",".join(str(v) for v in s.reshape(-1)))
    if rec["frames"]:
        print("volts", ",".join("%.6f" % v for v in rv8rec.volts(h, s)[0]))
print("tail", r.damaged_tail, r.tail_offset, r.tail_index)
)";

std::string Joined(const std::vector<int16_t>& v) {
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i)
        s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

TEST(PythonReaderTest, ReadsWhatTheWriterWrote) {
    if (RunTool(std::string(kPython) + " -c 'import numpy'").status != 0) {
        GTEST_SKIP() << kPython << " with numpy is not available";
    }
    QTemporaryDir dir;
    const std::string file = dir.filePath("py.cvx").toStdString();
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), 50000, 2, 0.5));
    ASSERT_TRUE(testing::WriteLikeWindow(w, 0, 6));
    w.SampleRate(125);
    ASSERT_TRUE(testing::WriteLikeWindow(w, 1, 3));
    w.AddComment(QString::fromUtf8("d\xc3\xa9j\xc3\xa0"));
    ASSERT_TRUE(w.WriteBlock(nullptr, 0));
    w.CloseFile();

    const std::string script = dir.filePath("check.py").toStdString();
    testing::WriteBytes(script, std::vector<uint8_t>(kScript, kScript + sizeof kScript - 1));
    const std::string pyDir = EnvOr("RV8_SOURCE_DIR", ".") + "/tools/python";
    const std::string command =
        std::string(kPython) + " " + Quote(script) + " " + Quote(pyDir) + " " + Quote(file);

    const std::vector<int16_t> b0 = TestBlock(0, 6), b1 = TestBlock(1, 3);
    const auto volts = [](int16_t s1, int16_t s2) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "volts %.6f,%.6f\n", s1 * 2.0 / 32768, s2 * 0.5 / 32768);
        return std::string(buf);
    };
    const std::size_t size = recfile::HeaderSize(2) + recfile::RecordSize(13, 6, 2) +
                             recfile::RecordSize(13, 3, 2) + recfile::RecordSize(6, 0, 2);
    const std::string expected =
        "header 2 50000.0 2.0 -0.5 70\n"
        "record 0 1 50000.0 Log comment 0 6 2 int16 " +
        Joined(b0) + "\n" + volts(b0[0], b0[1]) + "record 1 1 125.0 Log comment 1 3 2 int16 " +
        Joined(b1) + "\n" + volts(b1[0], b1[1]) +
        "record 2 0 125.0 d\xc3\xa9j\xc3\xa0 0 2 int16 \n"
        "tail False " +
        std::to_string(size) + " 3\n";
    const testing::ToolRun whole = RunTool(command);
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(whole.out, expected);

    // Cut into the last record: the Python reader reports the damaged tail as the C++ one does.
    ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(size - 1)), 0);
    const RecordingReadResult cpp = ReadRecording(file);
    const testing::ToolRun cut = RunTool(command);
    EXPECT_EQ(cut.status, 0);
    EXPECT_NE(cut.out.find("record 1 1 125.0"), std::string::npos) << cut.out;
    EXPECT_EQ(cut.out.find("record 2"), std::string::npos) << cut.out;
    EXPECT_NE(cut.out.find("tail True " + std::to_string(cpp.tailOffset) + " 2\n"),
              std::string::npos)
        << cut.out;

    // The command-line summary exits 1 for the damaged file.
    EXPECT_EQ(RunTool(std::string(kPython) + " " + Quote(pyDir + "/rv8rec.py") + " " + Quote(file))
                  .status,
              1);
}

}  // namespace
}  // namespace rv8
