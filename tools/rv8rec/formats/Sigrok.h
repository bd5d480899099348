// The parts of the sigrok session export (Sigrok.cpp): a channel's entry, converted while libzip
// reads it (SigrokEntry.cpp), and the archive's own file (SigrokArchive.cpp).
#pragma once

#include <zip.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/rv8rec/Common.h"

namespace rv8rec::sigrok {

// Where a record's samples are in the recording.
struct Piece {
    uint64_t offset;  // of the first sample
    uint32_t frames;
};

struct Session {
    std::string path;
    std::vector<Piece> pieces;
    uint64_t frames = 0;
    double rate = 0;
};

// One channel's entry: the pieces converted to float32 volts as libzip reads them. The entry is
// handed over as deflate data made of stored blocks (deflate at level 0: no compression, 5
// bytes of block header per 64 KB) with its CRC-32 computed here, so that libzip copies it as
// it is instead of running its own, much slower, CRC over every byte.
//
// The samples are read from the recording with pread (a file cut while it is exported gives a
// read error, never a fault), at most kReadBytes at a time. The buffers are taken when libzip
// opens the entry and given back when it closes it, so one entry at a time holds memory.
struct ChannelSource {
    static constexpr uint32_t kBlockFloats = 16383;     // 65532 bytes, the most a block holds
    static constexpr std::size_t kReadBytes = 1 << 20;  // of the recording in one read

    int fd = -1;  // the recording (the exporter's)
    uint16_t channels = 0;
    uint16_t channel = 0;
    const float* lut = nullptr;  // volts by sample value (as uint16), the exporter's
    const Session* session = nullptr;
    std::string* failure = nullptr;  // the reason of a read failure, for the message
    zip_error_t error;

    // Reading state.
    std::size_t piece = 0;
    uint32_t frame = 0;  // next frame of the piece to read
    uint64_t floatsLeft = 0;
    std::vector<float> out;
    std::vector<uint8_t> raw;  // frames of the recording as read
    std::size_t outBytes = 0, outPos = 0;
    uint8_t head[5] = {};
    int headPos = 5;
    bool finalSent = false;
    uint32_t crc = 0;
    bool crcKnown = false;

    uint64_t size() const { return session->frames * sizeof(float); }
    uint64_t deflatedSize() const {
        const uint64_t floats = session->frames;
        const uint64_t blocks = floats == 0 ? 1 : (floats + kBlockFloats - 1) / kBlockFloats;
        return size() + 5 * blocks;
    }

    // Converts the next block of floats into `out` and sets up its block header.
    bool nextBlock();
    zip_int64_t read(uint8_t* dst, zip_uint64_t len);
    void open();
    void close();
    // The libzip source callback; `user` is the ChannelSource, which ZIP_SOURCE_FREE deletes.
    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
};

// The archive's own file, as a writable libzip source: written under a temporary name (see
// OutputFile) in 1 MB writes, renamed into place when libzip commits the archive, or handed to
// the batch of a --split export. (libzip's own file source writes through a 4 KB stdio buffer,
// tens of thousands of write calls for a long recording.)
class ArchiveFile {
  public:
    ArchiveFile(std::string path, std::string input, OutputBatch* batch)
        : path_(std::move(path)), input_(std::move(input)), batch_(batch) {
        zip_error_init(&error_);
    }
    ~ArchiveFile() { zip_error_fini(&error_); }

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        return static_cast<ArchiveFile*>(user)->command(data, len, cmd);
    }
    const std::string& failure() const { return failure_; }

  private:
    static constexpr std::size_t kBuffer = 1 << 20;

    zip_int64_t command(void* data, zip_uint64_t len, zip_source_cmd_t cmd);
    bool flush();
    zip_int64_t failed(int code, const std::string& why);

    std::string path_, input_;
    OutputBatch* batch_;
    OutputFile out_;
    int fd_ = -1;
    uint64_t pos_ = 0, size_ = 0, bufStart_ = 0;
    std::vector<uint8_t> buf_;
    zip_error_t error_;
    std::string failure_;
};

}  // namespace rv8rec::sigrok
