// rv8rec export for every format: which records a range selects, what a damaged tail leaves,
// and the formats that hold one whole-hertz sample rate per file.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ExportFixture.h"

namespace rv8::exports {
namespace {

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
}  // namespace rv8::exports
