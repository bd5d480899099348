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
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i > 0) s += ',';
        s += std::to_string(v[i]);
    }
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
    EXPECT_EQ(RunTool("PYTHONPATH=" + Quote(pyDir) + " " + std::string(kPython) + " -m rv8rec " +
                      Quote(file))
                  .status,
              1);
}

// open() reads the samples on demand: the same headers and samples as read(), as read-only arrays
// over the bytes read, not read before they are asked for; CRCs are checked only by verify() or
// check=True.
const char kOpenScript[] = R"(
import sys
sys.path.insert(0, sys.argv[1])
import numpy as np
import rv8rec
path = sys.argv[2]

def same(m, r):
    if m.header != r.header or len(m.records) != len(r.records):
        return False
    for a, b in zip(m.records, r.records):
        if {k: v for k, v in a.items() if k != "samples"} != {k: v for k, v in b.items() if k != "samples"}:
            return False
        if a["samples"].shape != b["samples"].shape or not np.array_equal(a["samples"], b["samples"]):
            return False
    return (m.damaged_tail, m.tail_offset, m.tail_index) == (r.damaged_tail, r.tail_offset, r.tail_index)

m, r = rv8rec.open(path), rv8rec.read(path)
views = all(not x["samples"].flags.owndata and not x["samples"].flags.writeable for x in m.records)
print("intact", same(m, r), views, m.checked,
      np.array_equal(rv8rec.volts(m.header, m.records[1]["samples"]),
                     rv8rec.volts(r.header, r.records[1]["samples"])))
print("verify", m.verify(), same(m, r), m.checked)
# One flipped sample byte in record 1: open() does not see it, verify() and check=True do.
with open(path, "r+b") as f:
    f.seek(r.records[1]["offset"] + 36 + len(r.records[1]["comment"]) + 3)
    b = f.read(1)
    f.seek(-1, 1)
    f.write(bytes([b[0] ^ 0x10]))
r = rv8rec.read(path)
m = rv8rec.open(path)
print("flipped", len(m.records), m.damaged_tail, len(r.records), r.damaged_tail)
print("verified", m.verify(), same(m, r), same(rv8rec.open(path, check=True), r))
)";

TEST(PythonReaderTest, OpenMapsTheFileAndVerifiesOnRequest) {
    if (RunTool(std::string(kPython) + " -c 'import numpy'").status != 0) {
        GTEST_SKIP() << kPython << " with numpy is not available";
    }
    QTemporaryDir dir;
    const std::string file = dir.filePath("open.cvx").toStdString();
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), 50000, 2, 0.5));
    ASSERT_TRUE(testing::WriteLikeWindow(w, 0, 40));
    ASSERT_TRUE(testing::WriteLikeWindow(w, 1, 25));
    w.AddComment(QString::fromUtf8("d\xc3\xa9j\xc3\xa0"));
    ASSERT_TRUE(w.WriteBlock(nullptr, 0));
    ASSERT_TRUE(testing::WriteLikeWindow(w, 3, 7));
    w.CloseFile();
    const std::vector<uint8_t> original = testing::FileBytes(file);
    const std::string script = dir.filePath("open.py").toStdString();
    testing::WriteBytes(script,
                        std::vector<uint8_t>(kOpenScript, kOpenScript + sizeof kOpenScript - 1));
    const std::string pyDir = EnvOr("RV8_SOURCE_DIR", ".") + "/tools/python";
    const std::string command =
        std::string(kPython) + " " + Quote(script) + " " + Quote(pyDir) + " " + Quote(file);
    const testing::ToolRun run = RunTool(command);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "intact True True False True\n"
              "verify True True True\n"
              "flipped 4 False 1 True\n"
              "verified False True True\n");

    // A file cut in its last record: open() finds the damaged tail without any CRC, as read() does.
    testing::WriteBytes(file, std::vector<uint8_t>(original.begin(), original.end() - 5));
    const char kCut[] = R"(
import sys
sys.path.insert(0, sys.argv[1])
import rv8rec
m, r = rv8rec.open(sys.argv[2]), rv8rec.read(sys.argv[2])
print(len(m.records), m.damaged_tail, m.tail_offset == r.tail_offset, m.tail_index == r.tail_index, m.error == r.error)
)";
    testing::WriteBytes(script, std::vector<uint8_t>(kCut, kCut + sizeof kCut - 1));
    const testing::ToolRun cut = RunTool(command);
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.out, "3 True True True True\n");
}

// Opening a long recording costs little memory: the samples stay in the file until used.
TEST(PythonReaderTest, OpenKeepsMemorySmall) {
    if (RunTool(std::string(kPython) + " -c 'import numpy'").status != 0) {
        GTEST_SKIP() << kPython << " with numpy is not available";
    }
    QTemporaryDir dir;
    const std::string file = dir.filePath("long.cvx").toStdString();
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), 1e6, 2, 0.5));
    const std::vector<int16_t> block(2 * 130000, 1234);
    constexpr int kRecords = 300;  // 156 MB
    for (int r = 0; r < kRecords; ++r) {
        w.AddComment(QStringLiteral("Log comment %1").arg(r));
        ASSERT_TRUE(w.WriteBlock(block.data(), 130000));
    }
    w.CloseFile();
    const char kScript2[] = R"(
import resource, sys
sys.path.insert(0, sys.argv[1])
import rv8rec
m = rv8rec.open(sys.argv[2])
last = m.records[-1]["samples"]
print(len(m.records), last.shape, int(last[-1, 1]), m.damaged_tail)
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
)";
    const std::string script = dir.filePath("mem.py").toStdString();
    testing::WriteBytes(script, std::vector<uint8_t>(kScript2, kScript2 + sizeof kScript2 - 1));
    const std::string pyDir = EnvOr("RV8_SOURCE_DIR", ".") + "/tools/python";
    const testing::ToolRun run = RunTool(std::string(kPython) + " " + Quote(script) + " " +
                                         Quote(pyDir) + " " + Quote(file));
    ASSERT_EQ(run.status, 0) << run.err;
    const std::size_t nl = run.out.find('\n');
    EXPECT_EQ(run.out.substr(0, nl), "300 (130000, 2) 1234 False");
    const int peakMb = std::atoi(run.out.c_str() + nl + 1);
    EXPECT_GT(peakMb, 0);
    EXPECT_LT(peakMb, 100) << "peak resident memory of open() on a 156 MB file, in MB";
}

}  // namespace
}  // namespace rv8
