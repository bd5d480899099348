// The checks a reader makes on a record's first bytes before it reads the rest (steps 2.1 to 2.3
// of "Reading" in docs/recording-format.md): enough bytes left for a head, the marker, the
// number in sequence, the comment's length, the settings block's size, and the record's size
// against the bytes left. Shared by the sequential readers (RecordingReader.cpp) and the
// random-access index (RecordingIndex.h), so that both stop at the same record with the same
// words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/RecordingFile.h"

namespace rv8::recfile {

// Bytes read first: the record header, and in version 2 the settings block's size field.
constexpr std::size_t HeadReadBytes(uint16_t version) {
    return kRecordHeaderBytes + (version >= 2 ? 4 : 0);
}

// What a record's first bytes say about it.
struct RecordHead {
    uint32_t number = 0;
    int64_t timeUs = 0;
    uint32_t commentBytes = 0;
    uint32_t frames = 0;
    uint64_t settingsBytes = 0;  // the settings block's size S (0 in version 1)
    uint64_t headBytes = 0;      // header and settings block: where the comment starts
    uint64_t total = 0;          // bytes of the whole record, its CRC included
};

enum class HeadCheck {
    Ok,
    Incomplete,  // the file ends before the record does (a record cut short, or still being
                 // written)
    Damaged,     // the bytes cannot be the record expected here
};

// Whether `remaining` bytes (from the record's offset to the end of the file) can hold a record's
// first bytes and CRC; `why` says what is missing when they cannot.
HeadCheck CheckRemaining(uint64_t remaining, uint16_t version, std::string& why);

// Checks the first HeadReadBytes(version) bytes of the record expected as number `expected` of a
// file with `channels` channels, `remaining` bytes from its offset to the end of the file.
// Fills `out` (as far as the fields were read) and, unless Ok, says why in `why` (the words of
// the readers' damaged-tail message, without the record's number and offset).
HeadCheck CheckRecordHead(const uint8_t* head, uint64_t expected, uint16_t channels,
                          uint16_t version, uint64_t remaining, RecordHead& out, std::string& why);

// "record N at byte offset X: WHY", the readers' message for a damaged tail.
std::string DamageText(uint64_t index, uint64_t offset, const std::string& why);

}  // namespace rv8::recfile
