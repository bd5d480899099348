#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "settings/ChannelSettings.h"
#include "tests/support/MockDriver.h"

namespace rv8 {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::SetArgReferee;
using ::testing::StrictMock;

class ChannelSettingsTest : public ::testing::Test {
  protected:
    ChannelSettingsTest() {
        for (QComboBox* c : {&coup1, &coup2})
            c->addItems({"AC", "DC"});
        mode.addItems({"channel 1", "channel 2", "chop"});
        for (QComboBox* c : {&coup1, &coup2, &mode})
            c->setCurrentIndex(-1);
    }
    void Step(int channel, bool up) {
        if (channel == 1) {
            up ? cs.SetSenseCh1UpButton_Click() : cs.SetSenseCh1DownButton_Click();
        } else {
            up ? cs.SetSenseCh2UpButton_Click() : cs.SetSenseCh2DownButton_Click();
        }
    }
    StrictMock<testing::MockDriver> drv;
    QLineEdit sense1, sense2;
    QComboBox coup1, coup2, mode;
    std::vector<QString> boxAtRangeChange;  // both boxes' texts each time the chart handler ran
    ChannelSettings cs{drv, {sense1, coup1}, {sense2, coup2}, mode, [this](int32_t a, int32_t b) {
                           EXPECT_EQ(a, 0);
                           EXPECT_EQ(b, 0);
                           boxAtRangeChange.push_back(sense1.text() + "|" + sense2.text());
                       }};
};

struct SenseCase {
    const char* name;
    double reported;
    bool up;
    double asked;
    const char* shown;
};
class SensitivityStepTest : public ChannelSettingsTest,
                            public ::testing::WithParamInterface<std::tuple<SenseCase, int>> {};

TEST_P(SensitivityStepTest, WalksTheTableFromTheReportedRange) {
    const auto& [c, channel] = GetParam();
    {
        InSequence seq;
        EXPECT_CALL(drv, GetSensitivity(channel, _)).WillOnce(SetArgReferee<1>(c.reported));
        EXPECT_CALL(drv, SetSensitivity(channel, ::testing::Eq(c.asked)));
    }
    Step(channel, c.up);
    QLineEdit& box = channel == 1 ? sense1 : sense2;
    QLineEdit& other = channel == 1 ? sense2 : sense1;
    EXPECT_EQ(box.text(), c.shown);
    EXPECT_FALSE(box.isEnabled());
    EXPECT_EQ(other.text(), "");
    EXPECT_EQ(boxAtRangeChange,
              std::vector<QString>{channel == 1 ? c.shown + QString("|") : "|" + QString(c.shown)});
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Table, SensitivityStepTest,
    ::testing::Combine(::testing::Values(SenseCase{"FourDown", 4, false, 2, "2"},
                                         SenseCase{"FourUp", 4, true, 8, "8"},
                                         SenseCase{"PointEightUp", 0.8, true, 2, "2"},
                                         SenseCase{"TwoDown", 2, false, 0.8, "0.8"},
                                         SenseCase{"BottomStays", 0.2, false, 0.2, "0.2"},
                                         SenseCase{"TopStays", 80, true, 80, "80"},
                                         SenseCase{"BelowTableDown", 0.1, false, 0.2, "0.2"},
                                         SenseCase{"BelowTableUp", 0.1, true, 0.2, "0.2"},
                                         SenseCase{"AboveTableDown", 100, false, 80, "80"},
                                         SenseCase{"AboveTableUp", 100, true, 80, "80"},
                                         SenseCase{"BetweenDown", 1.0, false, 0.8, "0.8"},
                                         SenseCase{"BetweenUp", 1.0, true, 2, "2"},
                                         SenseCase{"NaNDown", kNaN, false, 0.2, "0.2"},
                                         SenseCase{"NaNUp", kNaN, true, 80, "80"}),
                       ::testing::Values(1, 2)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "Ch" +
               std::to_string(std::get<1>(info.param));
    });

TEST_F(ChannelSettingsTest, OnlyChannelTwoShowsWhatTheDriverLeftInTheArgument) {
    for (int channel : {1, 2}) {
        EXPECT_CALL(drv, GetSensitivity(channel, _)).WillOnce(SetArgReferee<1>(4.0));
        EXPECT_CALL(drv, SetSensitivity(channel, ::testing::Eq(8.0)))
            .WillOnce(SetArgReferee<1>(0.5));
        Step(channel, true);
    }
    EXPECT_EQ(sense1.text(), "8");
    EXPECT_EQ(sense2.text(), "0.5");
}

TEST_F(ChannelSettingsTest, ListsSendTheCodeOfThePickedPosition) {
    struct {
        QComboBox* combo;
        int index;
        int32_t channel;  // 0: measure mode
        std::optional<int> code;
    } cases[] = {{&coup1, 0, 1, 0}, {&coup1, 1, 1, 1},  {&coup1, -1, 1, 0},
                 {&coup2, 1, 2, 1}, {&coup2, -1, 2, 0}, {&mode, 0, 0, 1},
                 {&mode, 1, 0, 2},  {&mode, 2, 0, 3},   {&mode, -1, 0, std::nullopt}};
    for (const auto& c : cases) {
        ::testing::Mock::VerifyAndClearExpectations(&drv);
        c.combo->setCurrentIndex(c.index);
        if (c.channel == 0) {
            if (c.code) EXPECT_CALL(drv, SetMeasureMode(*c.code));
            cs.MeasureModeCombo_Click();
        } else {
            EXPECT_CALL(drv, SetCoupling(c.channel, *c.code));
            c.channel == 1 ? cs.SetCoupCh1Combo_Click() : cs.SetCoupCh2Combo_Click();
        }
    }
}

}  // namespace
}  // namespace rv8
