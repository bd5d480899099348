// WriteVelmarFileII: writes recording files (layout in docs/recording-format.md). The window
// sets the per-file settings, opens the file, and then appends one record per logging step
// (comment, event mark, block of samples). Files are created exclusively: an existing file is
// never opened for writing.
#pragma once

#include <cstdint>
#include <memory>

#include <QString>

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
    // The comment and event mark of the record being written; WriteBlock writes them with it.
    void AddComment(const QString& comment);
    void AddEventMark(int32_t mark);
    // Appends one record: the comment and event mark set since the last record, and `frames`
    // frames of ChannelCount interleaved samples. On failure (disk full, size limit, I/O
    // error) returns false, the file keeps every complete record before it, and the file is
    // closed.
    [[nodiscard]] bool WriteBlock(const int16_t* samples, int32_t frames);
    // Syncs and closes the file; does nothing when none is open.
    void CloseFile();

    bool isOpen() const;
    QString fileName() const;
    QString errorString() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace rv8
