#include "display/ViewControls.h"

namespace rv8 {

void ViewControls::ChannelBoxClicked(QCheckBox& box, QCheckBox& other, int16_t channel) {
    const int16_t otherChannel = static_cast<int16_t>(1 - channel);
    if (box.isChecked()) {
        if (!other.isChecked()) {
            w_.Kurvo1.BothChannels(false);
            w_.Kurvo1.ShownChannel(channel);
        } else {
            w_.Kurvo1.BothChannels(true);
        }
        return;
    }
    w_.Kurvo1.BothChannels(false);
    if (!other.isChecked()) {
        // At least one channel stays shown: tick this box again. That raises its click once
        // more, and the nested run leaves the same state.
        box.setChecked(true);
        w_.Kurvo1.ShownChannel(channel);
    } else {
        w_.Kurvo1.ShownChannel(otherChannel);
    }
}

void ViewControls::Check3_Click() {
    ChannelBoxClicked(w_.Check3, w_.Check4, 0);
}
void ViewControls::Check4_Click() {
    ChannelBoxClicked(w_.Check4, w_.Check3, 1);
}

void ViewControls::Check2_Click() {
    const bool on = w_.Check2.isChecked();
    w_.Kurvo1.PersistenceMode(on ? 1 : 0);
    w_.HScroll1.setVisible(on);
}

void ViewControls::HScroll1_Change() {
    w_.Kurvo1.PersistenceDepth(static_cast<int16_t>(w_.HScroll1.value()));
}

void ViewControls::HScroll1_Scroll() {
    // While the thumb is dragged its position leads the settled value.
    w_.Kurvo1.PersistenceDepth(static_cast<int16_t>(w_.HScroll1.sliderPosition()));
}

void ViewControls::SwitchView(bool toSpectrum) {
    w_.HScroll2.setEnabled(!toSpectrum);
    w_.HScroll3.setEnabled(!toSpectrum);
    for (QLabel* l : {&w_.Ymax1, &w_.Ymax2, &w_.Ymin1, &w_.Ymin2})
        l->setVisible(!toSpectrum);
    auto& saveMin = toSpectrum ? TimeYMin : FreqYMin;
    auto& saveMax = toSpectrum ? TimeYMax : FreqYMax;
    const auto& restoreMin = toSpectrum ? FreqYMin : TimeYMin;
    const auto& restoreMax = toSpectrum ? FreqYMax : TimeYMax;
    saveMin[0] = w_.Kurvo1.YMin(0);
    saveMin[1] = w_.Kurvo1.YMin(1);
    saveMax[0] = w_.Kurvo1.YMax(0);
    saveMax[1] = w_.Kurvo1.YMax(1);
    w_.Kurvo1.YMin(0, restoreMin[0]);
    w_.Kurvo1.YMin(1, restoreMin[1]);
    w_.Kurvo1.YMax(0, restoreMax[0]);
    w_.Kurvo1.YMax(1, restoreMax[1]);
    w_.MinFreq.setVisible(toSpectrum);
    w_.MaxFreq.setVisible(toSpectrum);
}

void ViewControls::Option1_Click() {
    SwitchView(false);
}
void ViewControls::Option2_Click() {
    SwitchView(true);
}

}  // namespace rv8
