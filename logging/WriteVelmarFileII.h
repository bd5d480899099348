// WriteVelmarFileII: writes recording files (layout in docs/recording-format.md). The window
// sets the per-file settings, opens the file, and then appends one record per logging step
// (comment, event mark, block of samples). Files are created exclusively: an existing file is
// never opened for writing.
#pragma once

#include <cstdint>
#include <memory>

#include <QString>

#include "core/Acquisition.h"

namespace rv8 {

class WriteVelmarFileII {
  public:
    WriteVelmarFileII();
    ~WriteVelmarFileII();  // closes an open file
    WriteVelmarFileII(const WriteVelmarFileII&) = delete;
    WriteVelmarFileII& operator=(const WriteVelmarFileII&) = delete;

    // Per-file settings, taken by OpenFile. SampleRate may also be set while a file is open:
    // the records written after it carry the new rate.
    void ChannelCount(int16_t channels);
    void FileName(const QString& path);
    void SampleRate(double hertz);
    // Voltages that the extremes of a channel's sample values stand for (channel 0 or 1).
    void SetChannelRange(double upper, double lower, int16_t channel);

    // Creates the file from the settings. Fails (returns false, errorString() says why) when
    // the file exists, the folder is missing or not writable, the name is empty or a folder,
    // or a file is already open.
    [[nodiscard]] bool OpenFile();
    // The settings the record being written was taken with and when its measurement ended
    // (the record's time); WriteBlock writes them with it, its sample rate being the
    // acquisition's. A record written without it carries the sample rate set by SampleRate,
    // unknown settings and the time it was written.
    void AddAcquisition(const Acquisition& acquisition);
    // The comment and event mark of the record being written; WriteBlock writes them with it.
    void AddComment(const QString& comment);
    void AddEventMark(int32_t mark);
    // Appends one record: the comment and event mark set since the last record, and `frames`
    // frames of ChannelCount interleaved samples. On failure (disk full, size limit, I/O
    // error, a failed background sync) returns false, the file keeps every complete record
    // before it, and the file is closed. Also ends the recording (false, errorString() says
    // what happened) when the file was deleted, moved, replaced, shortened or lengthened by
    // someone else: found by the background check, or by this record not landing where the
    // previous one ended.
    [[nodiscard]] bool WriteBlock(const int16_t* samples, int32_t frames);
    // What WriteBlock does first, without writing: ends the recording and returns false when
    // the background thread found a failed sync or a changed file (four checks a second).
    // True while the file is sound or when none is open. Cheap: for polling from the window.
    [[nodiscard]] bool CheckOpenFile();
    // Checks the file once more (still there under its name, exactly the bytes written), syncs
    // and closes it. Returns false, with errorString(), when that check or the sync failed (the
    // file is closed all the same); true when all went well or none was open.
    bool CloseFile();

    bool isOpen() const;
    QString fileName() const;
    QString errorString() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace rv8
