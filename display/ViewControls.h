// The view controls: which channels the chart draws, persistence, and the switch between the
// time view ("V-T") and the spectrum view ("V-F"), each of which keeps its own vertical range.
#pragma once

#include <array>
#include <cstdint>

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>

#include "display/Kurvo.h"

namespace rv8 {

struct ViewControlsWidgets {
    Kurvo& Kurvo1;
    QCheckBox& Check2;     // "Persistence"
    QCheckBox& Check3;     // shows channel 1
    QCheckBox& Check4;     // shows channel 2
    QScrollBar& HScroll1;  // persistence depth, 32 at the left end to 0 at the right
    QScrollBar& HScroll2;
    QScrollBar& HScroll3;
    QLabel& Ymax1;
    QLabel& Ymax2;
    QLabel& Ymin1;
    QLabel& Ymin2;
    QLabel& MinFreq;
    QLabel& MaxFreq;
};

class ViewControls {
  public:
    explicit ViewControls(ViewControlsWidgets w) : w_(w) {}

    void Check3_Click();
    void Check4_Click();
    void Check2_Click();
    void HScroll1_Change();
    void HScroll1_Scroll();
    void Option1_Click();  // to the time view
    void Option2_Click();  // to the spectrum view

    // Saved vertical ranges, element 0 channel 1 and element 1 channel 2: the time view's while
    // the spectrum view is shown and the other way round.
    std::array<int32_t, 2> TimeYMin{0, 0};
    std::array<int32_t, 2> TimeYMax{0, 0};
    std::array<int32_t, 2> FreqYMin{0, 0};
    std::array<int32_t, 2> FreqYMax{0, 0};

  private:
    // One routine for both channel boxes: `box` was clicked, `other` is the other channel's.
    void ChannelBoxClicked(QCheckBox& box, QCheckBox& other, int16_t channel);
    void SwitchView(bool toSpectrum);

    ViewControlsWidgets w_;
};

}  // namespace rv8
