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

#include "core/Acquisition.h"
#include "logging/Crc32.h"

namespace rv8 {

namespace recfile {

// "\x89RV8\r\n\x1a\n": the first byte catches 7-bit transfers, the CR LF pair catches line-end
// conversion, 0x1A stops a DOS-style type.
constexpr std::array<uint8_t, 8> kMagic = {0x89, 'R', 'V', '8', '\r', '\n', 0x1A, '\n'};
// The version written; readers take every version from kOldestFormatVersion on. Version 2 adds
// the settings block to every record (the acquisition's settings and time).
constexpr uint16_t kFormatVersion = 2;
constexpr uint16_t kOldestFormatVersion = 1;
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

// Version 2: the settings block, right after the record header. Its first field is its own size
// S in bytes, at least SettingsSize(C); a reader ignores bytes beyond the fields it knows (up to
// kMaxSettingsExtraBytes of them), so that later versions can add fields.
constexpr std::size_t kSettingsFixedBytes = 28;
constexpr std::size_t kSettingsChannelBytes = 32;
constexpr std::size_t kMaxSettingsExtraBytes = 65536;
constexpr std::size_t SettingsSize(std::size_t channels) {
    return kSettingsFixedBytes + kSettingsChannelBytes * channels;
}
// Settings block field offsets, from the start of the block.
constexpr std::size_t kSetOffSize = 0;
constexpr std::size_t kSetOffAcquisition = 4;
constexpr std::size_t kSetOffWritten = 8;
constexpr std::size_t kSetOffRecordLength = 16;
constexpr std::size_t kSetOffPostSamples = 20;
constexpr std::size_t kSetOffMeasureMode = 24;
constexpr std::size_t kSetOffTriggerSource = 25;
constexpr std::size_t kSetOffTriggerSlope = 26;
constexpr std::size_t kSetOffChannels = 28;
// Within a channel's 32 bytes.
constexpr std::size_t kSetChOffSensitivity = 0;
constexpr std::size_t kSetChOffTriggerLevel = 8;
constexpr std::size_t kSetChOffTriggerHysteresis = 16;
constexpr std::size_t kSetChOffCoupling = 24;
// A code byte that holds no known value.
constexpr uint8_t kUnknownCode = 0xFF;

// Longest comment stored, in bytes of UTF-8. Longer comments are cut at a character boundary.
constexpr uint32_t kMaxCommentBytes = 65536;

// The readers check each record by streaming it through the CRC in pieces of at most this
// many bytes (every record the window writes, at most 590 KB, is one piece).
constexpr std::size_t kReadChunkBytes = std::size_t{4} << 20;

// Bytes of a record's header and settings block as the writer makes them (version 1: no block).
constexpr uint64_t RecordHeadSize(uint64_t channels, uint16_t version = kFormatVersion) {
    return kRecordHeaderBytes + (version >= 2 ? SettingsSize(channels) : 0);
}
// Bytes of a whole record (header, settings, comment, samples, CRC) as the writer makes it;
// computed in 64 bits, so it never overflows for any count the header fields can hold.
constexpr uint64_t RecordSize(uint64_t commentBytes, uint64_t frames, uint64_t channels,
                              uint16_t version = kFormatVersion) {
    return RecordHeadSize(channels, version) + commentBytes + 2 * frames * channels +
           kRecordCrcBytes;
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

// Encodes a file header (the CRC is computed here; headerSize is taken from the channel count,
// whatever the struct holds). `version` is kFormatVersion for every file the writer makes; 1
// makes a file of the older layout (for tests of the readers).
std::vector<uint8_t> EncodeRecordingHeader(const RecordingHeader& header,
                                           uint16_t version = recfile::kFormatVersion);

// The fields of a record besides its comment and samples.
struct RecordFields {
    uint32_t number = 0;
    int64_t timeUs = 0;  // version 2: when the measurement ended; version 1: when written
    double sampleRate = 0.0;
    int32_t eventMark = 0;
    // Version 2 only: the settings block.
    int64_t writtenUs = 0;  // when the record was written
    Acquisition acquisition;
};

// Encodes the start of a record, its header, settings block (version 2) and comment, into
// `out`, which must hold recfile::RecordHeadSize(channels, version) + commentBytes bytes;
// returns that size. The record goes on with the samples (frames x channels little-endian 16-bit
// values) and ends with the CRC of all that precedes it, so a writer can send the samples from
// where they lie.
std::size_t EncodeRecordHead(uint8_t* out, const RecordFields& fields, const char* comment,
                             std::size_t commentBytes, uint32_t frames, uint16_t channels,
                             uint16_t version = recfile::kFormatVersion);

// Encodes one whole record (the CRC is computed here) into `out`, which must hold
// recfile::RecordSize(commentBytes, frames, channels, version) bytes; returns that size.
// `samples` holds frames x channels interleaved values (may be null when there are none).
// Allocates nothing.
std::size_t EncodeRecord(uint8_t* out, const RecordFields& fields, const char* comment,
                         std::size_t commentBytes, const int16_t* samples, uint32_t frames,
                         uint16_t channels, uint16_t version = recfile::kFormatVersion);

// The settings block of version 2: encodes `channels` channels' entries into `out` (which must
// hold recfile::SettingsSize(channels) bytes; channels beyond the two of an Acquisition are
// stored as unknown), and decodes a block of `size` bytes (at least SettingsSize(channels)).
void EncodeSettings(uint8_t* out, const Acquisition& acquisition, int64_t writtenUs,
                    uint16_t channels);
void DecodeSettings(const uint8_t* block, uint16_t channels, Acquisition& acquisition,
                    int64_t& writtenUs);

struct RecordingRecord {
    uint32_t number = 0;  // counts from 0 in the file
    // Microseconds since the Unix epoch: when the measurement ended (the time of the record's
    // last frame); in a version 1 file, when the record was written.
    int64_t timeUs = 0;
    double sampleRate = 0.0;
    int32_t eventMark = 0;
    uint32_t frames = 0;
    std::string comment;           // UTF-8 bytes as stored
    std::vector<int16_t> samples;  // frames x channels, interleaved
    uint64_t offset = 0;           // byte offset of the record in the file
    uint64_t samplesOffset = 0;    // byte offset of its first sample in the file
    // Version 2: the settings the samples were taken with and when the record was written. A
    // version 1 record has no settings block: every setting unknown, writtenUs = timeUs.
    bool hasSettings = false;
    Acquisition acquisition;
    int64_t writtenUs = 0;
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
