#include <gtest/gtest.h>

#include "core/Numbers.h"
#include "settings/RecordLength.h"
#include "tests/support/MockDriver.h"

namespace rv8 {
namespace {

using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;

class RecordLengthTest : public ::testing::Test {
  protected:
    RecordLengthTest() {
        combo.addItems({"130000", "65536", "32768", "16384", "8192", "4096", "2048", "1024"});
        combo.setCurrentIndex(-1);
        scale.setRange(1, 2);
        scale.setValue(1);
    }
    void Pick(int index) {
        combo.setCurrentIndex(index);
        rl.RecordlenthCombo_Click();
    }
    StrictMock<testing::MockDriver> drv;
    QComboBox combo;
    QScrollBar scale{Qt::Horizontal};
    QLineEdit lengthBox, postBox;
    RecordLength rl{drv, combo, scale, lengthBox, postBox};
};

struct OrderCase {
    const char* name;
    int32_t length, post;  // in force before the pick
    int index;
    int32_t n, half;
    bool postFirst;
};
class SetterOrderTest : public RecordLengthTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(SetterOrderTest, NeverLeavesMorePostSamplesThanTheRecord) {
    const OrderCase& c = GetParam();
    {
        InSequence seq;
        EXPECT_CALL(drv, GetRecordLength()).WillOnce(Return(c.length));
        EXPECT_CALL(drv, GetPostSamples()).WillOnce(Return(c.post));
        if (c.postFirst) EXPECT_CALL(drv, SetPostSamples(c.half));
        EXPECT_CALL(drv, SetRecordLength(c.n));
        if (!c.postFirst) EXPECT_CALL(drv, SetPostSamples(c.half));
        EXPECT_CALL(drv, GetPostSamples()).WillOnce(Return(c.half - 1));  // the instrument's say
        EXPECT_CALL(drv, GetRecordLength()).WillOnce(Return(c.n - 1));
    }
    Pick(c.index);
    EXPECT_EQ(rl.recordLength(), c.n - 1);
    EXPECT_EQ(rl.postSamples(), c.half - 1);
    EXPECT_EQ(lengthBox.text(), FormatSignSpace(c.n - 1));
    EXPECT_EQ(postBox.text(), FormatSignSpace(c.half - 1));
    EXPECT_FALSE(lengthBox.isEnabled());
    EXPECT_FALSE(postBox.isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetterOrderTest,
    ::testing::Values(OrderCase{"Shorter", 65536, 32768, 7, 1024, 512, true},
                      OrderCase{"Longer", 1024, 512, 1, 65536, 32768, false},
                      OrderCase{"StartUp", 0, 0, 5, 4096, 2048, false},
                      OrderCase{"PostEqualsNewLength", 8192, 4096, 5, 4096, 2048, false},
                      OrderCase{"Largest", 1024, 512, 0, 130000, 65000, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordLengthTest, SameLengthCallsNoSetterButStillLimitsScale) {
    EXPECT_CALL(drv, GetRecordLength()).WillOnce(Return(1024));
    EXPECT_CALL(drv, GetPostSamples()).WillOnce(Return(512));
    scale.setRange(1, 32);
    scale.setValue(8);
    lengthBox.setText("old");
    Pick(7);
    EXPECT_EQ(scale.maximum(), 2);
    EXPECT_EQ(scale.value(), 2);
    EXPECT_EQ(lengthBox.text(), "old");
}

TEST_F(RecordLengthTest, NoSelectionOnlyReadsTheValuesInForce) {
    EXPECT_CALL(drv, GetRecordLength()).WillOnce(Return(4096));
    EXPECT_CALL(drv, GetPostSamples()).WillOnce(Return(2048));
    Pick(-1);
    EXPECT_EQ(rl.recordLength(), 4096);
    EXPECT_EQ(scale.maximum(), 2);
}

TEST_F(RecordLengthTest, ScaleMaximumFollowsTheRecordAndTheValueIsLoweredOnly) {
    NiceMock<testing::MockDriver> nice;
    int32_t length = 0;
    ON_CALL(nice, SetRecordLength).WillByDefault(Invoke([&](int32_t n) { length = n; }));
    ON_CALL(nice, GetRecordLength).WillByDefault(Invoke([&] { return length; }));
    RecordLength r{nice, combo, scale, lengthBox, postBox};
    scale.setRange(1, 32);
    scale.setValue(8);
    struct {
        int index, maximum, value;
    } steps[] = {{7, 2, 2}, {1, 32, 2}, {3, 32, 2}, {0, 32, 2}, {4, 16, 2}, {6, 4, 2}, {5, 8, 2}};
    for (const auto& s : steps) {
        combo.setCurrentIndex(s.index);
        r.RecordlenthCombo_Click();
        EXPECT_EQ(scale.maximum(), s.maximum) << combo.currentText().toStdString();
        EXPECT_EQ(scale.value(), s.value) << combo.currentText().toStdString();
    }
}

}  // namespace
}  // namespace rv8
