#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

struct ClickCase {
    const char* name;
    std::vector<int> clicks;  // 3 or 4: the box clicked, in order
    bool check3, check4, both;
    int16_t shown;
};

class ChannelBoxes : public FormTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ChannelBoxes, KeepAtLeastOneChannelShown) {
    const ClickCase& c = GetParam();
    Start();
    for (int box : c.clicks)
        (box == 3 ? form->Check3 : form->Check4)->click();
    EXPECT_EQ(form->Check3->isChecked(), c.check3);
    EXPECT_EQ(form->Check4->isChecked(), c.check4);
    EXPECT_EQ(form->Kurvo1->bothChannels(), c.both);
    if (!c.both) {
        EXPECT_EQ(form->Kurvo1->shownChannel(), c.shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    StateTable, ChannelBoxes,
    ::testing::Values(ClickCase{"UntickOnlyBoxTicksItAgain", {3}, true, false, false, 0},
                      ClickCase{"BothChannels", {4}, true, true, true, 0},
                      ClickCase{"BothThenUntickFirst", {4, 3}, false, true, false, 1},
                      ClickCase{"BothThenUntickSecond", {4, 4}, true, false, false, 0},
                      ClickCase{"SecondAloneThenUntickIt", {4, 3, 4}, false, true, false, 1},
                      ClickCase{"BackToBoth", {4, 3, 3}, true, true, true, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, PersistenceShowsTheDepthBarAndSetsTheChart) {
    Start();
    form->show();
    form->Check2->click();
    EXPECT_EQ(form->Kurvo1->persistenceMode(), 1);
    EXPECT_TRUE(form->HScroll1->isVisible());
    form->HScroll1->setValue(0);  // right end
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), 0);
    form->HScroll1->setValue(32);  // left end
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), 32);
    form->HScroll1->setSliderPosition(12);  // dragging
    emit form->HScroll1->sliderMoved(12);
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), 12);
    form->Check2->click();
    EXPECT_EQ(form->Kurvo1->persistenceMode(), 0);
    EXPECT_FALSE(form->HScroll1->isVisible());
    EXPECT_EQ(form->HScroll1->value(), 32);  // survives the hiding
}

TEST_F(FormTest, EachViewKeepsItsOwnVerticalRange) {
    Start();
    form->show();
    form->Kurvo1->YMax(0, 1000);
    form->Kurvo1->YMin(1, -2000);
    form->Option2->click();  // to V-F
    EXPECT_FALSE(form->HScroll2->isEnabled());
    EXPECT_FALSE(form->HScroll3->isEnabled());
    EXPECT_FALSE(form->Ymax1->isVisible());
    EXPECT_TRUE(form->MaxFreq->isVisible());
    EXPECT_TRUE(form->MinFreq->isVisible());
    EXPECT_EQ(form->Kurvo1->YMin(0), 0);
    EXPECT_EQ(form->Kurvo1->YMax(1), 32768);
    form->Kurvo1->YMax(0, 5000);  // a change made in the spectrum view stays with it
    form->Option1->click();       // back to V-T
    EXPECT_TRUE(form->HScroll2->isEnabled());
    EXPECT_TRUE(form->Ymin2->isVisible());
    EXPECT_FALSE(form->MaxFreq->isVisible());
    EXPECT_EQ(form->Kurvo1->YMax(0), 1000);
    EXPECT_EQ(form->Kurvo1->YMin(1), -2000);
    EXPECT_EQ(form->Kurvo1->YMax(1), 32767);
    form->Option2->click();
    EXPECT_EQ(form->Kurvo1->YMax(0), 5000);
    EXPECT_EQ(form->Kurvo1->YMin(0), 0);
    EXPECT_EQ(form->views().TimeYMax, (std::array<int32_t, 2>{1000, 32767}));
    EXPECT_TRUE(inst.calls.empty());
}

}  // namespace
}  // namespace rv8::testing
