#include <climits>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "core/Numbers.h"
#include "settings/SampleFrequency.h"
#include "tests/support/MockDriver.h"

namespace rv8 {
namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;

// The handler relies on these three properties of QLineEdit::textChanged.
TEST(LineEditContract, TextChangedIsSynchronousNestedAndSilentOnSameText) {
    QLineEdit box;
    std::vector<QString> events;
    QObject::connect(&box, &QLineEdit::textChanged, [&](const QString& t) {
        events.push_back("enter " + t);
        if (t == "a") box.setText("b");  // nested: runs before this setText returns
        events.push_back("exit " + t);
    });
    box.setText("a");
    EXPECT_EQ(events, (std::vector<QString>{"enter a", "enter b", "exit b", "exit a"}));
    box.setText("b");
    EXPECT_EQ(events.size(), 4u);
}

class SampleFrequencyTest : public ::testing::Test {
  protected:
    SampleFrequencyTest() {
        setBox.setText("1");
        link = QObject::connect(&setBox, &QLineEdit::textChanged,
                                [this] { sf.SetSampleFreqTextBox_Change(); });
        ON_CALL(drv, GetMaxSampleFrequency()).WillByDefault(Invoke([this] { return max; }));
    }
    // An instrument that takes what it is asked for; requests are recorded.
    void ExactInstrument() {
        ON_CALL(drv, SetSampleFrequency(_)).WillByDefault(Invoke([this](int32_t& f) {
            requests.push_back(f);
            taken = f;
        }));
        ON_CALL(drv, GetSampleFrequency()).WillByDefault(Invoke([this] { return taken; }));
    }
    void Preset(const QString& text) {
        setBox.blockSignals(true);
        setBox.setText(text);
        setBox.blockSignals(false);
    }

    int32_t max = 100000;
    int32_t taken = 0;
    std::vector<int32_t> requests;
    NiceMock<testing::MockDriver> drv;
    QLineEdit setBox, getBox;
    QLabel maxFreq;
    SampleFrequency sf{drv, setBox, getBox, maxFreq};
    QMetaObject::Connection link;
};

TEST_F(SampleFrequencyTest, RoundedFrequencyRunsTheHandlerAgainUntilTheTextSettles) {
    StrictMock<testing::MockDriver> strict;
    SampleFrequency s{strict, setBox, getBox, maxFreq};
    QObject::disconnect(link);
    QObject::connect(&setBox, &QLineEdit::textChanged, [&] { s.SetSampleFreqTextBox_Change(); });
    {
        InSequence seq;
        EXPECT_CALL(strict, GetMaxSampleFrequency()).WillOnce(Return(max));
        EXPECT_CALL(strict, SetSampleFrequency(::testing::Eq(5)));
        EXPECT_CALL(strict, GetSampleFrequency()).WillOnce(Return(7));
        EXPECT_CALL(strict, GetMaxSampleFrequency()).WillOnce(Return(max));
        EXPECT_CALL(strict, SetSampleFrequency(::testing::Eq(7)));
        EXPECT_CALL(strict, GetSampleFrequency()).WillOnce(Return(7));
    }
    setBox.setText("5");
    EXPECT_EQ(setBox.text(), " 7");
    EXPECT_EQ(getBox.text(), " 7");
    EXPECT_FALSE(getBox.isEnabled());
    EXPECT_EQ(maxFreq.text(), "4");

    setBox.setText(" 7");  // the same text: nothing runs (StrictMock would fail)
}

TEST_F(SampleFrequencyTest, EmptyBoxAsksForOneAndThenReadsWhatTheNestedRunsLeft) {
    ON_CALL(drv, SetSampleFrequency(_)).WillByDefault(Invoke([&](int32_t& f) {
        requests.push_back(f);
        taken = f < 10 ? 10 : f;  // the instrument's lowest frequency is 10
    }));
    ON_CALL(drv, GetSampleFrequency()).WillByDefault(Invoke([&] { return taken; }));
    setBox.setText("");
    // "1" (nested), then 10 taken and written back (nested again), then the outer run reads " 10".
    EXPECT_EQ(requests, (std::vector<int32_t>{1, 10, 10}));
    EXPECT_EQ(setBox.text(), " 10");
}

struct TypedCase {
    const char* name;
    QString text;
    int32_t asked;
};
class TypedTextTest : public SampleFrequencyTest,
                      public ::testing::WithParamInterface<TypedCase> {};

TEST_P(TypedTextTest, AsksForTheLimitedWholeNumberAndShowsTheFrequencyInForce) {
    ExactInstrument();
    max = INT32_MAX - 1;  // so that saturated texts show the limit to the maximum
    setBox.setText(GetParam().text);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front(), GetParam().asked);
    EXPECT_EQ(setBox.text(), FormatSignSpace(GetParam().asked));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedTextTest,
    ::testing::Values(TypedCase{"Letters", "abc", 1}, TypedCase{"Exponent", "2.5e3", 2500},
                      TypedCase{"HalfToEvenDown", "12.5", 12},
                      TypedCase{"HalfToEvenUp", "13.5", 14}, TypedCase{"Negative", "-40", 1},
                      TypedCase{"Grouped", "1 000", 1000},
                      TypedCase{"AboveMax", "2147483647", INT32_MAX - 1},
                      TypedCase{"Huge", "1e400", INT32_MAX - 1}, TypedCase{"HugeNeg", "-1e400", 1},
                      TypedCase{"TenThousandDigits", QString(10000, '9'), INT32_MAX - 1},
                      TypedCase{"MegabytePaste", QString(1 << 20, '7'), INT32_MAX - 1},
                      TypedCase{"NaN", "NaN", 1}, TypedCase{"Inf", "Inf", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SampleFrequencyTest, DriftingDriverCannotRecurseWithoutEnd) {
    ON_CALL(drv, GetSampleFrequency()).WillByDefault(Invoke([&] { return ++taken; }));
    EXPECT_CALL(drv, SetSampleFrequency(_)).Times(SampleFrequency::kMaxNesting);
    setBox.setText("5");
}

struct StepCase {
    const char* name;
    QString start;
    bool up;
    std::optional<int32_t> asked;  // nullopt: the text stays and nothing is sent
    int32_t max = 100000;
};
class StepTest : public SampleFrequencyTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(StepTest, HalvesOrDoublesTheFrequencyInForce) {
    const StepCase& c = GetParam();
    ExactInstrument();
    max = c.max;
    Preset(c.start);
    if (c.up) {
        sf.SetSampleFreqUpButton_Click();
    } else {
        sf.SetSampleFreqDownButton_Click();
    }
    if (!c.asked) {
        EXPECT_TRUE(requests.empty());
        EXPECT_EQ(setBox.text(), c.start);
    } else {
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.front(), *c.asked);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StepTest,
    ::testing::Values(StepCase{"TenStays", " 10", false, std::nullopt},
                      StepCase{"BelowTenStays", " 3", false, std::nullopt},
                      StepCase{"Eleven", " 11", false, 6}, StepCase{"Thirteen", " 13", false, 6},
                      StepCase{"Fifteen", " 15", false, 8},
                      StepCase{"Million", " 1000001", false, 500000, 2000000},
                      StepCase{"UpAtMax", " 100000", true, std::nullopt},
                      StepCase{"UpLimited", " 60000", true, 100000},
                      StepCase{"UpDoubles", " 300", true, 600},
                      StepCase{"UpNoOverflow", " 1500000000", true, INT32_MAX, INT32_MAX}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SampleFrequencyTest, MaxFreqShowsHalfTheFrequencyInForceRoundedAwayFromZero) {
    ExactInstrument();
    for (auto [typed, shown] : {std::pair{"100000", "50000"}, {"12345", "6173"}, {"1", "1"}}) {
        setBox.setText(typed);
        EXPECT_EQ(maxFreq.text(), shown) << typed;
    }
}

}  // namespace
}  // namespace rv8
