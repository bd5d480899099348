// Corners of the acquisition loop, start-up and the settings that must not touch the trigger.
#include <algorithm>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include "core/Ui.h"
#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` or `limitMs` milliseconds have passed.
template <typename Done>
bool RunUntil(Done done, int limitMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST_F(FormTest, StopDuringALongMeasurementTakesEffectAfterItIsFetchedAndDrawn) {
    Start();
    const int plots = form->Kurvo1->plotCount();
    int starts = 0;
    inst.whileMeasuring = [&] {
        if (++starts > 1) return;
        // The user clicks Run/Stop while the instrument is still measuring; the window, busy in
        // the driver call, takes the click when the call is over.
        QMetaObject::invokeMethod(form->Command3, &QPushButton::click, Qt::QueuedConnection);
        std::this_thread::sleep_for(60ms);
    };
    form->Command3->click();
    ASSERT_TRUE(RunUntil([&] { return !form->Timer1.isActive(); }));
    EXPECT_EQ(form->Command3->text(), "Run");
    EXPECT_EQ(inst.fetchCount, 1);                    // that acquisition was fetched
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);  // and drawn
    Settle(100);
    EXPECT_EQ(starts, 1);  // and no other followed
    EXPECT_FALSE(form->Timer1.isActive());
}

TEST_F(FormTest, AMeasurementThatAlwaysFailsIsRetriedEveryTwentyMillisecondsOrMore) {
    Start();
    inst.startResult = 3;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> at;  // nanoseconds
    inst.whileMeasuring = [&] { at.push_back(clock.nsecsElapsed()); };
    form->Command3->click();
    const bool enough = RunUntil([&] { return at.size() >= 8; }, 20000);
    form->Command3->click();
    ASSERT_TRUE(enough) << "only " << at.size() << " attempts";
    EXPECT_EQ(inst.fetchCount, 0);
    EXPECT_TRUE(messages.shown.empty());
    for (std::size_t i = 1; i < at.size(); ++i) {
        const double gapMs = (at[i] - at[i - 1]) / 1e6;
        EXPECT_GE(gapMs, 20.0) << "attempt " << i;
        EXPECT_LT(gapMs, 2000.0) << "attempt " << i;  // generous: the machine is shared
    }
}

TEST_F(FormTest, SingleWhileTheLoopRunsAddsExactlyOneAcquisition) {
    Start();
    form->Command3->click();
    ASSERT_TRUE(RunUntil([&] { return inst.fetchCount >= 1; }));
    const int fetched = inst.fetchCount;
    const int plots = form->Kurvo1->plotCount();
    form->Command2->click();
    EXPECT_EQ(inst.fetchCount, fetched + 1);
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
    EXPECT_TRUE(form->Timer1.isActive());  // the loop goes on as before
    EXPECT_EQ(form->Timer1.interval(), 20);
    EXPECT_EQ(form->Command3->text(), "Stop");
    form->Command3->click();
}

struct OddMaximumCase {
    const char* name;
    std::function<int32_t(int32_t)> takeFrequency;
    // The texts the sample-frequency box takes on (a nested change reaches a watcher before the
    // change it came from, so their order is not compared) and the last one, where it settles.
    std::vector<std::string> texts;
    std::vector<std::string> asked;  // the frequencies sent, in order
};
void PrintTo(const OddMaximumCase& c, std::ostream* os) {
    *os << c.name;
}

class OddMaximum : public ::testing::TestWithParam<OddMaximumCase> {};

TEST_P(OddMaximum, TheBoxPassesThroughTheHalfAndSettlesAtTheFrequencyInForce) {
    const OddMaximumCase& c = GetParam();
    FakeInstrument inst;
    inst.maxFrequency = 100001;
    inst.takeFrequency = c.takeFrequency;
    FakeMessages messages;
    Form1 form(inst, messages);
    std::vector<std::string> texts;
    QObject::connect(form.SetSampleFreqTextBox, &QLineEdit::textChanged,
                     [&](const QString& t) { texts.push_back(t.toStdString()); });
    ASSERT_TRUE(form.Form_Load());
    std::vector<std::string> expected = c.texts;
    std::sort(expected.begin(), expected.end());
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, expected);
    std::vector<std::string> asked;
    for (const std::string& call : inst.calls)
        if (call.rfind("SetSampleFrequency", 0) == 0) asked.push_back(call);
    EXPECT_EQ(asked, c.asked);
    const std::string settled = c.texts.back();
    EXPECT_EQ(form.SetSampleFreqTextBox->text().toStdString(), settled);
    EXPECT_EQ(FormatSignSpace(inst.frequency).toStdString(), settled);
    EXPECT_EQ(form.GetSampleFreqTextBox->text().toStdString(), settled);
    EXPECT_EQ(form.MaxSampleFreqBox->text(), " 100001");
    EXPECT_TRUE(messages.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Instruments, OddMaximum,
    ::testing::Values(
        // 50000.5 is read as 50000, halves to even.
        OddMaximumCase{"TakesEveryFrequency",
                       [](int32_t f) { return f; },
                       {" 100001", "50000.5", " 50000"},
                       {"SetSampleFrequency 100001 -> 100001", "SetSampleFrequency 50000 -> 50000",
                        "SetSampleFrequency 50000 -> 50000"}},
        // An instrument that makes only multiples of 1024 below its maximum.
        OddMaximumCase{"CoarseSteps",
                       [](int32_t f) { return f == 100001 ? f : f / 1024 * 1024; },
                       {" 100001", "50000.5", " 49152"},
                       {"SetSampleFrequency 100001 -> 100001", "SetSampleFrequency 50000 -> 50000",
                        "SetSampleFrequency 49152 -> 49152"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct TriggerQuietCase {
    const char* name;
    std::function<void(Form1&)> act;
};
void PrintTo(const TriggerQuietCase& c, std::ostream* os) {
    *os << c.name;
}

class LeavesTheTriggerAlone : public FormTest,
                              public ::testing::WithParamInterface<TriggerQuietCase> {};

TEST_P(LeavesTheTriggerAlone, BoxesAndInstrumentUnchanged) {
    Start();
    // Trigger settings away from their start-up values, so that a reset would show.
    form->TrigLevelCh1UpButton->click();
    form->TrigLevelCh2DownButton->click();
    form->TrigHysCh1UpButton->click();
    form->TrigHysCh2UpButton->click();
    form->TrigTimeoutUpButton->click();
    const std::vector<QLineEdit*> boxes{form->TrigLevelCh1Text, form->TrigLevelCh2Text,
                                        form->TrigHysCh1Text, form->TrigHysCh2Text,
                                        form->TrigTimeOutText};
    std::vector<QString> before;
    for (QLineEdit* b : boxes)
        before.push_back(b->text());
    const double level[2] = {inst.level[0], inst.level[1]};
    const double hys[2] = {inst.hysteresis[0], inst.hysteresis[1]};
    const int32_t timeout = inst.timeout;
    inst.clearCalls();

    GetParam().act(*form);

    for (std::size_t i = 0; i < boxes.size(); ++i)
        EXPECT_EQ(boxes[i]->text(), before[i]) << boxes[i]->objectName().toStdString();
    EXPECT_EQ(inst.count("SetTrigger"), 0);
    EXPECT_EQ(inst.level[0], level[0]);
    EXPECT_EQ(inst.level[1], level[1]);
    EXPECT_EQ(inst.hysteresis[0], hys[0]);
    EXPECT_EQ(inst.hysteresis[1], hys[1]);
    EXPECT_EQ(inst.timeout, timeout);
    EXPECT_FALSE(inst.calls.empty());  // the action itself reached the instrument
}

INSTANTIATE_TEST_SUITE_P(
    Actions, LeavesTheTriggerAlone,
    ::testing::Values(
        TriggerQuietCase{"Chop", [](Form1& f) { SelectItem(*f.MeasureModeCombo, 2); }},
        TriggerQuietCase{"Channel1Up", [](Form1& f) { f.SetSenseCh1UpButton->click(); }},
        TriggerQuietCase{"Channel1Down", [](Form1& f) { f.SetSenseCh1DownButton->click(); }},
        TriggerQuietCase{"Channel2Up", [](Form1& f) { f.SetSenseCh2UpButton->click(); }},
        TriggerQuietCase{"Channel2Down", [](Form1& f) { f.SetSenseCh2DownButton->click(); }},
        TriggerQuietCase{"ChopThenSteps",
                         [](Form1& f) {
                             SelectItem(*f.MeasureModeCombo, 2);
                             f.SetSenseCh1DownButton->click();
                             f.SetSenseCh2UpButton->click();
                         }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rv8::testing
