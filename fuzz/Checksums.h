// For the fuzz targets that read recordings: writes the right CRC-32 into the header and into
// every record that the length fields place inside the data, so that the fuzzer reaches past
// the CRC checks into the length, numbering and settings rules and into what reads the records.
#pragma once

#include <cstdint>
#include <vector>

#include "logging/RecordingFile.h"

namespace rv8::fuzz {

// Bytes of the record that starts at `head` (at least its header and, from version 2, the size
// field of its settings block, `available` bytes in all), or 0 when they can't be told.
inline uint64_t RecordBytes(const uint8_t* head, uint64_t available, uint64_t channels,
                            uint16_t version) {
    using namespace recfile;
    const uint64_t plain =
        RecordSize(GetU32(head + kRecOffCommentBytes), GetU32(head + kRecOffFrames), channels, 1);
    if (version < 2) return plain;
    if (available < kRecordHeaderBytes + 4) return 0;
    return plain + GetU32(head + kRecordHeaderBytes);
}

inline void RepairChecksums(std::vector<uint8_t>& b) {
    using namespace recfile;
    if (b.size() < kHeaderFixedBytes) return;
    const uint16_t version = GetU16(b.data() + kOffVersion);
    const uint64_t headerSize = GetU32(b.data() + kOffHeaderSize);
    const uint64_t channels = GetU16(b.data() + kOffChannelCount);
    if (headerSize < kRecordCrcBytes || headerSize > b.size() || channels == 0) return;
    PutU32(b.data() + headerSize - 4, Crc32(b.data(), headerSize - 4));
    uint64_t offset = headerSize;
    while (b.size() - offset >= kRecordHeaderBytes + kRecordCrcBytes) {
        const uint8_t* head = b.data() + offset;
        const uint64_t total = RecordBytes(head, b.size() - offset, channels, version);
        if (total < kRecordHeaderBytes + kRecordCrcBytes || total > b.size() - offset) return;
        PutU32(b.data() + offset + total - 4, Crc32(head, total - 4));
        offset += total;
    }
}

}  // namespace rv8::fuzz
