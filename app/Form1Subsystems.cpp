// The window's subsystems, each over the controls it drives: the settings of the instrument
// (sample frequency, record length, channels, trigger), the recorder, the display pass and the
// view controls of the chart.
#include "app/Form1.h"

namespace rv8 {

void Form1::createSubsystems() {
    sampleFrequency_ = std::make_unique<SampleFrequency>(driver_, *SetSampleFreqTextBox,
                                                         *GetSampleFreqTextBox, *MaxFreq);
    recordLength_ = std::make_unique<class RecordLength>(
        driver_, *RecordlenthCombo, *HScroll3, *GetRecordLenthTextBox, *GetPostSamplesText);
    channels_ = std::make_unique<ChannelSettings>(
        driver_, ChannelControls{*SetSenseCh1TextBox, *SetCoupCh1Combo},
        ChannelControls{*SetSenseCh2TextBox, *SetCoupCh2Combo}, *MeasureModeCombo,
        [this](int32_t a, int32_t b) { Kurvo1_RangeChanged(a, b); });
    trigger_ = std::make_unique<TriggerSettings>(
        driver_,
        TriggerControls{*TrigSourceCombo, *TrigModeCombo, *TrigLevelCh1Text, *TrigLevelCh2Text,
                        *TrigHysCh1Text, *TrigHysCh2Text, *TrigTimeOutText});
    recorder_ = std::make_unique<Recorder>(
        RecorderControls{*Check1,
                         *Text1,
                         *Text2,
                         *eventcount,
                         *SetSampleFreqTextBox,
                         *SetSenseCh1TextBox,
                         *SetSenseCh2TextBox,
                         {SetSampleFreqDownButton, SetSampleFreqUpButton, SetSenseCh1DownButton,
                          SetSenseCh1UpButton, SetSenseCh2DownButton, SetSenseCh2UpButton}},
        WriteVelmarFileII1, messages_);
    display_ = std::make_unique<DisplayPass>(
        DisplayPassControls{*Kurvo1, Spektra1, Spektra2, *Option1, *HScroll2, *HScroll3, *Ymax1,
                            *Ymax2, *Ymin1, *Ymin2, *SetSenseCh1TextBox, *SetSenseCh2TextBox},
        Ch1Raw.data(), Ch2Raw.data(), kRawBufferSamples,
        [this] { return recordLength_->recordLength(); }, [this] { return SettingsInForce(); },
        [this](int16_t* block, int32_t frames, const Acquisition& acquisition) {
            recorder_->LoggingStep(block, frames, acquisition);
        });
    views_ = std::make_unique<ViewControls>(
        ViewControlsWidgets{*Kurvo1, *Check2, *Check3, *Check4, *HScroll1, *HScroll2, *HScroll3,
                            *Ymax1, *Ymax2, *Ymin1, *Ymin2, *MinFreq, *MaxFreq});
}

}  // namespace rv8
