// The scope window's control inventory: every named control of the window, made by
// setupControls() with its name as objectName, its caption or items, its initial state and its
// place in twips (15 to a pixel at 96 dpi), as Qt's uic lays out a form. Form1 inherits it, so
// the controls are the window's own members.
#pragma once

#include <cstdint>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "display/Kurvo.h"

namespace rv8 {

// The window's title until the instrument has answered.
extern const QString kProgramTitle;
// Trace colours as 0x00BBGGRR, as they are handed to the chart.
constexpr int32_t kChannel1Colour = 0x00FF0000;  // blue
constexpr int32_t kChannel2Colour = 0x000000C0;  // dark red

struct Form1Controls {
    // Creates every control as a child of `form` (or of its frame) and sets up the window itself:
    // title, icon, font, fixed client size.
    void setupControls(QWidget* form);

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
};

}  // namespace rv8
