#include <QCoreApplication>
#include <QElapsedTimer>

#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

TEST_F(FormTest, RunStopTogglesTheLoop) {
    Start();
    form->Command3->click();
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(form->Command3->text(), "Stop");
    form->Command3->click();
    EXPECT_FALSE(form->Timer1.isActive());
    EXPECT_EQ(form->Command3->text(), "Run");
    EXPECT_TRUE(inst.calls.empty());  // the loop itself sends nothing
}

TEST_F(FormTest, SingleTakesOneAcquisitionAndDrawsIt) {
    Start();
    const int plots = form->Kurvo1->plotCount();
    form->Command2->click();
    EXPECT_EQ(inst.calls,
              (std::vector<std::string>{"StartMeasurement = 0", "GetMeasurementRaw -> 4096"}));
    EXPECT_EQ(form->Kurvo1->plotCount(), plots + 1);
    EXPECT_FALSE(form->Timer1.isActive());
}

TEST_F(FormTest, AFailedMeasurementIsSkippedSilently) {
    Start();
    inst.startResult = 7;
    const int plots = form->Kurvo1->plotCount();
    form->Command2->click();
    form->Timer1_Timer();
    EXPECT_EQ(inst.count("StartMeasurement"), 2);
    EXPECT_EQ(inst.fetchCount, 0);
    EXPECT_EQ(form->Kurvo1->plotCount(), plots);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FormTest, EachTickRestartsTheTimerAfterItsAcquisition) {
    Start();
    form->Command3->click();
    bool activeDuringMeasure = true;
    inst.sample = [&](int, int32_t) {
        activeDuringMeasure = form->Timer1.isActive();
        return uint16_t{0};
    };
    form->Timer1_Timer();
    EXPECT_FALSE(activeDuringMeasure);  // ticks never overlap
    EXPECT_TRUE(form->Timer1.isActive());
    EXPECT_EQ(form->Timer1.interval(), 20);
    EXPECT_EQ(inst.fetchCount, 1);
}

TEST_F(FormTest, TheTimerLoopRunsAcquisitionsByItself) {
    Start();
    form->Command3->click();
    QElapsedTimer t;
    t.start();
    while (inst.fetchCount < 3 && t.elapsed() < 5000)
        QCoreApplication::processEvents();
    form->Command3->click();
    EXPECT_GE(inst.fetchCount, 3);
}

TEST_F(FormTest, ARecordLongerThanTheBuffersIsNeverFetched) {
    // An instrument that keeps a record far longer than the buffers, whatever it is asked.
    inst.recordLength = 200000;
    inst.postSamples = 100;
    inst.takeRecordLength = [](int32_t) { return 200000; };
    ASSERT_TRUE(form->Form_Load());
    ASSERT_GT(form->RecordLength(), kRawBufferSamples);
    form->Command2->click();
    EXPECT_EQ(inst.fetchCount, 0);
    form->Kurvo1_RangeChanged(0, 0);  // a redraw reads only what the buffers hold
    EXPECT_EQ(form->Kurvo1->lastPlotValues().size(), 2u * 512);
}

}  // namespace
}  // namespace rv8::testing
