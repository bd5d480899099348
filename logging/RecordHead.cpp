#include "logging/RecordHead.h"

namespace rv8::recfile {

HeadCheck CheckRemaining(uint64_t remaining, uint16_t version, std::string& why) {
    if (remaining >= HeadReadBytes(version) + kRecordCrcBytes) return HeadCheck::Ok;
    why = "incomplete record (" + std::to_string(remaining) + " bytes at the end of the file)";
    return HeadCheck::Incomplete;
}

HeadCheck CheckRecordHead(const uint8_t* head, uint64_t expected, uint16_t channels,
                          uint16_t version, uint64_t remaining, RecordHead& out, std::string& why) {
    if (GetU32(head + kRecOffMarker) != kRecordMarker) {
        why = "no record marker";
        return HeadCheck::Damaged;
    }
    out.number = GetU32(head + kRecOffNumber);
    if (out.number != expected) {
        why = "record number " + std::to_string(out.number) + " out of sequence";
        return HeadCheck::Damaged;
    }
    out.timeUs = static_cast<int64_t>(GetU64(head + kRecOffTime));
    out.commentBytes = GetU32(head + kRecOffCommentBytes);
    if (out.commentBytes > kMaxCommentBytes) {
        why = "comment length " + std::to_string(out.commentBytes) + " exceeds the limit";
        return HeadCheck::Damaged;
    }
    out.frames = GetU32(head + kRecOffFrames);
    out.settingsBytes = 0;
    if (version >= 2) {
        const uint64_t settingsMin = SettingsSize(channels);
        out.settingsBytes = GetU32(head + kRecordHeaderBytes);
        if (out.settingsBytes < settingsMin ||
            out.settingsBytes > settingsMin + kMaxSettingsExtraBytes) {
            why = "settings block size " + std::to_string(out.settingsBytes) + " does not fit " +
                  std::to_string(channels) + " channels";
            return HeadCheck::Damaged;
        }
    }
    out.headBytes = kRecordHeaderBytes + out.settingsBytes;
    out.total = RecordSize(out.commentBytes, out.frames, channels, 1) + out.settingsBytes;
    if (out.total > remaining) {
        why = "incomplete record (needs " + std::to_string(out.total) + " bytes, " +
              std::to_string(remaining) + " left in the file)";
        return HeadCheck::Incomplete;
    }
    return HeadCheck::Ok;
}

std::string DamageText(uint64_t index, uint64_t offset, const std::string& why) {
    return "record " + std::to_string(index) + " at byte offset " + std::to_string(offset) + ": " +
           why;
}

}  // namespace rv8::recfile
