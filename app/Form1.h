// Form1: the scope window. Owns every control (each named member also carries its name as
// objectName), the acquisition timer, the raw sample buffers and the hosted components; creates
// the subsystem objects and wires each control to its handler in one place. Start-up, shutdown
// and the acquisition cycle are its own procedures.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include "core/Messages.h"
#include "core/Samples.h"
#include "display/DisplayPass.h"
#include "display/Kurvo.h"
#include "display/Spektra.h"
#include "display/ViewControls.h"
#include "driver/Rv8Driver.h"
#include "logging/Recorder.h"
#include "logging/WriteVelmarFileII.h"
#include "settings/ChannelSettings.h"
#include "settings/RecordLength.h"
#include "settings/SampleFrequency.h"
#include "settings/TriggerSettings.h"

namespace rv8 {

class Form1 : public QWidget {
    Q_OBJECT
  public:
    Form1(Rv8Driver& driver, Messages& messages, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. Returns false when no instrument answered (after its message): the program
    // then ends without Form_Unload and Form_Terminate.
    bool Form_Load();
    void Command9_Click();
    void InitHardware();
    void Command1_Click();  // "Default!"
    void Form_Unload();
    void Form_Terminate();

    // The acquisition cycle.
    void Measure();
    void Timer1_Timer();
    void Command2_Click();  // "Single"
    void Command3_Click();  // "Run/Stop"

    void DisplayPaint() { display_->DisplayPaint(); }
    void Kurvo1_RangeChanged(int32_t a, int32_t b) { display_->Kurvo1_RangeChanged(a, b); }

    int32_t RecordLength() const { return recordLength_->recordLength(); }
    int32_t PostSamples() const { return recordLength_->postSamples(); }
    int16_t LoggedRecordCount() const { return recorder_->LoggedRecordCount; }
    ViewControls& views() { return *views_; }
    WriteVelmarFileII& writer() { return WriteVelmarFileII1; }

    // Calibration word as the text of the "Cal. Date:" box: day, month, year in sign-space.
    static QString CalibrationText(int32_t word);

    // Controls, by container.
    QGroupBox* MeasuerFrame;
    QLineEdit* Text2;
    QPushButton* Command2;
    QPushButton* Command3;
    QComboBox* MeasureModeCombo;
    QLabel* Label22;

    QGroupBox* Ch1Frame;
    QLineEdit* SetSenseCh1TextBox;
    QPushButton* SetSenseCh1DownButton;
    QPushButton* SetSenseCh1UpButton;
    QComboBox* SetCoupCh1Combo;
    QLabel* Label13;
    QLabel* Label15;
    QGroupBox* Ch2Frame;
    QLineEdit* SetSenseCh2TextBox;
    QPushButton* SetSenseCh2DownButton;
    QPushButton* SetSenseCh2UpButton;
    QComboBox* SetCoupCh2Combo;
    QLabel* label17;
    QLabel* Label19;

    QGroupBox* HorizontalFrame;
    QLabel* Label11;
    QLineEdit* SetSampleFreqTextBox;
    QPushButton* SetSampleFreqDownButton;
    QPushButton* SetSampleFreqUpButton;
    QLabel* Label12;
    QComboBox* RecordlenthCombo;
    QLabel* Label18;
    QLabel* Label14;
    QLineEdit* GetSampleFreqTextBox;
    QLineEdit* GetRecordLenthTextBox;
    QLineEdit* GetPostSamplesText;
    QLabel* Label23;
    QScrollBar* HScroll2;
    QScrollBar* HScroll3;

    QGroupBox* TriggerFrame;
    QLabel* Label5;
    QComboBox* TrigSourceCombo;
    QLabel* Label6;
    QComboBox* TrigModeCombo;
    QLabel* Label8;
    QLineEdit* TrigLevelCh1Text;
    QPushButton* TrigLevelCh1DownButton;
    QPushButton* TrigLevelCh1UpButton;
    QLabel* Label9;
    QLineEdit* TrigLevelCh2Text;
    QPushButton* TrigLevelCh2DownButton;
    QPushButton* TrigLevelCh2UpButton;
    QLabel* Label7;
    QLineEdit* TrigHysCh1Text;
    QPushButton* TrigHysCh1DownButton;
    QPushButton* TrigHysCh1UpButton;
    QLabel* Label16;
    QLineEdit* TrigHysCh2Text;
    QPushButton* TrigHysCh2DownButton;
    QPushButton* TrigHysCh2UpButton;
    QLabel* Label10;
    QLineEdit* TrigTimeOutText;
    QPushButton* TrigTimeoutDownButton;
    QPushButton* TrigTimeoutUpButton;

    QGroupBox* Frame2;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QPushButton* Command1;
    QPushButton* Command4;
    QCheckBox* Check2;
    QScrollBar* HScroll1;

    QGroupBox* Frame1;
    QLineEdit* CalDateBox;
    QLineEdit* SerialNumBox;
    QLineEdit* MaxSampleFreqBox;
    QLineEdit* maxRecLenBox;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;

    Kurvo* Kurvo1;
    QLabel* Ymax1;
    QLabel* Ymax2;
    QLabel* Label20;
    QLabel* Label21;
    QCheckBox* Check3;
    QCheckBox* Check4;
    QLabel* Ymin1;
    QLabel* Ymin2;
    QLabel* MinFreq;
    QLabel* MaxFreq;
    QCheckBox* Check1;
    QLineEdit* Text1;
    QLabel* Label24;
    QLabel* eventcount;

    QPushButton* Command9;
    QTimer Timer1;
    QWidget* Spektra1Placeholder;
    QWidget* Spektra2Placeholder;

    // The raw sample buffers, created zeroed with the window and never resized.
    std::vector<uint16_t> Ch1Raw;
    std::vector<uint16_t> Ch2Raw;

    Spektra Spektra1;
    Spektra Spektra2;
    WriteVelmarFileII WriteVelmarFileII1;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createControls();
    void createSubsystems();
    void connectUi();
    // Runs a handler at the event boundary: nothing it throws reaches Qt's event loop.
    void guarded(const char* handler, const std::function<void()>& body);

    Rv8Driver& driver_;
    Messages& messages_;
    std::unique_ptr<SampleFrequency> sampleFrequency_;
    std::unique_ptr<class RecordLength> recordLength_;
    std::unique_ptr<ChannelSettings> channels_;
    std::unique_ptr<TriggerSettings> trigger_;
    std::unique_ptr<DisplayPass> display_;
    std::unique_ptr<ViewControls> views_;
    std::unique_ptr<Recorder> recorder_;
    bool unloaded_ = false;
    bool terminated_ = false;
};

}  // namespace rv8
