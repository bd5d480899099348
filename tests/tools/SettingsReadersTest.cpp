// The acquisition settings each record carries, as every reader reports them: rv8rec info, the
// Python reader (read() and open()) and an HDF5 export read back with h5py. Also the documented
// version 1 example, whose settings every reader reports as unknown.
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

// One line per record from the Python reader, read() and open() alike, then from the HDF5 file.
const char kScript[] = R"(
import sys
sys.path.insert(0, sys.argv[1])
import rv8rec
def line(s):
    ch = s["channels"]
    return "%s %s %s %s %s %s %s | %s %s %s %s | %s %s %s %s" % (
        s["acquisition"], s["record_length"], s["post_samples"], s["measure_mode"],
        s["trigger_source"], s["trigger_slope"], s["written_us"] is not None,
        ch[0]["sensitivity"], ch[0]["coupling"], ch[0]["trigger_level"], ch[0]["trigger_hysteresis"],
        ch[1]["sensitivity"], ch[1]["coupling"], ch[1]["trigger_level"], ch[1]["trigger_hysteresis"])
for reader in (rv8rec.read, rv8rec.open):
    for r in reader(sys.argv[2]).records:
        print(r["number"], line(r["settings"]))
if len(sys.argv) > 3:
    import h5py
    with h5py.File(sys.argv[3], "r") as f:
        for name in sorted(f["records"]):
            a = f["records"][name].attrs
            print(name, a["acquisition"], a["record_length"], a["post_samples"], a["measure_mode"],
                  a["trigger_source"], a["trigger_slope"], list(a["sensitivity_volts"]),
                  list(a["coupling"]), list(a["trigger_level_volts"]),
                  list(a["trigger_hysteresis_volts"]), list(a["measured"]))
)";

// Channel 1 mode, channel 2 DC, a trigger level of 0.5 V on channel 1; the third record in chop.
Acquisition Settings(int record) {
    Acquisition a;
    a.number = static_cast<uint32_t>(10 + record);
    a.endTimeUs = 1'790'000'000'000'000 + record * 50'000;
    a.sampleFrequency = 100000;
    a.recordLength = 8;
    a.postSamples = 4;
    a.measureMode = record < 2 ? acq::kModeChannel1 : acq::kModeChop;
    a.triggerSource = acq::kSourceChannel1;
    a.triggerSlope = acq::kRising;
    a.channel[0] = {4, 0.5, 0.5, acq::kAC};
    a.channel[1] = {0.8, 0, 0.1, acq::kDC};
    return a;
}

TEST(SettingsReaders, EveryReaderReportsEachRecordsSettings) {
    QTemporaryDir dir;
    const std::string file = dir.filePath("settings.cvx").toStdString();
    WriteVelmarFileII w;
    ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file), 100000, 4, 0.8));
    for (int r = 0; r < 3; ++r) {
        const std::vector<int16_t> block = testing::TestBlock(r, 8);
        w.AddAcquisition(Settings(r));
        ASSERT_TRUE(w.WriteBlock(block.data(), 8));
    }
    ASSERT_TRUE(w.CloseFile());

    const std::string rv8rec = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    const testing::ToolRun info = RunTool(rv8rec + " info " + Quote(file) + " --records 1-2");
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* expected :
         {"Measure mode:    channel 1, chop\n", "Ch2 coupling:    DC\n", "Ch1 trig. level: 0.5 V\n",
          "Post-trigger:    4 samples\n",
          "Record 1: 2026-09-21 14:13:20.050000 UTC, 100000 Hz, 8 frames, 8 samples (4 after the "
          "trigger), channel 1, trigger channel 1 rising at 0.5 V (hysteresis 0.5 V), CH1 4 V "
          "AC, CH2 0.8 V DC (not measured)\n",
          "Record 2: 2026-09-21 14:13:20.100000 UTC, 100000 Hz, 8 frames, 8 samples (4 after the "
          "trigger), chop, trigger channel 1 rising at 0.5 V (hysteresis 0.5 V), CH1 4 V AC, CH2 "
          "0.8 V DC\n"}) {
        EXPECT_NE(info.out.find(expected), std::string::npos) << expected << "\n" << info.out;
    }
    EXPECT_EQ(info.out.find("Record 0:"), std::string::npos) << info.out;

    // CSV with --comments: the settings before the first record's rows and where they change.
    const testing::ToolRun csv =
        RunTool(rv8rec + " export " + Quote(file) + " --comments | grep -n '^#'");
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::string settings =
        " trigger channel 1 rising at 0.5 V (hysteresis 0.5 V), CH1 4 V "
        "AC, CH2 0.8 V DC";
    EXPECT_NE(csv.out.find("3:# channel 2 range 0.8 V to -0.8 V\n"
                           "5:# from record 0: 100000 Hz, 8 samples (4 after the trigger), "
                           "channel 1," +
                           settings +
                           " (not measured)\n"
                           "22:# from record 2: 100000 Hz, 8 samples (4 after the "
                           "trigger), chop," +
                           settings + "\n"),
              std::string::npos)
        << csv.out;

    if (RunTool(std::string(kPython) + " -c 'import numpy, h5py'").status != 0) {
        GTEST_SKIP() << kPython << " with numpy and h5py is not available";
    }
    const std::string h5 = dir.filePath("settings.h5").toStdString();
    ASSERT_EQ(RunTool(rv8rec + " export " + Quote(file) + " --format h5 -o " + Quote(h5)).status,
              0);
    const std::string script = dir.filePath("settings.py").toStdString();
    testing::WriteBytes(script, std::vector<uint8_t>(kScript, kScript + sizeof kScript - 1));
    const std::string pyDir = EnvOr("RV8_SOURCE_DIR", ".") + "/tools/python";
    const testing::ToolRun py = RunTool(std::string(kPython) + " " + Quote(script) + " " +
                                        Quote(pyDir) + " " + Quote(file) + " " + Quote(h5));
    ASSERT_EQ(py.status, 0) << py.err;
    const std::string channel1 =
        " 8 4 channel 1 channel 1 rising True | 4.0 AC 0.5 0.5 | 0.8 DC 0.0 0.1\n";
    const std::string chop =
        "12 8 4 chop channel 1 rising True | 4.0 AC 0.5 0.5 | 0.8 DC 0.0 0.1\n";
    const std::string once = "0 10" + channel1 + "1 11" + channel1 + "2 " + chop;
    const std::string h5Line =
        " 8 4 channel 1 channel 1 rising [4.0, 0.8] ['AC', 'DC'] "
        "[0.5, 0.0] [0.5, 0.1] [1, ";
    EXPECT_EQ(py.out, once + once + "000000 10" + h5Line + "0]\n000001 11" + h5Line +
                          "0]\n000002 12 8 4 chop channel 1 rising [4.0, 0.8] ['AC', 'DC'] "
                          "[0.5, 0.0] [0.5, 0.1] [1, 1]\n");
}

// The documented example of version 1: every reader reads it as before, its settings unknown.
TEST(SettingsReaders, AVersion1FileReadsWithTheSettingsUnknown) {
    const std::string file = EnvOr("RV8_SOURCE_DIR", ".") + "/tests/data/example-v1.cvx";
    const std::string rv8rec = EnvOr("RV8_BIN_DIR", "bin") + "/rv8rec";
    const testing::ToolRun csv = RunTool(rv8rec + " export " + Quote(file));
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out,
              "record,time_s,ch1_V,ch2_V\n"
              "0,0,7.62939453125e-05,-6.103515625e-06\n"
              "0,0.001,0.35552978515625,-0.1\n");
    const testing::ToolRun info = RunTool(rv8rec + " info " + Quote(file) + " --records 0");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Settings:        unknown (the records carry none)\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find(", 2 frames, settings unknown\n"), std::string::npos) << info.out;

    if (RunTool(std::string(kPython) + " -c 'import numpy'").status != 0) {
        GTEST_SKIP() << kPython << " with numpy is not available";
    }
    QTemporaryDir dir;
    const std::string script = dir.filePath("settings.py").toStdString();
    testing::WriteBytes(script, std::vector<uint8_t>(kScript, kScript + sizeof kScript - 1));
    const std::string pyDir = EnvOr("RV8_SOURCE_DIR", ".") + "/tools/python";
    const testing::ToolRun py = RunTool(std::string(kPython) + " " + Quote(script) + " " +
                                        Quote(pyDir) + " " + Quote(file));
    ASSERT_EQ(py.status, 0) << py.err;
    const std::string unknown =
        "0 None None None None None None False | None None None None | None None None None\n";
    EXPECT_EQ(py.out, unknown + unknown);
}

}  // namespace
}  // namespace rv8
