// The recording file (.cvx): layout constants, the byte encoders the writer uses, and the
// readers. The layout is described byte by byte in docs/recording-format.md.
//
// A file is a header followed by records, appended one at a time and never rewritten. Every
// header and record ends with a CRC-32 of its bytes, so a reader finds the first incomplete or
// damaged record and stops there; every complete record before it is returned.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "logging/Crc32.h"

namespace rv8 {

namespace recfile {

// "\x89RV8\r\n\x1a\n": the first byte catches 7-bit transfers, the CR LF pair catches line-end
// conversion, 0x1A stops a DOS-style type.
constexpr std::array<uint8_t, 8> kMagic = {0x89, 'R', 'V', '8', '\r', '\n', 0x1A, '\n'};
constexpr uint16_t kFormatVersion = 1;
constexpr uint16_t kSampleFormatInt16 = 1;  // signed 16-bit little-endian samples

// File header: everything up to the channel ranges, the ranges (16 bytes per channel), the
// creation time and the CRC-32.
constexpr std::size_t kHeaderFixedBytes = 26;  // magic .. sample rate
constexpr std::size_t kHeaderRangeBytes = 16;  // upper, lower (f64 each) per channel
constexpr std::size_t kHeaderTailBytes = 12;   // creation time (i64) + CRC-32 (u32)
constexpr std::size_t HeaderSize(std::size_t channels) {
    return kHeaderFixedBytes + kHeaderRangeBytes * channels + kHeaderTailBytes;
}
// Header field offsets.
constexpr std::size_t kOffVersion = 8;
constexpr std::size_t kOffHeaderSize = 10;
constexpr std::size_t kOffChannelCount = 14;
constexpr std::size_t kOffSampleFormat = 16;
constexpr std::size_t kOffSampleRate = 18;
constexpr std::size_t kOffRanges = 26;

// Record: "R8RC" as a little-endian u32.
constexpr uint32_t kRecordMarker = 0x43523852u;
constexpr std::size_t kRecordHeaderBytes = 36;
constexpr std::size_t kRecordCrcBytes = 4;
// Record header field offsets.
constexpr std::size_t kRecOffMarker = 0;
constexpr std::size_t kRecOffNumber = 4;
constexpr std::size_t kRecOffTime = 8;
constexpr std::size_t kRecOffSampleRate = 16;
constexpr std::size_t kRecOffEventMark = 24;
constexpr std::size_t kRecOffCommentBytes = 28;
constexpr std::size_t kRecOffFrames = 32;

// Longest comment stored, in bytes of UTF-8. Longer comments are cut at a character boundary.
constexpr uint32_t kMaxCommentBytes = 65536;

// The readers check each record by streaming it through the CRC in pieces of at most this
// many bytes (every record the window writes, at most 590 KB, is one piece).
constexpr std::size_t kReadChunkBytes = std::size_t{4} << 20;

// Bytes of a whole record (header, comment, samples, CRC); computed in 64 bits, so it never
// overflows for any count the header fields can hold.
constexpr uint64_t RecordSize(uint64_t commentBytes, uint64_t frames, uint64_t channels) {
    return kRecordHeaderBytes + commentBytes + 2 * frames * channels + kRecordCrcBytes;
}

// Little-endian field access.
void PutU16(uint8_t* p, uint16_t v);
void PutU32(uint8_t* p, uint32_t v);
void PutU64(uint8_t* p, uint64_t v);
void PutF64(uint8_t* p, double v);
uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);
double GetF64(const uint8_t* p);

// Cuts UTF-8 text to at most `limit` bytes without splitting a character: the cut moves back
// over continuation bytes (10xxxxxx) to the start of the character it would split.
std::size_t Utf8CutLength(const char* text, std::size_t size, std::size_t limit);

}  // namespace recfile

struct ChannelRange {
    double upper = 0.0;  // volts that the top of the sample range stands for
    double lower = 0.0;  // volts that the bottom stands for
};

struct RecordingHeader {
    uint16_t version = 0;
    uint32_t headerSize = 0;
    uint16_t channelCount = 0;
    uint16_t sampleFormat = 0;
    double sampleRate = 0.0;  // at the time the file was opened
    std::vector<ChannelRange> ranges;
    int64_t creationTimeUs = 0;  // microseconds since 1970-01-01 00:00 UTC
};

// Encodes a file header (the CRC is computed here; headerSize and version are taken from the
// channel count and kFormatVersion, whatever the struct holds).
std::vector<uint8_t> EncodeRecordingHeader(const RecordingHeader& header);

// The fields of a record besides its comment and samples.
struct RecordFields {
    uint32_t number = 0;
    int64_t timeUs = 0;
    double sampleRate = 0.0;
    int32_t eventMark = 0;
};

// Encodes one whole record (the CRC is computed here) into `out`, which must hold
// recfile::RecordSize(commentBytes, frames, channels) bytes; returns that size. `samples` holds
// frames x channels interleaved values (may be null when there are none). Allocates nothing.
std::size_t EncodeRecord(uint8_t* out, const RecordFields& fields, const char* comment,
                         std::size_t commentBytes, const int16_t* samples, uint32_t frames,
                         uint16_t channels);

struct RecordingRecord {
    uint32_t number = 0;  // counts from 0 in the file
    int64_t timeUs = 0;   // wall-clock time of writing, microseconds since the Unix epoch
    double sampleRate = 0.0;
    int32_t eventMark = 0;
    uint32_t frames = 0;
    std::string comment;           // UTF-8 bytes as stored
    std::vector<int16_t> samples;  // frames x channels, interleaved
    uint64_t offset = 0;           // byte offset of the record in the file
};

struct RecordingReadResult {
    bool headerOk = false;
    std::string error;  // why the header could not be read, or why the tail is damaged
    RecordingHeader header;
    std::vector<RecordingRecord> records;  // empty when a visitor received them instead
    uint64_t recordCount = 0;              // complete records found (and visited)
    bool damagedTail = false;  // an incomplete or damaged record follows the last good one
    uint64_t tailOffset = 0;   // byte offset where reading stopped (end of the last good record)
    uint64_t tailIndex = 0;    // index the first bad record would have had
    uint64_t fileSize = 0;
    bool stoppedByVisitor = false;
    int64_t firstTimeUs = 0;  // times of the first and last complete records (if any)
    int64_t lastTimeUs = 0;
    bool ioError = false;  // the file could not be opened or read (not a content problem)
    // Reading stopped (damagedTail and ioError set) because memory for a record, or for the
    // records kept so far, ran out; the file itself may be sound beyond that point.
    bool outOfMemory = false;
};

// Called for each complete, checked record in file order; return false to stop reading.
using RecordingVisitor = std::function<bool(const RecordingRecord&)>;
// Called once with the header, when it is sound, before the first record.
using RecordingHeaderVisitor = std::function<void(const RecordingHeader&)>;

// Memory: whatever the file's length fields claim, a reader holds at most one piece of
// kReadChunkBytes ahead of the bytes it has read. A record larger than a piece is first streamed
// through the CRC alone; only when its CRC matched, and only when there is a visitor, is it read
// again into the record handed to the visitor (so a hostile length costs reading the bytes,
// never memory for them, and a valid record costs memory for its samples). Should that memory
// not be had, reading stops there (outOfMemory). No reader throws std::bad_alloc: exceptions
// from a visitor other than std::bad_alloc pass through.
//
// Only regular files are read: a folder, a pipe, a device or a socket is refused (ioError).
// A file is read up to the size it had when it was opened; one cut while being read ends in an
// incomplete record (damagedTail), never a crash.

struct RecordingReadOptions {
    // Size of the pieces records are read in (at least 1). Smaller than kReadChunkBytes only
    // for tests and fuzzers, which thus reach the path of records larger than a piece.
    std::size_t chunkBytes = recfile::kReadChunkBytes;
};

// Reads a whole file into memory.
RecordingReadResult ReadRecording(const std::string& path);
// Visits the records one by one, keeping only one record in memory at a time.
RecordingReadResult ScanRecording(const std::string& path, const RecordingVisitor& visit,
                                  const RecordingHeaderVisitor& onHeader = nullptr,
                                  const RecordingReadOptions& options = {});
// The same on bytes already in memory (for tests and fuzzers).
RecordingReadResult ParseRecording(const uint8_t* data, std::size_t size);
RecordingReadResult ParseRecording(const uint8_t* data, std::size_t size,
                                   const RecordingVisitor& visit,
                                   const RecordingReadOptions& options = {});

}  // namespace rv8
