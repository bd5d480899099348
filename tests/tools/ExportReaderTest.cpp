// rv8rec export, read back by programs nobody here wrote: sigrok-cli for the sigrok session,
// sox/soxi/sndfile-info for WAV and FLAC, h5py for HDF5, Python's csv module for the
// semicolon CSV. Their values are compared with the default CSV export of the same records.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ExportFixture.h"

namespace rv8::exports {
namespace {

// sigrok-cli: channels CH1 and CH2, the rate, and the volts (it prints 6 significant digits).
void CheckSigrok(ExportReaderTest& t, const std::string& out);
// sox and soxi: channels, rate, frame count; the samples exactly.
void CheckAudio(ExportReaderTest& t, const std::string& out);
// h5py: the layout and every value.
void CheckHdf5(ExportReaderTest& t, const std::string& out);
// Python's csv module with ';' and decimal commas: the same numbers as the default CSV.
void CheckSemicolonCsv(ExportReaderTest& t, const std::string& out);

struct Reader {
    const char* name;
    std::string args;  // after "export FILE"
    const char* file;
    std::function<void(ExportReaderTest&, const std::string&)> check;
};

void CheckSigrok(ExportReaderTest& test, const std::string& out) {
    ExportReaderTest& t = test;
    t.requireProgram("sigrok-cli --version");
    const testing::ToolRun show = RunTool("sigrok-cli -i " + Quote(out) + " --show");
    EXPECT_EQ(show.status, 0) << show.err;
    for (const char* m : {"Samplerate: 48000", "- CH1: analog", "- CH2: analog"})
        EXPECT_NE(show.out.find(m), std::string::npos) << m << "\n" << show.out;
    const testing::ToolRun csv = RunTool("sigrok-cli -i " + Quote(out) + " -O csv");
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find("Channels (2/2): CH1, CH2"), std::string::npos) << csv.out;
    std::size_t row = 0;
    for (const std::string& line : Lines(csv.out)) {
        const std::vector<std::string> f = Split(line, ',');
        double a = 0, b = 0;
        if (line.empty() || line[0] == ';' || f.size() != 2 || !ParseDouble(f[0], a) ||
            !ParseDouble(f[1], b)) {
            continue;  // comments, the unit row and sigrok-cli's notes
        }
        ASSERT_LT(row, t.csv_.size());
        double e1 = 0, e2 = 0;
        ASSERT_TRUE(ParseDouble(t.csv_[row][2], e1) && ParseDouble(t.csv_[row][3], e2));
        EXPECT_NEAR(a, e1, 1e-5 * std::fabs(e1) + 1e-9) << "row " << row;
        EXPECT_NEAR(b, e2, 1e-5 * std::fabs(e2) + 1e-9) << "row " << row;
        ++row;
    }
    EXPECT_EQ(row, t.csv_.size());
}

void CheckAudio(ExportReaderTest& test, const std::string& out) {
    ExportReaderTest& t = test;
    t.requireProgram("soxi " + Quote(out));
    EXPECT_EQ(RunTool("soxi -c " + Quote(out)).out, "2\n");
    EXPECT_EQ(RunTool("soxi -r " + Quote(out)).out, "48000\n");
    EXPECT_EQ(RunTool("soxi -s " + Quote(out)).out, std::to_string(kRecords * kFrames) + "\n");
    EXPECT_EQ(RunTool("soxi -b " + Quote(out)).out, "16\n");
    const testing::ToolRun info = RunTool("sndfile-info " + Quote(out));
    EXPECT_NE(info.out.find("48000"), std::string::npos) << info.out;
    const testing::ToolRun raw =
        RunTool("sox " + Quote(out) + " -t raw -e signed-integer -b 16 -L -");
    ASSERT_EQ(raw.status, 0) << raw.err;
    const std::vector<int16_t> expected = t.allSamples();
    ASSERT_EQ(raw.out.size(), expected.size() * 2);
    std::vector<int16_t> got(expected.size());
    std::memcpy(got.data(), raw.out.data(), raw.out.size());
    EXPECT_EQ(got, expected);
    // And the volts of those samples are the CSV's, to the last printed digit.
    for (std::size_t i = 0; i < got.size(); ++i) {
        const double v = (i % 2 == 0 ? 2.0 : 0.5) * got[i] / 32768.0;
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
        ASSERT_EQ(std::string(buf, r.ptr), t.csv_[i / 2][2 + i % 2]) << "sample " << i;
    }
}

const char kH5Script[] = R"(
import csv, sys
import h5py, numpy as np
f = h5py.File(sys.argv[1], "r")
a = f.attrs
print("root", a["format_version"], a["sample_rate"], a["channel_count"], list(a["channel_names"]),
      list(a["range_upper_volts"]), list(a["range_lower_volts"]), a["record_count"],
      a["creation_time_us"], a["creation_time"])
rows = list(csv.reader(open(sys.argv[2])))[1:]
worst = 0.0
k = 0
for name in sorted(f["records"]):
    g = f["records"][name]
    s = g["samples"]
    print("record", name, g.attrs["number"], g.attrs["time_us"], g.attrs["time"],
          g.attrs["sample_rate"], g.attrs["event_mark"], g.attrs["frames"], s.shape, s.dtype,
          g.attrs["comment"])
    print("samples", name, ",".join(str(v) for v in s[()].reshape(-1)))
    volts = a["offset_volts"] + s[()].astype(np.float64) * a["volts_per_unit"]
    for frame in volts:
        for c in range(2):
            want = float(rows[k][2 + c])
            worst = max(worst, abs(frame[c] - want) / max(abs(want), 1e-300))
        k += 1
print("volts", k, worst < 1e-14)
)";

void CheckHdf5(ExportReaderTest& test, const std::string& out) {
    ExportReaderTest& t = test;
    t.requireProgram(std::string(kPython) + " -c 'import h5py'");
    const std::string script = t.path("check_h5.py");
    testing::WriteBytes(script, std::vector<uint8_t>(kH5Script, kH5Script + sizeof kH5Script - 1));
    const testing::ToolRun r = RunTool(std::string(kPython) + " " + Quote(script) + " " +
                                       Quote(out) + " " + Quote(t.path("reference.csv")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(2 + 2 * kRecords)) << r.out;
    const RecordingHeader& h = t.rec_.header;
    EXPECT_EQ(lines[0], "root 2 48000.0 2 ['CH1', 'CH2'] [2.0, 0.5] [-2.0, -0.5] 3 " +
                            std::to_string(h.creationTimeUs) + " " +
                            lines[0].substr(lines[0].rfind(' ') + 1));
    EXPECT_TRUE(lines[0].ends_with("Z")) << lines[0];
    for (int k = 0; k < kRecords; ++k) {
        const RecordingRecord& rec = t.rec_.records[k];
        char name[8];
        std::snprintf(name, sizeof name, "%06d", k);
        const std::string head = std::string("record ") + name + " " + std::to_string(k) + " " +
                                 std::to_string(rec.timeUs) + " ";
        EXPECT_TRUE(lines[1 + 2 * k].starts_with(head)) << lines[1 + 2 * k];
        EXPECT_TRUE(lines[1 + 2 * k].ends_with(" 48000.0 " + std::to_string(k + 1) +
                                               " 600 (600, 2) int16 " + rec.comment))
            << lines[1 + 2 * k];
        std::string joined;
        for (std::size_t i = 0; i < rec.samples.size(); ++i) {
            if (i > 0) joined += ',';
            joined += std::to_string(rec.samples[i]);
        }
        EXPECT_EQ(lines[2 + 2 * k], std::string("samples ") + name + " " + joined);
    }
    EXPECT_EQ(lines.back(), "volts " + std::to_string(kRecords * kFrames) + " True");
}

const char kCsvScript[] = R"(
import csv, sys
ours = list(csv.reader(open(sys.argv[1], newline=""), delimiter=";"))
ref = list(csv.reader(open(sys.argv[2], newline="")))
print("header", ";".join(ours[0]))
bad = 0
for a, b in zip(ours[1:], ref[1:]):
    if [float(x.replace(",", ".")) for x in a] != [float(x) for x in b]:
        bad += 1
print("rows", len(ours) - 1, len(ref) - 1, "mismatches", bad)
)";

void CheckSemicolonCsv(ExportReaderTest& test, const std::string& out) {
    ExportReaderTest& t = test;
    const std::string script = t.path("check_csv.py");
    testing::WriteBytes(script,
                        std::vector<uint8_t>(kCsvScript, kCsvScript + sizeof kCsvScript - 1));
    const testing::ToolRun r = RunTool(std::string(kPython) + " " + Quote(script) + " " +
                                       Quote(out) + " " + Quote(t.path("reference.csv")));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string n = std::to_string(kRecords * kFrames);
    EXPECT_EQ(r.out, "header record;time_s;ch1_V;ch2_V\nrows " + n + " " + n + " mismatches 0\n");
    const std::vector<uint8_t> bytes = testing::FileBytes(out);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("\n0;2,08333333333333e-05;"),
              std::string::npos)
        << "times carry a decimal comma";
}

TEST_F(ExportReaderTest, OtherProgramsReadTheSameValues) {
    const Reader readers[] = {
        {"sr", "--format sr", "out.sr", CheckSigrok},
        {"wav", "--format wav", "out.wav", CheckAudio},
        {"flac", "--format flac", "out.flac", CheckAudio},
        {"h5", "--format h5", "out.h5", CheckHdf5},
        {"csv ;", "--delimiter ';' --decimal ,", "out.csv", CheckSemicolonCsv},
    };
    for (const Reader& r : readers) {
        SCOPED_TRACE(r.name);
        const std::string out = path(r.file);
        const testing::ToolRun run = exportTo(r.args + " -o " + Quote(out));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "");
        r.check(*this, out);
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// The record's time is when its measurement ended: that of its last frame.
TEST_F(ExportReaderTest, AbsoluteTimesEndAtTheRecordTime) {
    const testing::ToolRun run = exportTo("--time absolute --delimiter ';' --decimal ,");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + kRecords * kFrames));
    EXPECT_EQ(lines[0], "record;time_utc;ch1_V;ch2_V");
    for (std::size_t k = 1; k < lines.size(); ++k) {
        const std::vector<std::string> f = Split(lines[k], ';');
        ASSERT_EQ(f.size(), 4u) << lines[k];
        const std::size_t rec = (k - 1) / kFrames, i = (k - 1) % kFrames;
        std::tm tm{};
        long long ns = 0;
        char z = 0;
        ASSERT_EQ(
            std::sscanf(f[1].c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%9lld%c", &tm.tm_year, &tm.tm_mon,
                        &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ns, &z),
            8)
            << f[1];
        EXPECT_EQ(z, 'Z');
        EXPECT_EQ(f[1].size(), std::string("2024-03-01T12:34:56.123456789Z").size()) << f[1];
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        const long long got = static_cast<long long>(::timegm(&tm)) * 1000000000LL + ns;
        const long long want =
            rec_.records[rec].timeUs * 1000LL - std::llround((kFrames - 1 - i) * 1e9 / kRate);
        ASSERT_EQ(got, want) << lines[k];
        EXPECT_EQ(f[0], std::to_string(rec));
        EXPECT_EQ(f[2], [&] {
            std::string s = csv_[k - 1][2];
            for (char& c : s)
                if (c == '.') c = ',';
            return s;
        }());
    }
}

// A comment holding NUL characters (the window stores what the comment box holds) keeps every
// byte in HDF5, where a variable-length string would end at the first NUL.
TEST(ExportHdf5Test, CommentWithNulKeepsEveryByte) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("nul.cvx").toStdString();
    const std::string out = dir.filePath("nul.h5").toStdString();
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), kRate, 2, 0.5));
    w.AddComment(QString::fromUtf8("ab\0cd \xc3\xa4", 8));
    const std::vector<int16_t> b = Block(0);
    ASSERT_TRUE(w.WriteBlock(b.data(), kFrames));
    w.CloseFile();
    const std::string tool = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";
    const testing::ToolRun r =
        RunTool(Quote(tool) + " export " + Quote(file) + " --format h5 -o " + Quote(out));
    ASSERT_EQ(r.status, 0) << r.err;
    const testing::ToolRun h5 =
        RunTool(std::string(kPython) + " -c " +
                Quote("import h5py, sys; c = h5py.File(sys.argv[1])['records/000000'].attrs["
                      "'comment']; print(repr(bytes(c)))") +
                " " + Quote(out));
    ASSERT_EQ(h5.status, 0) << h5.err;
    EXPECT_EQ(h5.out, "b'ab\\x00cd \\xc3\\xa4'\n");
}

}  // namespace
}  // namespace rv8::exports
