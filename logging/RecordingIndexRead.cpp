// RecordingIndex: finding one record and reading it, its CRC checked (RecordingIndex.h).
#include <bit>
#include <new>

#include "logging/Crc32.h"
#include "logging/DurableFile.h"
#include "logging/RecordHead.h"
#include "logging/RecordingIndex.h"

namespace rv8 {

using namespace recfile;

namespace {

// A record's samples are read into memory only up to this size (a record of the window is at
// most 512 KiB; a larger one is shown as an error rather than risking the program's memory).
constexpr uint64_t kMaxRecordBytes = uint64_t{1} << 30;

}  // namespace

bool RecordingIndex::locate(uint64_t k, Entry& out) {
    uint64_t offset, size, expect;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (k >= offeredLocked()) return false;
        if (k < entries_.size()) {
            out = entries_[k];
            return true;
        }
        // Not walked yet: where it lies if every record is of the size of those before it.
        if (uniformSize_ == 0 || mixedSizes_) return false;
        offset = nextOffset_ + (k - entries_.size()) * uniformSize_;
        size = status_.fileSize;
        expect = uniformSize_;
    }
    if (offset + expect > size) return false;
    uint8_t head[HeadReadBytes(kFormatVersion)];
    if (readAt(offset, head, HeadReadBytes(header_.version)) != 0) return false;
    RecordHead h;
    std::string why;
    if (CheckRecordHead(head, k, header_.channelCount, header_.version, size - offset, h, why) !=
            HeadCheck::Ok ||
        h.total != expect)
        return false;
    out = Entry{offset,  h.total, h.frames, h.commentBytes, static_cast<uint32_t>(h.headBytes),
                h.timeUs};
    return true;
}

RecordingIndex::Result RecordingIndex::read(uint64_t k, RecordingRecord& out, std::string* why) {
    lastRead_.store(RecordingIndex::NowNs());
    const auto say = [why](std::string text) {
        if (why) *why = std::move(text);
    };
    Entry e;
    if (!locate(k, e)) {
        say("record " + std::to_string(k) + " is not in the file (yet)");
        return Result::Missing;
    }
    const uint64_t channels = header_.channelCount;
    const uint64_t sampleBytes = 2 * uint64_t{e.frames} * channels;
    if (sampleBytes > kMaxRecordBytes) {
        say("record " + std::to_string(k) + " holds " + std::to_string(sampleBytes) +
            " bytes of samples, more than can be shown");
        return Result::Failed;
    }
    std::vector<uint8_t> head;
    try {
        head.resize(e.headBytes);
        out.comment.resize(e.commentBytes);
        out.samples.resize(static_cast<std::size_t>(sampleBytes / 2));
    } catch (const std::bad_alloc&) {
        say("not enough memory to hold record " + std::to_string(k));
        return Result::Failed;
    }
    uint8_t stored[kRecordCrcBytes];
    const uint64_t commentAt = e.offset + e.headBytes;
    int err = readAt(e.offset, head.data(), head.size());
    if (err == 0)
        err = readAt(commentAt, reinterpret_cast<uint8_t*>(out.comment.data()), e.commentBytes);
    if (err == 0)
        err = readAt(commentAt + e.commentBytes, reinterpret_cast<uint8_t*>(out.samples.data()),
                     static_cast<std::size_t>(sampleBytes));
    if (err == 0) err = readAt(e.offset + e.size - kRecordCrcBytes, stored, sizeof stored);
    if (err == -1) {
        say("record " + std::to_string(k) + ": the file ended while it was being read");
        return Result::Failed;
    }
    if (err != 0) {
        const std::string text = "read error (" + ErrnoText(err) + ")";
        markDamage(k, e.offset, text, true);
        say(DamageText(k, e.offset, text));
        return Result::Failed;
    }
    uint32_t crc = Crc32(head.data(), head.size());
    crc = Crc32(out.comment.data(), out.comment.size(), crc);
    crc = Crc32(out.samples.data(), static_cast<std::size_t>(sampleBytes), crc);
    if (crc != GetU32(stored) || GetU32(head.data() + kRecOffMarker) != kRecordMarker ||
        GetU32(head.data() + kRecOffNumber) != k) {
        const std::string text = "damaged record (checksum mismatch)";
        markDamage(k, e.offset, text, false);
        say(DamageText(k, e.offset, text));
        return Result::Damaged;
    }
    // The fields, as the sequential readers fill them.
    out.number = static_cast<uint32_t>(k);
    out.timeUs = static_cast<int64_t>(GetU64(head.data() + kRecOffTime));
    out.sampleRate = GetF64(head.data() + kRecOffSampleRate);
    out.eventMark = static_cast<int32_t>(GetU32(head.data() + kRecOffEventMark));
    out.frames = e.frames;
    out.offset = e.offset;
    out.samplesOffset = commentAt + e.commentBytes;
    out.hasSettings = header_.version >= 2;
    out.acquisition = Acquisition{};
    out.writtenUs = out.timeUs;
    if (out.hasSettings) {
        DecodeSettings(head.data() + kRecordHeaderBytes, header_.channelCount, out.acquisition,
                       out.writtenUs);
        out.acquisition.endTimeUs = out.timeUs;
    }
    out.acquisition.sampleFrequency = out.sampleRate;
    if constexpr (std::endian::native != std::endian::little) {
        for (int16_t& s : out.samples)
            s = static_cast<int16_t>(GetU16(reinterpret_cast<const uint8_t*>(&s)));
    }
    return Result::Ok;
}

}  // namespace rv8
