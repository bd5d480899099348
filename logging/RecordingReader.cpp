// The readers of docs/recording-format.md ("Reading"): the header, then one record after the
// other, each checked by streaming it through the CRC-32 in pieces of at most kReadChunkBytes
// (RecordingReadOptions).
// Whatever a length field claims, reading holds at most one piece ahead of the bytes actually
// read; the samples of a record larger than a piece are collected only after the record was
// read once and its CRC matched.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/DurableFile.h"
#include "logging/RecordHead.h"
#include "logging/RecordingFile.h"
#include "logging/RecordingSource.h"

namespace rv8 {

using namespace recfile;

namespace {

void StopDamaged(RecordingReadResult& r, uint64_t offset, const std::string& why) {
    r.damagedTail = true;
    r.tailOffset = offset;
    r.tailIndex = r.recordCount;
    r.error = DamageText(r.recordCount, offset, why);
}

// Stops at a failed read: an I/O error, or the file ending before the size it had when it was
// opened (it was cut while being read: an incomplete record, not an I/O error).
void StopRead(RecordingReadResult& r, uint64_t offset, Got got) {
    if (got == Got::Ended) {
        StopDamaged(r, offset, "incomplete record (the file ended while it was being read)");
    } else {
        r.ioError = true;
        StopDamaged(r, offset, "read error");
    }
}

bool ReadHeader(Source& src, RecordingReadResult& r) {
    const uint64_t size = src.size();
    r.fileSize = size;
    uint8_t fixed[kHeaderFixedBytes];
    if (size < HeaderSize(1)) {
        r.error = size == 0 ? "the file is empty" : "the file is too short for a header";
        return false;
    }
    const auto readFailed = [&r](Got got) {
        if (got == Got::Ended) {
            r.error = "the file is too short for a header (it was cut while being read)";
        } else {
            r.ioError = true;
            r.error = "cannot read the header";
        }
        return false;
    };
    if (const Got got = src.read(0, fixed, sizeof fixed); got != Got::All) return readFailed(got);
    if (std::memcmp(fixed, kMagic.data(), kMagic.size()) != 0) {
        r.error = "not a recording file (wrong magic)";
        return false;
    }
    RecordingHeader& h = r.header;
    h.version = GetU16(fixed + kOffVersion);
    h.headerSize = GetU32(fixed + kOffHeaderSize);
    h.channelCount = GetU16(fixed + kOffChannelCount);
    h.sampleFormat = GetU16(fixed + kOffSampleFormat);
    h.sampleRate = GetF64(fixed + kOffSampleRate);
    if (h.version < kOldestFormatVersion || h.version > kFormatVersion) {
        r.error = "unsupported format version " + std::to_string(h.version);
        return false;
    }
    if (h.channelCount == 0) {
        r.error = "the header gives 0 channels";
        return false;
    }
    if (h.headerSize != HeaderSize(h.channelCount)) {
        r.error = "the header size " + std::to_string(h.headerSize) + " does not match " +
                  std::to_string(h.channelCount) + " channels";
        return false;
    }
    if (h.headerSize > size) {
        r.error = "the file is too short for its header";
        return false;
    }
    // At most HeaderSize(65535), about 1 MiB, and no more than the file holds.
    std::vector<uint8_t> bytes(h.headerSize);
    if (const Got got = src.read(0, bytes.data(), bytes.size()); got != Got::All) {
        return readFailed(got);
    }
    const std::size_t crcOff = h.headerSize - kRecordCrcBytes;
    if (Crc32(bytes.data(), crcOff) != GetU32(bytes.data() + crcOff)) {
        r.error = "the header is damaged (checksum mismatch)";
        return false;
    }
    if (h.sampleFormat != kSampleFormatInt16) {
        r.error = "unsupported sample format " + std::to_string(h.sampleFormat);
        return false;
    }
    h.ranges.resize(h.channelCount);
    for (std::size_t c = 0; c < h.channelCount; ++c) {
        h.ranges[c].upper = GetF64(bytes.data() + kOffRanges + kHeaderRangeBytes * c);
        h.ranges[c].lower = GetF64(bytes.data() + kOffRanges + kHeaderRangeBytes * c + 8);
    }
    h.creationTimeUs = static_cast<int64_t>(GetU64(bytes.data() + crcOff - 8));
    r.headerOk = true;
    return true;
}

// Streams the bytes of one record after its header and settings block (`head`, already read:
// comment, samples, CRC field) through the CRC, `chunk` holding one piece at a time. With
// `into`, the comment and samples are also copied into it (its comment and samples already
// sized). Returns how the reads went and, when they all did, whether the CRC matched.
Got StreamRecord(Source& src, uint64_t offset, uint64_t total, const std::vector<uint8_t>& head,
                 std::vector<uint8_t>& chunk, std::size_t piece, RecordingRecord* into,
                 bool& crcOk) {
    const uint64_t bodyEnd = total - kRecordCrcBytes;  // record-relative end of the CRC'd bytes
    const uint64_t commentEnd = head.size() + (into ? into->comment.size() : 0);
    uint32_t crc = Crc32(head.data(), head.size());
    uint64_t pos = head.size();
    uint8_t stored[kRecordCrcBytes];
    if (into && total <= piece &&
        bodyEnd == commentEnd + uint64_t{into->samples.size()} * sizeof(int16_t)) {
        // A record of one piece is read straight into its place, without a copy through `chunk`.
        auto* comment = reinterpret_cast<uint8_t*>(into->comment.data());
        auto* samples = reinterpret_cast<uint8_t*>(into->samples.data());
        const std::size_t commentBytes = into->comment.size();
        const std::size_t sampleBytes = into->samples.size() * sizeof(int16_t);
        struct Part {
            uint64_t at;
            uint8_t* dst;
            std::size_t n;
        };
        const Part parts[] = {{pos, comment, commentBytes},
                              {commentEnd, samples, sampleBytes},
                              {bodyEnd, stored, kRecordCrcBytes}};
        for (const Part& p : parts) {
            if (p.n == 0) continue;
            if (const Got got = src.read(offset + p.at, p.dst, p.n); got != Got::All) return got;
        }
        crc = Crc32(samples, sampleBytes, Crc32(comment, commentBytes, crc));
        crcOk = crc == GetU32(stored);
        return Got::All;
    }
    while (pos < total) {
        const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(total - pos, piece));
        if (chunk.size() < n) chunk.resize(n);
        if (const Got got = src.read(offset + pos, chunk.data(), n); got != Got::All) return got;
        // The CRC field may start inside this piece.
        const std::size_t crcd =
            static_cast<std::size_t>(std::min<uint64_t>(n, bodyEnd - std::min(pos, bodyEnd)));
        crc = Crc32(chunk.data(), crcd, crc);
        for (std::size_t i = crcd; i < n; ++i)
            stored[pos + i - bodyEnd] = chunk[i];
        if (into) {
            for (std::size_t i = 0; i < crcd;) {
                const uint64_t at = pos + i;
                if (at < commentEnd) {
                    const std::size_t k =
                        static_cast<std::size_t>(std::min<uint64_t>(crcd - i, commentEnd - at));
                    std::memcpy(into->comment.data() + (at - head.size()), chunk.data() + i, k);
                    i += k;
                } else {
                    std::memcpy(
                        reinterpret_cast<uint8_t*>(into->samples.data()) + (at - commentEnd),
                        chunk.data() + i, crcd - i);
                    i = crcd;
                }
            }
        }
        pos += n;
    }
    crcOk = crc == GetU32(stored);
    return Got::All;
}

// Reads the records after the header; `r` holds what was found when this returns or throws.
void ScanRecords(Source& src, RecordingReadResult& r, const RecordingVisitor& visit,
                 std::size_t piece) {
    const uint64_t size = src.size();
    const uint64_t channels = r.header.channelCount;
    uint64_t offset = r.header.headerSize;
    r.tailOffset = offset;
    const bool settingsBlock = r.header.version >= 2;
    std::vector<uint8_t> chunk;  // one piece of a record at a time, reused
    std::vector<uint8_t> head;   // the record's header and settings block, reused
    RecordingRecord rec;
    // The settings block's size field is read with the header.
    const std::size_t headRead = HeadReadBytes(r.header.version);
    // Every pass either ends the loop or moves `offset` forward by at least one record header.
    while (offset < size) {
        const uint64_t remaining = size - offset;
        std::string why;
        if (CheckRemaining(remaining, r.header.version, why) != HeadCheck::Ok) {
            StopDamaged(r, offset, why);
            break;
        }
        head.resize(headRead);
        if (const Got got = src.read(offset, head.data(), headRead); got != Got::All) {
            StopRead(r, offset, got);
            break;
        }
        RecordHead h;
        if (CheckRecordHead(head.data(), r.recordCount, r.header.channelCount, r.header.version,
                            remaining, h, why) != HeadCheck::Ok) {
            StopDamaged(r, offset, why);
            break;
        }
        const uint32_t number = h.number;
        const uint32_t commentBytes = h.commentBytes;
        const uint32_t frames = h.frames;
        const uint64_t settingsBytes = h.settingsBytes;
        const uint64_t total = h.total;
        if (settingsBlock) {
            // At most SettingsSize(65535) + kMaxSettingsExtraBytes, about 2 MiB, and no more
            // than the file holds.
            head.resize(kRecordHeaderBytes + settingsBytes);
            if (const Got got =
                    src.read(offset + headRead, head.data() + headRead, head.size() - headRead);
                got != Got::All) {
                StopRead(r, offset, got);
                break;
            }
        }
        // A record that fits in one piece is checked and copied in one pass. A larger one is
        // checked first and only then, when a visitor wants it, read again into memory: a
        // hostile frame count costs a stream of bytes through the CRC, never an allocation.
        const std::size_t count = static_cast<std::size_t>(uint64_t{frames} * channels);
        const bool onePass = total <= piece;
        const auto makeRoom = [&] {
            rec.comment.resize(commentBytes);
            rec.samples.resize(count);
        };
        bool crcOk = false;
        if (visit && onePass) makeRoom();
        Got got = StreamRecord(src, offset, total, head, chunk, piece,
                               visit && onePass ? &rec : nullptr, crcOk);
        if (got == Got::All && crcOk && visit && !onePass) {
            try {
                makeRoom();
            } catch (const std::bad_alloc&) {
                r.ioError = true;
                r.outOfMemory = true;
                StopDamaged(
                    r, offset,
                    "not enough memory to hold the record's " + std::to_string(total) + " bytes");
                break;
            }
            got = StreamRecord(src, offset, total, head, chunk, piece, &rec, crcOk);
            if (got == Got::All && !crcOk) {
                StopDamaged(r, offset, "the record changed while it was being read");
                break;
            }
        }
        if (got != Got::All) {
            StopRead(r, offset, got);
            break;
        }
        if (!crcOk) {
            StopDamaged(r, offset, "damaged record (checksum mismatch)");
            break;
        }
        rec.number = number;
        rec.timeUs = static_cast<int64_t>(GetU64(head.data() + kRecOffTime));
        rec.sampleRate = GetF64(head.data() + kRecOffSampleRate);
        rec.eventMark = static_cast<int32_t>(GetU32(head.data() + kRecOffEventMark));
        rec.frames = frames;
        rec.offset = offset;
        rec.samplesOffset = offset + head.size() + commentBytes;
        rec.hasSettings = settingsBlock;
        rec.acquisition = Acquisition{};
        rec.writtenUs = rec.timeUs;
        if (settingsBlock) {
            DecodeSettings(head.data() + kRecordHeaderBytes, r.header.channelCount, rec.acquisition,
                           rec.writtenUs);
            rec.acquisition.endTimeUs = rec.timeUs;
        }
        rec.acquisition.sampleFrequency = rec.sampleRate;
        if constexpr (std::endian::native != std::endian::little) {
            for (int16_t& s : rec.samples)
                s = static_cast<int16_t>(GetU16(reinterpret_cast<const uint8_t*>(&s)));
        }
        // The visitor first: a record is counted only once it was handed over.
        const bool more = !visit || visit(rec);
        if (r.recordCount == 0) r.firstTimeUs = rec.timeUs;
        r.lastTimeUs = rec.timeUs;
        ++r.recordCount;
        offset += total;
        r.tailOffset = offset;
        r.tailIndex = r.recordCount;
        if (!more) {
            r.stoppedByVisitor = true;
            break;
        }
    }
    if (!r.damagedTail && !r.stoppedByVisitor) r.tailOffset = offset;
}

RecordingReadResult Scan(Source& src, const RecordingVisitor& visit,
                         const RecordingHeaderVisitor& onHeader,
                         const RecordingReadOptions& options) {
    RecordingReadResult r;
    if (!ReadHeader(src, r)) return r;
    if (onHeader) onHeader(r.header);
    try {
        ScanRecords(src, r, visit, std::max<std::size_t>(options.chunkBytes, 1));
    } catch (const std::bad_alloc&) {
        // Memory ran out in a visitor (ReadRecording keeps every record) or in the reader:
        // reading stops at the next record with what was found so far.
        r.ioError = true;
        r.outOfMemory = true;
        StopDamaged(r, r.tailOffset, "not enough memory to read on");
    }
    return r;
}

RecordingReadResult ScanPath(const std::string& path, const RecordingVisitor& visit,
                             const RecordingHeaderVisitor& onHeader = nullptr,
                             const RecordingReadOptions& options = {}) {
    RecordingReadResult r;
    if (path.find('\0') != std::string::npos) {
        r.ioError = true;
        r.error = "cannot open the file: the name contains a NUL character";
        return r;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        r.ioError = true;
        r.error = "cannot open " + path + ": " + ErrnoText(errno);
        return r;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        r.ioError = true;
        r.error = "cannot read " + path + ": " +
                  (st.st_mode != 0 ? NotRegularText(st.st_mode) : ErrnoText(err));
        return r;
    }
    FileSource src(fd, static_cast<uint64_t>(st.st_size));
    r = Scan(src, visit, onHeader, options);
    if (r.ioError && src.error() != 0) r.error += " (" + ErrnoText(src.error()) + ")";
    return r;
}

}  // namespace

RecordingReadResult ReadRecording(const std::string& path) {
    std::vector<RecordingRecord> records;
    RecordingReadResult r = ScanPath(path, [&records](const RecordingRecord& rec) {
        records.push_back(rec);
        return true;
    });
    r.records = std::move(records);
    return r;
}

RecordingReadResult ScanRecording(const std::string& path, const RecordingVisitor& visit,
                                  const RecordingHeaderVisitor& onHeader,
                                  const RecordingReadOptions& options) {
    return ScanPath(path, visit, onHeader, options);
}

RecordingReadResult ParseRecording(const uint8_t* data, std::size_t size) {
    std::vector<RecordingRecord> records;
    RecordingReadResult r = ParseRecording(data, size, [&records](const RecordingRecord& rec) {
        records.push_back(rec);
        return true;
    });
    r.records = std::move(records);
    return r;
}

RecordingReadResult ParseRecording(const uint8_t* data, std::size_t size,
                                   const RecordingVisitor& visit,
                                   const RecordingReadOptions& options) {
    MemorySource src(data, data == nullptr ? 0 : size);
    return Scan(src, visit, nullptr, options);
}

}  // namespace rv8
