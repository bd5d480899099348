#include "app/Form1.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QThread>

#include "core/Numbers.h"
#include "core/Ui.h"

namespace rv8 {

Form1::Form1(Rv8Driver& driver, Messages& messages, QWidget* parent)
    : QWidget(parent),
      Ch1Raw(kRawBufferSamples, 0),
      Ch2Raw(kRawBufferSamples, 0),
      driver_(driver),
      messages_(messages) {
    setupControls(this);
    createSubsystems();
    connectUi();
}

Form1::~Form1() = default;

void Form1::guarded(const char* handler, const std::function<void()>& body) {
    try {
        body();
    } catch (const DriverUnavailable& e) {
        if (fatal_.isEmpty()) fatal_ = QString::fromStdString(e.what());
        Timer1.stop();
        if (QThread::currentThread()->loopLevel() > 0) {
            QCoreApplication::exit(3);  // every running event loop returns; main() shuts down
            return;
        }
        // No event loop to return from (a handler called directly): shut down here.
        std::exit(Shutdown(3));
    } catch (const std::exception& e) {
        messages_.notify(kProgramTitle,
                         QStringLiteral("%1 failed: %2")
                             .arg(QLatin1String(handler), QString::fromUtf8(e.what())),
                         MessageIcon::Critical);
    } catch (...) {
        messages_.notify(kProgramTitle, QStringLiteral("%1 failed.").arg(QLatin1String(handler)),
                         MessageIcon::Critical);
    }
}

void Form1::connectUi() {
    // Every handler is wired here, once. A user's pick of a list entry arrives as activated;
    // a check box's click as toggled (also raised when code changes its value, as the
    // handlers that re-tick a box rely on); a text box's change as textChanged.
#define RV8_ON(sender, signal, handler, call) \
    connect(sender, signal, this, [this](auto&&...) { guarded(#handler, [&] { call; }); })
    RV8_ON(Command2, &QPushButton::clicked, Command2_Click, Command2_Click());
    RV8_ON(Command3, &QPushButton::clicked, Command3_Click, Command3_Click());
    RV8_ON(Command1, &QPushButton::clicked, Command1_Click, Command1_Click());
    RV8_ON(Command4, &QPushButton::clicked, Command4_Click, display_->Command4_Click());
    RV8_ON(Command9, &QPushButton::clicked, Command9_Click, Command9_Click());
    RV8_ON(&Timer1, &QTimer::timeout, Timer1_Timer, Timer1_Timer());

    RV8_ON(SetSampleFreqTextBox, &QLineEdit::textChanged, SetSampleFreqTextBox_Change,
           sampleFrequency_->SetSampleFreqTextBox_Change());
    RV8_ON(SetSampleFreqDownButton, &QPushButton::clicked, SetSampleFreqDownButton_Click,
           sampleFrequency_->SetSampleFreqDownButton_Click());
    RV8_ON(SetSampleFreqUpButton, &QPushButton::clicked, SetSampleFreqUpButton_Click,
           sampleFrequency_->SetSampleFreqUpButton_Click());
    RV8_ON(RecordlenthCombo, &QComboBox::activated, RecordlenthCombo_Click,
           recordLength_->RecordlenthCombo_Click());

    RV8_ON(SetSenseCh1DownButton, &QPushButton::clicked, SetSenseCh1DownButton_Click,
           channels_->SetSenseCh1DownButton_Click());
    RV8_ON(SetSenseCh1UpButton, &QPushButton::clicked, SetSenseCh1UpButton_Click,
           channels_->SetSenseCh1UpButton_Click());
    RV8_ON(SetSenseCh2DownButton, &QPushButton::clicked, SetSenseCh2DownButton_Click,
           channels_->SetSenseCh2DownButton_Click());
    RV8_ON(SetSenseCh2UpButton, &QPushButton::clicked, SetSenseCh2UpButton_Click,
           channels_->SetSenseCh2UpButton_Click());
    RV8_ON(SetCoupCh1Combo, &QComboBox::activated, SetCoupCh1Combo_Click,
           channels_->SetCoupCh1Combo_Click());
    RV8_ON(SetCoupCh2Combo, &QComboBox::activated, SetCoupCh2Combo_Click,
           channels_->SetCoupCh2Combo_Click());
    RV8_ON(MeasureModeCombo, &QComboBox::activated, MeasureModeCombo_Click,
           channels_->MeasureModeCombo_Click());

    RV8_ON(TrigSourceCombo, &QComboBox::activated, TrigSourceCombo_Click,
           trigger_->TrigSourceCombo_Click());
    RV8_ON(TrigModeCombo, &QComboBox::activated, TrigModeCombo_Click,
           trigger_->TrigModeCombo_Click());
    RV8_ON(TrigLevelCh1DownButton, &QPushButton::clicked, TrigLevelCh1DownButton_Click,
           trigger_->TrigLevelCh1DownButton_Click());
    RV8_ON(TrigLevelCh1UpButton, &QPushButton::clicked, TrigLevelCh1UpButton_Click,
           trigger_->TrigLevelCh1UpButton_Click());
    RV8_ON(TrigLevelCh2DownButton, &QPushButton::clicked, TrigLevelCh2DownButton_Click,
           trigger_->TrigLevelCh2DownButton_Click());
    RV8_ON(TrigLevelCh2UpButton, &QPushButton::clicked, TrigLevelCh2UpButton_Click,
           trigger_->TrigLevelCh2UpButton_Click());
    RV8_ON(TrigHysCh1DownButton, &QPushButton::clicked, TrigHysCh1DownButton_Click,
           trigger_->TrigHysCh1DownButton_Click());
    RV8_ON(TrigHysCh1UpButton, &QPushButton::clicked, TrigHysCh1UpButton_Click,
           trigger_->TrigHysCh1UpButton_Click());
    RV8_ON(TrigHysCh2DownButton, &QPushButton::clicked, TrigHysCh2DownButton_Click,
           trigger_->TrigHysCh2DownButton_Click());
    RV8_ON(TrigHysCh2UpButton, &QPushButton::clicked, TrigHysCh2UpButton_Click,
           trigger_->TrigHysCh2UpButton_Click());
    RV8_ON(TrigTimeoutDownButton, &QPushButton::clicked, TrigTimeoutDownButton_Click,
           trigger_->TrigTimeoutDownButton_Click());
    RV8_ON(TrigTimeoutUpButton, &QPushButton::clicked, TrigTimeoutUpButton_Click,
           trigger_->TrigTimeoutUpButton_Click());

    RV8_ON(Kurvo1, &Kurvo::RangeChanged, Kurvo1_RangeChanged, Kurvo1_RangeChanged(0, 0));
    RV8_ON(Check3, &QCheckBox::toggled, Check3_Click, views_->Check3_Click());
    RV8_ON(Check4, &QCheckBox::toggled, Check4_Click, views_->Check4_Click());
    RV8_ON(Check2, &QCheckBox::toggled, Check2_Click, views_->Check2_Click());
    RV8_ON(HScroll1, &QScrollBar::valueChanged, HScroll1_Change, views_->HScroll1_Change());
    RV8_ON(HScroll1, &QScrollBar::sliderMoved, HScroll1_Scroll, views_->HScroll1_Scroll());
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) guarded("Option1_Click", [this] { views_->Option1_Click(); });
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on) guarded("Option2_Click", [this] { views_->Option2_Click(); });
    });
    RV8_ON(Check1, &QCheckBox::toggled, Check1_Click, recorder_->Check1_Click());
#undef RV8_ON
}

QString Form1::CalibrationText(int32_t word) {
    const int32_t day = RoundToI32(word / 16777216.0);
    const int32_t month = (word & 0xFF0000) / 65536;
    const uint16_t year = static_cast<uint16_t>(static_cast<uint32_t>(word) & 0xFFFFu);
    return FormatSignSpace(day) + QLatin1Char('-') + FormatSignSpace(month) + QLatin1Char('-') +
           FormatSignSpace(year);
}

bool Form1::Form_Load() {
    Kurvo1->TraceColor(0, kChannel1Colour);  // Label20's colour
    Kurvo1->TraceColor(1, kChannel2Colour);  // Label21's colour
    Command9_Click();
    if (TextToNumber(SerialNumBox->text()) == 0) {
        messages_.show(QStringLiteral("RV8 Scope/Recorder"),
                       QStringLiteral("Corvex RV8 scope not is detected, please verify the "
                                      "connection and try again later"),
                       MessageIcon::Information);
        return false;
    }
    Kurvo1_RangeChanged(0, 0);
    setWindowTitle(kProgramTitle + QStringLiteral(" (SN#:") + SerialNumBox->text() +
                   QLatin1Char(')'));
    views_->FreqYMin = {0, 0};
    views_->FreqYMax = {32768, 32768};
    return true;
}

void Form1::Command9_Click() {
    driver_.InitInstrument(776);
    InitHardware();
    Command9->setEnabled(false);
    Kurvo1->PersistenceMode(Check2->isChecked() ? 1 : 0);
    Kurvo1->PersistenceDepth(static_cast<int16_t>(HScroll1->value()));
}

void Form1::InitHardware() {
    driver_.InitInstrument(776);
    int32_t serial = 0;
    driver_.GetSerialNumber(serial);
    WriteDisabledBox(*SerialNumBox, FormatSignSpace(serial));
    int32_t calibration = 0;
    driver_.GetCalibrationDate(calibration);
    WriteDisabledBox(*CalDateBox, CalibrationText(calibration));
    SetSampleFreqTextBox->setText(FormatSignSpace(driver_.GetMaxSampleFrequency()));
    WriteDisabledBox(*MaxSampleFreqBox, SetSampleFreqTextBox->text());
    WriteDisabledBox(*maxRecLenBox, FormatPlain(driver_.GetMaxRecordLength()));
    SelectItem(*RecordlenthCombo, 5);
    SelectItem(*MeasureModeCombo, 0);
    SelectItem(*TrigSourceCombo, 0);
    SelectItem(*TrigModeCombo, 0);
    driver_.SetTriggerLevel(1, 0.0);
    WriteDisabledBox(*TrigLevelCh1Text, FormatSignSpace(0));
    driver_.SetTriggerLevel(2, 0.0);
    WriteDisabledBox(*TrigLevelCh2Text, FormatSignSpace(0));
    double s = 0;
    driver_.GetSensitivity(1, s);
    double h = s / 8;
    driver_.SetTriggerHys(1, h);
    WriteDisabledBox(*TrigHysCh1Text, FormatSignSpace(h));
    s = 0;
    driver_.GetSensitivity(2, s);
    h = s / 8;
    driver_.SetTriggerHys(2, h);
    WriteDisabledBox(*TrigHysCh2Text, FormatSignSpace(h));
    s = 0;
    driver_.GetSensitivity(1, s);
    WriteDisabledBox(*SetSenseCh1TextBox, FormatPlain(s));
    SelectItem(*SetCoupCh1Combo, 0);
    s = 0;
    driver_.GetSensitivity(2, s);
    WriteDisabledBox(*SetSenseCh2TextBox, FormatPlain(s));
    SelectItem(*SetCoupCh2Combo, 0);
    SetSampleFreqTextBox->setText(FormatPlain(TextToNumber(SetSampleFreqTextBox->text()) / 2));
}

void Form1::Command1_Click() {
    Kurvo1->YMax(0, 32767);
    Kurvo1->YMax(1, 32767);
    Kurvo1->YMin(0, -32768);
    Kurvo1->YMin(1, -32768);
    HScroll3->setValue(1);
    HScroll2->setValue(8192);
    Kurvo1_RangeChanged(0, 0);
}

void Form1::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Timer1.stop();
    const bool wasOpen = WriteVelmarFileII1.isOpen();
    if (!WriteVelmarFileII1.CloseFile() && wasOpen) {
        // The last chance to tell: the program may end right after this.
        const QString text = QStringLiteral("The recording was ended with a problem.\n%1")
                                 .arg(WriteVelmarFileII1.errorString());
        std::fprintf(stderr, "%s\n", qPrintable(text));
        messages_.show(QStringLiteral("Log file"), text, MessageIcon::Warning);
    }
}

void Form1::Form_Terminate() {
    if (terminated_) return;
    terminated_ = true;
    driver_.ExitInstrument();
}

int Form1::Shutdown(int loopResult) {
    // Each step on its own, so that one that fails does not keep the next from running.
    const auto step = [](const char* what, const auto& body) {
        try {
            body();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", what, e.what());
        } catch (...) {
            std::fprintf(stderr, "%s failed\n", what);
        }
    };
    step("Form_Unload", [this] { Form_Unload(); });
    step("Form_Terminate", [this] { Form_Terminate(); });
    if (fatal_.isEmpty()) return loopResult;
    step("Message", [this] {
        std::fprintf(stderr, "%s\n", qPrintable(fatal_));
        messages_.show(kProgramTitle, fatal_, MessageIcon::Critical);
    });
    return 3;
}

void Form1::closeEvent(QCloseEvent* event) {
    guarded("Form_Unload", [this] { Form_Unload(); });
    event->accept();
}

Acquisition Form1::SettingsInForce() const {
    // A list's entry maps to the code its handler sends; no valid pick, nothing was sent.
    const auto code = [](const QComboBox* list, std::initializer_list<int8_t> codes) {
        const int i = list->currentIndex();
        return i >= 0 && i < static_cast<int>(codes.size()) ? codes.begin()[i] : acq::kUnknown;
    };
    Acquisition a;
    a.sampleFrequency = TextToNumber(GetSampleFreqTextBox->text());
    a.recordLength = recordLength_->recordLength();
    a.postSamples = recordLength_->postSamples();
    a.measureMode =
        code(MeasureModeCombo, {acq::kModeChannel1, acq::kModeChannel2, acq::kModeChop});
    a.triggerSource =
        code(TrigSourceCombo, {acq::kSourceChannel1, acq::kSourceChannel2, acq::kSourceNone});
    a.triggerSlope = TrigModeCombo->currentIndex() == 1 ? acq::kFalling : acq::kRising;
    const QLineEdit* sense[2] = {SetSenseCh1TextBox, SetSenseCh2TextBox};
    const QComboBox* coupling[2] = {SetCoupCh1Combo, SetCoupCh2Combo};
    const QLineEdit* level[2] = {TrigLevelCh1Text, TrigLevelCh2Text};
    const QLineEdit* hysteresis[2] = {TrigHysCh1Text, TrigHysCh2Text};
    for (int c = 0; c < 2; ++c) {
        AcquisitionChannel& ch = a.channel[static_cast<std::size_t>(c)];
        ch.sensitivity = TextToNumber(sense[c]->text());
        ch.coupling = coupling[c]->currentIndex() == 1 ? acq::kDC : acq::kAC;
        ch.triggerLevel = TextToNumber(level[c]->text());
        ch.triggerHysteresis = TextToNumber(hysteresis[c]->text());
    }
    return a;
}

void Form1::Measure() {
    if (driver_.StartMeasurement() != 0) return;
    // The measurement is over when the driver returns.
    const int64_t ended = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    // The driver fills as many samples as its record length; one the buffers cannot hold is
    // never fetched.
    if (recordLength_->recordLength() > kRawBufferSamples) return;
    driver_.GetMeasurementRaw(Ch1Raw[0], Ch2Raw[0]);
    // The settings cannot change while the measurement runs (the window waits for it), so
    // those in force now are the ones the samples were taken with.
    Acquisition a = SettingsInForce();
    a.number = ++acquisitions_;
    a.endTimeUs = ended;
    display_->RecordFetched(a);
    DisplayPaint();
}

void Form1::Timer1_Timer() {
    Timer1.stop();
    // Restart the interval whatever the acquisition does, so the loop never stalls.
    struct Restart {
        QTimer& t;
        ~Restart() { t.start(); }
    } restart{Timer1};
    Measure();
    // Draw now, before the interval restarts: painting left to the event loop would run at the
    // start of the interval, and the loop then rounds what is left of it up to a whole
    // millisecond, so every tick would come late by up to that much.
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
}

void Form1::Command2_Click() {
    Measure();
}

void Form1::Command3_Click() {
    if (Timer1.isActive()) {
        Timer1.stop();
        Command3->setText(QStringLiteral("Run"));
    } else {
        Kurvo1->ResetStatistics();  // the chart's statistics cover one run
        Timer1.start();
        Command3->setText(QStringLiteral("Stop"));
    }
}

}  // namespace rv8
