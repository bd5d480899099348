// rv8rec measure and find on a recording whose records differ in known ways: every other record
// at twice the amplitude, one record with channel 2 left out by the measure mode.
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ExportFixture.h"

namespace rv8::exports {
namespace {

constexpr int kCount = 20;
constexpr int kLength = 4096;
constexpr double kHz = 100000;
constexpr int kUnmeasured = 7;  // channel 2 left out ("channel 1" mode)

// Channel 1: a 1 kHz sine of 1 V (even records) or 2 V (odd) on the 4 V range; channel 2: a
// 250 Hz square of 0.3 V on the 0.8 V range.
std::vector<int16_t> Signals(int record) {
    std::vector<int16_t> b(2 * kLength);
    const double volts = record % 2 ? 2.0 : 1.0;
    for (int i = 0; i < kLength; ++i) {
        b[2 * i] = static_cast<int16_t>(
            std::lround(volts / 4 * 32767 * std::sin(2 * std::numbers::pi * 1000 * i / kHz)));
        b[2 * i + 1] =
            static_cast<int16_t>(std::lround(((i / 200) % 2 ? 0.3 : -0.3) / 0.8 * 32767));
    }
    return b;
}

class MeasureFindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tool_ = EnvOr("RV8_BIN_DIR", ".") + "/rv8rec";
        file_ = dir_.filePath(QStringLiteral("differ.cvx")).toStdString();
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file_), kHz, 4, 0.8));
        for (int r = 0; r < kCount; ++r) {
            Acquisition a = testing::TestAcquisition(r, kLength);
            a.sampleFrequency = kHz;
            a.channel[0].sensitivity = 4;
            a.channel[1].sensitivity = 0.8;
            a.measureMode = r == kUnmeasured ? acq::kModeChannel1 : acq::kModeChop;
            w.AddAcquisition(a);
            w.AddComment(r == 3 ? QStringLiteral("a, \"quoted\" comment")
                                : QStringLiteral("Log comment %1").arg(r));
            w.AddEventMark(r % 3);
            const std::vector<int16_t> b = Signals(r);
            ASSERT_TRUE(w.WriteBlock(b.data(), kLength));
        }
        ASSERT_TRUE(w.CloseFile());
    }
    testing::ToolRun run(const std::string& args) const {
        return RunTool(Quote(tool_) + " " + args);
    }

    QTemporaryDir dir_;
    std::string tool_, file_;
};

TEST_F(MeasureFindTest, FindNamesExactlyTheRecordsTheExpressionDescribes) {
    struct Case {
        const char* where;
        const char* records;  // --records, or ""
        const char* found;    // the list printed, "" for none
    };
    const Case cases[] = {
        {"ch1.vpp > 3", "", "1,3,5,7,9,11,13,15,17,19"},
        {"ch1.vpp < 3 and record >= 10", "", "10,12,14,16,18"},
        {"ch1.freq > 990 and ch1.freq < 1010", "", "0-19"},
        {"ch1.freq>1.5k", "", ""},
        {"ch1.period == 1m or ch1.period > 0.9e-3 and ch1.period < 1.1m", "", "0-19"},
        {"not ch2.measured", "", "7"},
        {"ch2.vpp > 0", "", "0-6,8-19"},   // no reading of an unmeasured channel
        {"ch2.vpp != 0", "", "0-6,8-19"},  // not even "not equal"
        {"ch2.duty > 0.45 and ch2.duty < 0.55", "", "0-6,8-19"},
        {"record < 3 || record > 17", "", "0-2,18-19"},
        {"ch1.rms > 1.2 && !(record == 1)", "", "3,5,7,9,11,13,15,17,19"},
        {"event == 2 and not (record > 10)", "", "2,5,8"},
        {"ch3.vpp > 0", "", ""},  // the file has two channels
        {"ch1.vpp > 3", "5-9", "5,7,9"},
        {"ch1.vpp > 3", "0-2,9,14-16", "1,9,15"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        std::string args = "find " + Quote(file_) + " --where " + Quote(c.where);
        if (*c.records) args += std::string(" --records ") + c.records;
        const testing::ToolRun r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, *c.found ? std::string(c.found) + "\n" : std::string());
        if (!*c.found) continue;
        // The list is what export takes: it exports exactly those records.
        const testing::ToolRun csv =
            run("export " + Quote(file_) + " --records " + std::string(c.found));
        ASSERT_EQ(csv.status, 0) << csv.err;
        std::set<std::string> exported;
        const std::vector<std::string> lines = Lines(csv.out);
        for (std::size_t k = 1; k < lines.size(); ++k)
            exported.insert(Split(lines[k], ',')[0]);
        std::set<std::string> asked;
        for (const std::string& part : Split(c.found, ',')) {
            const std::vector<std::string> ends = Split(part, '-');
            for (int n = std::stoi(ends[0]); n <= std::stoi(ends.back()); ++n)
                asked.insert(std::to_string(n));
        }
        EXPECT_EQ(exported, asked);
    }
}

TEST_F(MeasureFindTest, AMalformedExpressionSaysWhereAndExitsTwo) {
    const std::pair<const char*, const char*> cases[] = {
        {"ch1.vpp >", "at character 10"},
        {"ch1.volts > 1",
         "unknown measurement 'volts' (freq, period, vpp, min, max, mean, rms, "
         "duty, rise, fall, over_range, measured) at character 5"},
        {"(ch1.vpp > 1", "expected ')' at character 13"},
        {"ch1.vpp > 1 and", "at character 16"},
        {"ch1.vpp 1", "unexpected '1' at character 9"},
        {"volts > 1", "unknown quantity 'volts'"},
        {"ch0.vpp > 1", "unknown quantity 'ch0.vpp'"},
        {"e > 1", "unknown quantity 'e'"},  // shorter than "chN."
        {"ch.vpp > 1", "unknown quantity 'ch.vpp'"},
        {"2 < 3", ""},  // well formed (and true for every record): not an error
        {"1.5x > ch1.vpp", "unexpected 'x' after a number at character 4"},
        {"", "found the end at character 1"},
        {"((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
         "((((((((((((((((ch1.vpp > 1",
         "nested deeper than 100 levels"},
    };
    for (const auto& [where, message] : cases) {
        SCOPED_TRACE(where);
        const testing::ToolRun r = run("find " + Quote(file_) + " --where " + Quote(where));
        if (!*message) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "0-19\n");
            continue;
        }
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(run("find " + Quote(file_)).status, 2);  // no --where
}

TEST_F(MeasureFindTest, MeasureGivesARowPerRecordInCsvAndJson) {
    const testing::ToolRun csv = run("measure " + Quote(file_));
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::vector<std::string> lines = Lines(csv.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kCount + 1));
    const std::vector<std::string> head = Split(lines[0], ',');
    const auto col = [&](const char* name) {
        const auto it = std::find(head.begin(), head.end(), name);
        EXPECT_NE(it, head.end()) << name;
        return static_cast<std::size_t>(it - head.begin());
    };
    for (int r = 0; r < kCount; ++r) {
        SCOPED_TRACE(r);
        std::vector<std::string> row = Split(lines[r + 1], ',');
        if (r == 3) {  // the quoted comment holds a comma
            ASSERT_EQ(row[2], "\"a");
            EXPECT_EQ(row[3], " \"\"quoted\"\" comment\"");
            row.erase(row.begin() + 2);
        }
        ASSERT_EQ(row.size(), head.size());
        EXPECT_EQ(row[col("record")], std::to_string(r));
        double v = 0;
        ASSERT_TRUE(ParseDouble(row[col("ch1_freq_hz")], v));
        EXPECT_NEAR(v, 1000, 0.5);
        ASSERT_TRUE(ParseDouble(row[col("ch1_vpp_v")], v));
        EXPECT_NEAR(v, r % 2 ? 4.0 : 2.0, 0.01);
        ASSERT_TRUE(ParseDouble(row[col("ch1_rms_v")], v));
        EXPECT_NEAR(v, (r % 2 ? 2.0 : 1.0) / std::sqrt(2.0), 0.005);
        EXPECT_EQ(row[col("ch1_mean_over")], "cycles");
        EXPECT_EQ(row[col("ch2_measured")], r == kUnmeasured ? "0" : "1");
        if (r == kUnmeasured) {
            EXPECT_EQ(row[col("ch2_vpp_v")], "");
        } else {
            ASSERT_TRUE(ParseDouble(row[col("ch2_duty")], v));
            EXPECT_NEAR(v, 0.5, 0.01);
        }
    }
    EXPECT_NE(csv.err.find("ch1_vpp_v"), std::string::npos) << csv.err;  // the summary

    // JSON, read by Python's own parser: every record, and a summary that leaves out the
    // record whose channel 2 was not measured.
    const testing::ToolRun json =
        run("measure " + Quote(file_) + " --format json | " + kPython +
            " -c 'import json,sys; d=json.load(sys.stdin); s=d[\"summary\"]; "
            "print(len(d[\"records\"]), s[\"ch1_vpp_v\"][\"count\"], s[\"ch2_vpp_v\"][\"count\"], "
            "\"%.2f\" % s[\"ch1_vpp_v\"][\"mean\"], d[\"records\"][3][\"comment\"], "
            "d[\"records\"][7][\"channels\"][1][\"vpp_v\"])'");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "20 20 19 3.00 a, \"quoted\" comment None\n");
}

TEST_F(MeasureFindTest, MeasureTakesBadInputAsExportDoes) {
    const std::vector<uint8_t> bytes = testing::FileBytes(file_);
    const std::string damaged = dir_.filePath(QStringLiteral("damaged.cvx")).toStdString();
    testing::WriteBytes(damaged, std::vector<uint8_t>(bytes.begin(), bytes.end() - 1));
    const std::string out = dir_.filePath(QStringLiteral("m.csv")).toStdString();
    struct Case {
        std::string args;
        int status;
        std::string stderrHas;
        int rows;  // -1: no output file
    };
    const Case cases[] = {
        {Quote(damaged), 1, "measured 19 records (0-18), the intact records before the damage", 19},
        {Quote(file_) + " --records 18-30", 0, "measured 2 records (18-19) of the records 18-30",
         2},
        {Quote(file_) + " --records 40", 2, "no record to measure", -1},
        {Quote(file_) + " --format xml", 2, "--format wants csv or json", -1},
        {Quote(file_) + " -o " + Quote(file_), 2, "recording", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        QFile::remove(QString::fromStdString(out));
        const testing::ToolRun r =
            run("measure " + c.args +
                (c.args.find(" -o ") == std::string::npos ? " -o " + Quote(out) : ""));
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
        EXPECT_EQ(QFile::exists(QString::fromStdString(out)), c.rows >= 0);
        if (c.rows >= 0) {
            const std::vector<uint8_t> text = testing::FileBytes(out);
            EXPECT_EQ(Lines(std::string(text.begin(), text.end())).size(),
                      static_cast<std::size_t>(c.rows + 1));
        }
    }
    // An intact file is measured by two threads, a damaged one record after record: the same
    // rows for the same records.
    const std::vector<std::string> both = Lines(run("measure " + Quote(file_)).out);
    const std::vector<std::string> one = Lines(run("measure " + Quote(damaged)).out);
    ASSERT_EQ(both.size(), static_cast<std::size_t>(kCount + 1));
    ASSERT_EQ(one.size(), static_cast<std::size_t>(kCount));  // the header and 19 intact rows
    EXPECT_EQ(std::vector<std::string>(both.begin(), both.begin() + kCount), one);
}

}  // namespace
}  // namespace rv8::exports
