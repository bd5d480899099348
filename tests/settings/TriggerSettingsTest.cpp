#include <climits>
#include <limits>

#include <gtest/gtest.h>

#include "settings/TriggerSettings.h"
#include "tests/support/MockDriver.h"

namespace rv8 {
namespace {

using ::testing::_;
using ::testing::DoubleEq;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;

class TriggerSettingsTest : public ::testing::Test {
  protected:
    TriggerSettingsTest() {
        source.addItems({"Channel 1", "Channel 2", "No Trig"});
        mode.addItems({"Rising", "Falling"});
    }
    StrictMock<testing::MockDriver> drv;
    QComboBox source, mode;
    QLineEdit level1, level2, hys1, hys2, timeout;
    TriggerSettings ts{drv, {source, mode, level1, level2, hys1, hys2, timeout}};
};

enum Handler { L1Down, L1Up, L2Down, L2Up, H1Down, H1Up, H2Down, H2Up };

struct StepCase {
    const char* name;
    Handler handler;
    double current, s, sent, readBack;
    const char* shown;
};
class LevelHysTest : public TriggerSettingsTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(LevelHysTest, StepsTheInstrumentsValueWithinTheRange) {
    const StepCase& c = GetParam();
    const int32_t channel =
        (c.handler == L1Down || c.handler == L1Up || c.handler == H1Down || c.handler == H1Up) ? 1
                                                                                               : 2;
    const bool level = c.handler <= L2Up;
    {
        InSequence seq;
        if (level) {
            EXPECT_CALL(drv, GetTriggerLevel(channel, _)).WillOnce(SetArgReferee<1>(c.current));
            EXPECT_CALL(drv, GetSensitivity(channel, _)).WillOnce(SetArgReferee<1>(c.s));
            EXPECT_CALL(drv, SetTriggerLevel(channel, DoubleEq(c.sent)));
            EXPECT_CALL(drv, GetTriggerLevel(channel, _)).WillOnce(SetArgReferee<1>(c.readBack));
        } else {
            EXPECT_CALL(drv, GetTriggerHys(channel, _)).WillOnce(SetArgReferee<1>(c.current));
            EXPECT_CALL(drv, GetSensitivity(channel, _)).WillOnce(SetArgReferee<1>(c.s));
            EXPECT_CALL(drv, SetTriggerHys(channel, DoubleEq(c.sent)));
        }
    }
    void (TriggerSettings::*handlers[])() = {&TriggerSettings::TrigLevelCh1DownButton_Click,
                                             &TriggerSettings::TrigLevelCh1UpButton_Click,
                                             &TriggerSettings::TrigLevelCh2DownButton_Click,
                                             &TriggerSettings::TrigLevelCh2UpButton_Click,
                                             &TriggerSettings::TrigHysCh1DownButton_Click,
                                             &TriggerSettings::TrigHysCh1UpButton_Click,
                                             &TriggerSettings::TrigHysCh2DownButton_Click,
                                             &TriggerSettings::TrigHysCh2UpButton_Click};
    (ts.*handlers[c.handler])();
    QLineEdit* boxes[] = {&level1, &level1, &level2, &level2, &hys1, &hys1, &hys2, &hys2};
    EXPECT_EQ(boxes[c.handler]->text(), c.shown);
    EXPECT_FALSE(boxes[c.handler]->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Table, LevelHysTest,
    ::testing::Values(
        StepCase{"LevelUpLimited", L1Up, 3.9, 4, 4, 4, " 4"},
        StepCase{"LevelDownLimited", L2Down, -3.9, 4, -4, -4, "-4"},
        StepCase{"LevelRoundedBeforeStep", L2Up, 0.1234, 4, 0.523, 0.523, " .523"},
        StepCase{"Ch1DownRoundsReadBack", L1Down, 0.1234, 4, -0.277, 0.12345, " .123"},
        StepCase{"Ch1UpShowsReadBackAsRead", L1Up, 0, 4, 0.4, 0.12345, " .12345"},
        StepCase{"Ch2DownShowsReadBackAsRead", L2Down, 0, 4, -0.4, 0.12345, " .12345"},
        StepCase{"Ch2UpShowsReadBackAsRead", L2Up, 0, 4, 0.4, 0.12345, " .12345"},
        StepCase{"HysDownNotAboveZero", H1Down, 0.1, 4, 0, 0, " 0"},
        StepCase{"HysDownFromNaN", H1Down, std::numeric_limits<double>::quiet_NaN(), 4, 0, 0, " 0"},
        StepCase{"HysDownToExactlyZero", H2Down, 0.2, 4, 0, 0, " 0"},
        StepCase{"HysDownShowsValueSent", H2Down, 0.5, 4, 0.3, 0, " .3"},
        StepCase{"HysUpLimited", H1Up, 3.9, 4, 4, 0, " 4"},
        StepCase{"HysUpRoundedBeforeStep", H2Up, 0.1234, 4, 0.323, 0, " .323"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TimeOutCase {
    const char* name;
    bool up;
    int32_t f, t, sent;
};
class TimeOutTest : public TriggerSettingsTest,
                    public ::testing::WithParamInterface<TimeOutCase> {};

TEST_P(TimeOutTest, SendsTheNextValueAndShowsTheOneReadBack) {
    const TimeOutCase& c = GetParam();
    {
        InSequence seq;
        if (c.up) EXPECT_CALL(drv, GetSampleFrequency()).WillOnce(Return(c.f));
        EXPECT_CALL(drv, GetTriggerTimeOut()).WillOnce(Return(c.t));
        EXPECT_CALL(drv, SetTriggerTimeOut(c.sent));
        EXPECT_CALL(drv, GetTriggerTimeOut()).WillOnce(Return(-7));
    }
    c.up ? ts.TrigTimeoutUpButton_Click() : ts.TrigTimeoutDownButton_Click();
    EXPECT_EQ(timeout.text(), "-7");
    EXPECT_FALSE(timeout.isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeOutTest,
    ::testing::Values(TimeOutCase{"DownFromZero", false, 0, 0, -1},
                      TimeOutCase{"DownAtMinimum", false, 0, INT32_MIN, INT32_MIN},
                      TimeOutCase{"UpNegative", true, 1000, -5, 1},
                      TimeOutCase{"UpSmall", true, 1000, 5, 6},
                      TimeOutCase{"UpAtBoundary", true, 1000, 10, 11},
                      TimeOutCase{"UpLarge", true, 1000, 20, -1},
                      TimeOutCase{"UpZeroFrequency", true, 0, 100, 101},
                      TimeOutCase{"UpZeroFrequencyAtMaximum", true, 0, INT32_MAX, INT32_MAX},
                      TimeOutCase{"UpNegativeFrequency", true, -10, 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TriggerSettingsTest, ListsSendTheCodeOfThePickedPosition) {
    for (auto [index, code] : {std::pair{0, 0}, {1, 1}, {2, 5}}) {
        EXPECT_CALL(drv, SetTriggerSource(code));
        source.setCurrentIndex(index);
        ts.TrigSourceCombo_Click();
    }
    source.setCurrentIndex(-1);
    ts.TrigSourceCombo_Click();  // nothing selected: nothing sent (StrictMock)

    for (auto [index, code] : {std::pair{0, 0}, {1, 1}, {-1, 0}}) {
        EXPECT_CALL(drv, SetTriggerMode(code));
        mode.setCurrentIndex(index);
        ts.TrigModeCombo_Click();
    }
}

}  // namespace
}  // namespace rv8
