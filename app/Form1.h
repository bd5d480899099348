// Form1: the scope window. Its controls and the acquisition timer come from Form1Controls (each
// named member also carries its name as objectName); it owns the raw sample buffers and the
// hosted components, creates the subsystem objects and wires each control to its handler in one
// place (connectUi). Start-up, shutdown and the acquisition cycle are its own procedures.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <QWidget>

#include "app/Form1Controls.h"
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

class Form1 : public QWidget, public Form1Controls {
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
    // Stops the acquisition and closes the recording (synced); one that could not be closed
    // soundly (the file changed under it, a failed sync) is reported with a modal message, as
    // the program may end right after. Runs once.
    void Form_Unload();
    void Form_Terminate();
    // The end of the program after the event loop: Form_Unload (the recording closed and
    // synced), Form_Terminate, then the message of a fatal error, if one ended the loop. Returns
    // the exit status: 3 after a fatal error, `loopResult` otherwise. Never throws (the driver
    // may be unusable by then).
    int Shutdown(int loopResult);
    // The error that ended the program from inside a handler (a driver function that cannot be
    // resolved), or empty.
    const QString& fatalError() const { return fatal_; }

    // The acquisition cycle.
    void Measure();
    void Timer1_Timer();
    void Command2_Click();  // "Single"
    void Command3_Click();  // "Run/Stop"

    void DisplayPaint() { display_->DisplayPaint(); }
    // The acquisition settings in force as the window knows them: the boxes and lists the
    // settings handlers write (the values they last read back or sent), the record length and
    // post-trigger samples last reported. No driver call. Number and end time left unknown.
    Acquisition SettingsInForce() const;
    // The acquisition whose samples the raw buffers hold (number 0 before the first one).
    const Acquisition& LastAcquisition() const { return display_->acquisition(); }
    void Kurvo1_RangeChanged(int32_t a, int32_t b) { display_->Kurvo1_RangeChanged(a, b); }

    int32_t RecordLength() const { return recordLength_->recordLength(); }
    int32_t PostSamples() const { return recordLength_->postSamples(); }
    int16_t LoggedRecordCount() const { return recorder_->LoggedRecordCount; }
    ViewControls& views() { return *views_; }
    WriteVelmarFileII& writer() { return WriteVelmarFileII1; }

    // Calibration word as the text of the "Cal. Date:" box: day, month, year in sign-space.
    static QString CalibrationText(int32_t word);

    // The raw sample buffers, created zeroed with the window and never resized.
    std::vector<uint16_t> Ch1Raw;
    std::vector<uint16_t> Ch2Raw;

    Spektra Spektra1;
    Spektra Spektra2;
    WriteVelmarFileII WriteVelmarFileII1;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void createSubsystems();
    void connectUi();
    // Runs a handler at the event boundary: nothing it throws reaches Qt's event loop. Failures
    // are shown without waiting (the acquisition loop goes on); a driver that became unusable
    // (DriverUnavailable) stops the acquisition and quits the event loop with status 3, so that
    // main() shuts down in order (Shutdown).
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
    uint32_t acquisitions_ = 0;  // acquisitions since the window opened
    bool unloaded_ = false;
    bool terminated_ = false;
    QString fatal_;
};

}  // namespace rv8
