// rv8rec export, read back by programs nobody here wrote: sigrok-cli for the sigrok session,
// sox/soxi/sndfile-info for WAV and FLAC, h5py for HDF5, Python's csv module for the
// semicolon CSV. Their values are compared with the default CSV export of the same records.
#include <QDir>
#include <QFile>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <sstream>
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

const char kPython[] = "/usr/bin/python3";
constexpr double kRate = 48000;
constexpr int kFrames = 600;
constexpr int kRecords = 3;

std::vector<std::string> Split(const std::string& s, char sep) {
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

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> lines = Split(s, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool ParseDouble(const std::string& s, double& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// Samples spread over the whole 16-bit range, different in every record and channel.
std::vector<int16_t> Block(int record) {
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

// What happens for each format when the range holds no record, runs past the end, or the file
// has a damaged tail.
TEST_F(ExportReaderTest, RecordRangesAndDamageForEveryFormat) {
    const std::vector<uint8_t> bytes = testing::FileBytes(file_);
    const std::string damaged = path("damaged.cvx");
    testing::WriteBytes(damaged, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    struct Case {
        std::string args;
        std::string input;
        int status;
        bool written;
        std::string stderrHas;
    };
    const Case cases[] = {
        {"--records 999", file_, 2, false,
         "no record to export (records 999; the file holds records 0-2)"},
        {"--records 1-999", file_, 0, true,
         "exported 2 records (1-2) of the records 1-999 asked for"},
        {"", damaged, 1, true, "exported 2 records (0-1), the intact records before the damage"},
        {"--records 2", damaged, 1, false, "no record exported"},
    };
    for (const char* format : {"csv", "sr", "wav", "flac", "h5"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(format) + " " + c.args + " " + c.input);
            const std::string out = path(std::string("sel.") + format);
            QFile::remove(QString::fromStdString(out));
            const testing::ToolRun r =
                RunTool(Quote(tool_) + " export " + Quote(c.input) + " --format " + format + " " +
                        c.args + " -o " + Quote(out));
            EXPECT_EQ(r.status, c.status);
            EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
            // CSV keeps its header row for a damaged file without any intact record asked for.
            const bool csvHeader = std::string(format) == "csv" && c.status == 1;
            EXPECT_EQ(QFile::exists(QString::fromStdString(out)), c.written || csvHeader);
        }
    }
    EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// Files holding one whole-hertz rate: rounding, refusal and one file per record.
TEST(ExportRateTest, OneRatePerFileAndWholeHertz) {
    QTemporaryDir dir;
    const std::string tool = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";
    struct Case {
        const char* format;
        std::vector<double> rates;  // one record each
        bool split;
        int status;
        std::string stderrHas;
        std::vector<std::pair<std::string, std::string>> files;  // name, rate read back
    };
    const Case cases[] = {
        {"wav", {1000.4, 1000.4}, false, 0, "1000.4 Hz is written as 1000 Hz", {{"o.wav", "1000"}}},
        {"flac", {0, 0}, false, 2, "can't be stored", {}},
        {"sr", {48000, 44100}, false, 2, "--split", {}},
        {"wav",
         {48000, 44100},
         true,
         0,
         "",
         {{"o-000000.wav", "48000"}, {"o-000001.wav", "44100"}}},
        {"sr", {48000, 44100}, true, 0, "", {{"o-000000.sr", "48000"}, {"o-000001.sr", "44100"}}},
        // FLAC itself refuses rates above about 1 MHz: the message says so, no file is left.
        {"flac", {2e6}, false, 2, "2000000 Hz", {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " case " + std::to_string(n));
        const QString sub = QString::number(n++);
        ASSERT_TRUE(QDir(dir.path()).mkdir(sub));
        const std::string folder = dir.filePath(sub).toStdString();
        const std::string file = folder + "/r.cvx";
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), c.rates[0], 1, 1));
        for (std::size_t k = 0; k < c.rates.size(); ++k) {
            w.SampleRate(c.rates[k]);
            ASSERT_TRUE(testing::WriteLikeWindow(w, static_cast<int>(k), 100));
        }
        w.CloseFile();
        const std::string out = folder + "/o." + c.format;
        const testing::ToolRun r =
            RunTool(Quote(tool) + " export " + Quote(file) + " --format " + c.format +
                    (c.split ? " --split" : "") + " -o " + Quote(out));
        EXPECT_EQ(r.status, c.status) << r.err;
        if (!c.stderrHas.empty()) {
            EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
        }
        QStringList expected{QStringLiteral("r.cvx")};
        for (const auto& [name, rate] : c.files) {
            expected << QString::fromStdString(name);
            const std::string p = folder + "/" + name;
            const std::string got = std::string(c.format) == "sr"
                                        ? RunTool("sigrok-cli -i " + Quote(p) + " --show").out
                                        : RunTool("soxi -r " + Quote(p)).out;
            EXPECT_NE(got.find(rate), std::string::npos) << name << ": " << got;
        }
        expected.sort();
        EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden),
                  expected);
    }
}

}  // namespace
}  // namespace rv8
