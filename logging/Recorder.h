// Recording start and stop ("Log to Corvex file!") and the logging step that ends every display
// pass: while a recording is open, each pass appends one record (numbered comment, event mark 1
// and the block of both channels with the two lowest bits of every sample cleared). While a
// recording is open the file is also watched between passes (the writer's background check,
// polled ten times a second), so that a deleted, replaced or shortened file ends the recording
// with a message even when no pass runs. Failures met while recording are shown without
// waiting (Messages::notify): the acquisition loop goes on.
#pragma once

#include <array>
#include <cstdint>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "core/Acquisition.h"
#include "core/Messages.h"
#include "logging/WriteVelmarFileII.h"

namespace rv8 {

struct RecorderControls {
    QCheckBox& Check1;   // "Log to Corvex file!"
    QLineEdit& Text1;    // file name
    QLineEdit& Text2;    // comment
    QLabel& eventcount;  // CapacityText(n)
    QLineEdit& SetSampleFreqTextBox;
    QLineEdit& SetSenseCh1TextBox;
    QLineEdit& SetSenseCh2TextBox;
    // Disabled while a recording is open, in this order.
    std::array<QPushButton*, 6> steppers;
};

class Recorder {
  public:
    // Records a recording file holds at most.
    static constexpr int16_t kCapacity = 8000;
    // The capacity label's text after record number `number`: "0/8000" ... "7999/8000".
    static QString CapacityText(int number);

    Recorder(RecorderControls controls, WriteVelmarFileII& writer, Messages& messages);

    void Check1_Click();
    // The logging step of a display pass: masks and writes `block` (frames x 2 values) when a
    // recording is open and not full, as a record of `acquisition` (the settings the samples
    // were taken with and when; a redraw hands over those of the acquisition it redraws).
    void LoggingStep(int16_t* block, int32_t frames, const Acquisition& acquisition);
    // Whether the open recording holds kCapacity records and takes no more.
    bool full() const;

    int16_t LoggedRecordCount = 0;

    // The bare name of the first ordinary, non-hidden file that `pattern` (a path whose last
    // part may hold * and ?) matches, or an empty string.
    static QString FirstListedFile(const QString& pattern);

  private:
    void StartSteps();
    void StopSteps();
    // Ends a recording that failed: tells the user (modal only when asked: a failure met while
    // recording never waits for a person) and clears the box (its stop steps run).
    void Fail(const QString& text, bool modal = false);
    // Between passes: ends the recording when the writer's background check found a problem.
    void Watch();
    // Shows on the capacity label whether the recording is full (its text stays the number of
    // the last record written): a full recording takes no more records, without a message.
    void ShowFull(bool full);

    RecorderControls c_;
    WriteVelmarFileII& writer_;
    Messages& messages_;
    QTimer watch_;  // runs while a recording is open
};

}  // namespace rv8
