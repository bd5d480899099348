// The built simulated driver library, loaded by the program's own loader and driven through the
// same interface as the real instrument.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Samples.h"
#include "driver/Rv8Library.h"
#include "sim/Signal.h"

namespace rv8 {
namespace {

const char* const kVariables[] = {"RV8SIM_SERIAL",     "RV8SIM_CALDATE", "RV8SIM_MAX_FREQ",
                                  "RV8SIM_MAX_RECLEN", "RV8SIM_SENS1",   "RV8SIM_SENS2",
                                  "RV8SIM_CH1",        "RV8SIM_CH2",     "RV8SIM_START_RESULT",
                                  "RV8SIM_ACQ_MS",     "RV8SIM_TRACE"};

QString LibraryPath() {
    return QDir(QString::fromLocal8Bit(qgetenv("RV8_SIM_DIR")))
        .filePath(QStringLiteral("librv8.so"));
}

class SimLibraryTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(qgetenv("RV8_SIM_DIR").isEmpty()) << "run through ctest";
        lib_ = new Rv8Library({LibraryPath()});
    }
    static void TearDownTestSuite() {
        delete lib_;
        lib_ = nullptr;
    }

    // Powers the simulator up with exactly these options (and no waiting for measurements).
    void init(std::map<std::string, std::string> env = {}) {
        for (const char* name : kVariables)
            unsetenv(name);
        env.emplace("RV8SIM_ACQ_MS", "0");
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        lib().InitInstrument(776);
    }
    void TearDown() override {
        for (const char* name : kVariables)
            unsetenv(name);
        if (lib_) lib_->InitInstrument(776);  // closes any trace file of the test
    }
    Rv8Library& lib() { return *lib_; }

    // The window's buffers.
    std::vector<uint16_t> ch1 = std::vector<uint16_t>(kRawBufferSamples, 0);
    std::vector<uint16_t> ch2 = std::vector<uint16_t>(kRawBufferSamples, 0);

    static Rv8Library* lib_;
};

Rv8Library* SimLibraryTest::lib_ = nullptr;

TEST_F(SimLibraryTest, ExportsEveryDriverFunction) {
    QLibrary raw(LibraryPath());
    ASSERT_TRUE(raw.load()) << raw.errorString().toStdString();
    for (const char* name :
         {"InitInstrument",        "ExitInstrument",     "GetSerialNumber",    "GetCalibrationDate",
          "GetMaxSampleFrequency", "GetMaxRecordLength", "StartMeasurement",   "GetMeasurementRaw",
          "SetMeasureMode",        "GetMeasureMode",     "SetRecordLength",    "GetRecordLength",
          "SetPostSamples",        "GetPostSamples",     "SetSampleFrequency", "GetSampleFrequency",
          "SetSensitivity",        "GetSensitivity",     "SetCoupling",        "GetCoupling",
          "SetTriggerSource",      "GetTriggerSource",   "SetTriggerMode",     "GetTriggerMode",
          "SetTriggerLevel",       "GetTriggerLevel",    "SetTriggerHys",      "GetTriggerHys",
          "SetTriggerTimeOut",     "GetTriggerTimeOut"}) {
        EXPECT_NE(raw.resolve(name), nullptr) << name;
    }
    // Its own workings stay hidden.
    EXPECT_EQ(raw.resolve("_ZN3rv83sim13SimInstrument16StartMeasurementEv"), nullptr);
}

TEST_F(SimLibraryTest, IdentityAndLimitsFollowTheOptions) {
    init({{"RV8SIM_SERIAL", "4711"},
          {"RV8SIM_CALDATE", "0x1F0C07E0"},
          {"RV8SIM_MAX_FREQ", "1000000"},
          {"RV8SIM_MAX_RECLEN", "65536"}});
    int32_t serial = 0, word = 0;
    lib().GetSerialNumber(serial);
    lib().GetCalibrationDate(word);
    EXPECT_EQ(serial, 4711);
    EXPECT_EQ(word, 0x1F0C07E0);
    EXPECT_EQ(lib().GetMaxSampleFrequency(), 1000000);
    EXPECT_EQ(lib().GetMaxRecordLength(), 65536);
    lib().SetRecordLength(130000);
    EXPECT_EQ(lib().GetRecordLength(), 65536);
}

TEST_F(SimLibraryTest, SerialZeroIsAMissingInstrument) {
    init({{"RV8SIM_SERIAL", "0"}});
    int32_t serial = 0;
    lib().GetSerialNumber(serial);
    EXPECT_EQ(serial, 0);
    EXPECT_NE(lib().StartMeasurement(), 0);
}

TEST_F(SimLibraryTest, SettingsReadBackAsTheInstrumentTookThem) {
    init();
    int32_t f = 100000;  // start-up's half of the maximum
    lib().SetSampleFrequency(f);
    EXPECT_EQ(lib().GetSampleFrequency(), 100000);
    f = 30000;  // 200000 / 7 = 28571.4 is nearer than 200000 / 6 = 33333.3
    lib().SetSampleFrequency(f);
    EXPECT_EQ(f, 28571);
    EXPECT_EQ(lib().GetSampleFrequency(), 28571);

    double volts = 0.5;
    lib().SetSensitivity(1, volts);
    EXPECT_EQ(volts, 0.8);
    volts = 120;
    lib().SetSensitivity(2, volts);
    EXPECT_EQ(volts, 80);
    double check = 0;
    lib().GetSensitivity(1, check);
    EXPECT_EQ(check, 0.8);

    lib().SetRecordLength(1024);
    lib().SetPostSamples(4096);
    EXPECT_EQ(lib().GetPostSamples(), 1024);
}

TEST_F(SimLibraryTest, RecordsAreTriggeredOnARisingZeroCrossing) {
    init({{"RV8SIM_CH1", "sine:1000:1.5"}});
    int32_t f = 100000;
    lib().SetSampleFrequency(f);
    lib().SetRecordLength(4096);
    lib().SetPostSamples(2048);
    lib().SetTriggerSource(0);
    lib().SetTriggerMode(0);
    lib().SetTriggerLevel(1, 0.0);
    for (int run = 0; run < 3; ++run) {
        ASSERT_EQ(lib().StartMeasurement(), 0);
        lib().GetMeasurementRaw(ch1[0], ch2[0]);
        EXPECT_LE(ch1[2047], 32768) << run;  // just below 0 V may round to 32768
        EXPECT_GE(ch1[2048], 32768) << run;
        EXPECT_GT(ch1[2060], ch1[2048]) << run;  // still rising a little later
    }
    EXPECT_EQ(ch1[4096], 0) << "nothing past the record length is written";
}

TEST_F(SimLibraryTest, SamplesAreQuantisedAtTheChannelsRange) {
    init({{"RV8SIM_CH1", "raw:40000"}, {"RV8SIM_CH2", "ramp"}});
    lib().SetRecordLength(1024);
    ASSERT_EQ(lib().StartMeasurement(), 0);
    lib().GetMeasurementRaw(ch1[0], ch2[0]);
    EXPECT_EQ(std::vector<uint16_t>(ch1.begin(), ch1.begin() + 1024),
              std::vector<uint16_t>(1024, 40000));
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(ch2[i], i);

    // 0.3 V on the 0.8 V range: DC coupling keeps it, AC coupling removes it.
    init({{"RV8SIM_CH2", "dc:0.3"}});
    lib().SetTriggerSource(5);
    lib().SetCoupling(2, 1);
    ASSERT_EQ(lib().StartMeasurement(), 0);
    lib().GetMeasurementRaw(ch1[0], ch2[0]);
    EXPECT_EQ(ch2[0], sim::VoltsToRaw(0.3, 0.8));
    EXPECT_EQ(ch2[0], 45056);
    lib().SetCoupling(2, 0);
    ASSERT_EQ(lib().StartMeasurement(), 0);
    lib().GetMeasurementRaw(ch1[0], ch2[0]);
    EXPECT_EQ(ch2[100], 32768);
}

TEST_F(SimLibraryTest, MeasureModeLeavesTheOtherChannelAtMidScale) {
    init();
    lib().SetMeasureMode(1);
    ASSERT_EQ(lib().StartMeasurement(), 0);
    lib().GetMeasurementRaw(ch1[0], ch2[0]);
    EXPECT_EQ(std::vector<uint16_t>(ch2.begin(), ch2.begin() + 4096),
              std::vector<uint16_t>(4096, 32768));
    EXPECT_NE(std::vector<uint16_t>(ch1.begin(), ch1.begin() + 4096),
              std::vector<uint16_t>(4096, 32768));
}

TEST_F(SimLibraryTest, StartResultFailsEveryMeasurement) {
    init({{"RV8SIM_START_RESULT", "2"}});
    EXPECT_EQ(lib().StartMeasurement(), 2);
    EXPECT_EQ(lib().StartMeasurement(), 2);
}

TEST_F(SimLibraryTest, TraceOfAShortRun) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("calls.trace"));
    init({{"RV8SIM_TRACE", path.toStdString()}, {"RV8SIM_SENS2", "0.1"}});
    int32_t serial = 0, f = 100000;
    double volts = 0;
    lib().GetSerialNumber(serial);
    lib().GetMaxSampleFrequency();
    lib().SetSampleFrequency(f);
    lib().GetSensitivity(2, volts);
    volts = 2;
    lib().SetSensitivity(1, volts);
    lib().SetTriggerLevel(2, 0.0);
    lib().SetTriggerHys(1, 0.025);
    lib().SetTriggerMode(1);
    lib().GetTriggerMode();
    ASSERT_EQ(lib().StartMeasurement(), 0);
    lib().GetMeasurementRaw(ch1[0], ch2[0]);
    lib().ExitInstrument();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(),
              "InitInstrument 776\n"
              "GetSerialNumber 0 -> 12345\n"
              "GetMaxSampleFrequency = 200000\n"
              "SetSampleFrequency 100000 -> 100000\n"
              "GetSensitivity 2 0 -> 0.1\n"
              "SetSensitivity 1 2 -> 2\n"
              "SetTriggerLevel 2 0\n"
              "SetTriggerHys 1 0.025\n"
              "SetTriggerMode 1\n"
              "GetTriggerMode = 1\n"
              "StartMeasurement = 0\n"
              "GetMeasurementRaw -> 4096\n"
              "ExitInstrument\n");
}

TEST_F(SimLibraryTest, MalformedOptionsFallBackToTheDefaults) {
    init({{"RV8SIM_MAX_FREQ", "fast"}, {"RV8SIM_SERIAL", "-"}});
    EXPECT_EQ(lib().GetMaxSampleFrequency(), 200000);
    int32_t serial = 0;
    lib().GetSerialNumber(serial);
    EXPECT_EQ(serial, 12345);
}

}  // namespace
}  // namespace rv8
