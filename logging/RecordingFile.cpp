#include "logging/RecordingFile.h"

#include <bit>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/DurableFile.h"

namespace rv8 {

namespace recfile {

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutF64(uint8_t* p, double v) {
    PutU64(p, std::bit_cast<uint64_t>(v));
}

uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
double GetF64(const uint8_t* p) {
    return std::bit_cast<double>(GetU64(p));
}

std::size_t Utf8CutLength(const char* text, std::size_t size, std::size_t limit) {
    if (size <= limit) return size;
    std::size_t cut = limit;
    // text[cut] is the first byte left out; while it continues a character, that character
    // would be split, so leave it out whole.
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

}  // namespace recfile

using namespace recfile;

std::vector<uint8_t> EncodeRecordingHeader(const RecordingHeader& h) {
    const std::size_t channels = h.channelCount;
    std::vector<uint8_t> out(HeaderSize(channels), 0);
    uint8_t* p = out.data();
    std::memcpy(p, kMagic.data(), kMagic.size());
    PutU16(p + kOffVersion, kFormatVersion);
    PutU32(p + kOffHeaderSize, static_cast<uint32_t>(out.size()));
    PutU16(p + kOffChannelCount, h.channelCount);
    PutU16(p + kOffSampleFormat, h.sampleFormat);
    PutF64(p + kOffSampleRate, h.sampleRate);
    for (std::size_t c = 0; c < channels; ++c) {
        const ChannelRange r = c < h.ranges.size() ? h.ranges[c] : ChannelRange{};
        PutF64(p + kOffRanges + kHeaderRangeBytes * c, r.upper);
        PutF64(p + kOffRanges + kHeaderRangeBytes * c + 8, r.lower);
    }
    const std::size_t timeOff = kOffRanges + kHeaderRangeBytes * channels;
    PutU64(p + timeOff, static_cast<uint64_t>(h.creationTimeUs));
    PutU32(p + timeOff + 8, Crc32(p, timeOff + 8));
    return out;
}

std::size_t EncodeRecord(uint8_t* p, const RecordFields& f, const char* comment,
                         std::size_t commentBytes, const int16_t* samples, uint32_t frames,
                         uint16_t channels) {
    const std::size_t sampleBytes =
        2 * static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    const std::size_t total = static_cast<std::size_t>(RecordSize(commentBytes, frames, channels));
    PutU32(p + kRecOffMarker, kRecordMarker);
    PutU32(p + kRecOffNumber, f.number);
    PutU64(p + kRecOffTime, static_cast<uint64_t>(f.timeUs));
    PutF64(p + kRecOffSampleRate, f.sampleRate);
    PutU32(p + kRecOffEventMark, static_cast<uint32_t>(f.eventMark));
    PutU32(p + kRecOffCommentBytes, static_cast<uint32_t>(commentBytes));
    PutU32(p + kRecOffFrames, frames);
    if (commentBytes > 0) std::memcpy(p + kRecordHeaderBytes, comment, commentBytes);
    uint8_t* s = p + kRecordHeaderBytes + commentBytes;
    if constexpr (std::endian::native == std::endian::little) {
        if (sampleBytes > 0) std::memcpy(s, samples, sampleBytes);
    } else {
        for (std::size_t i = 0; i < sampleBytes / 2; ++i) {
            PutU16(s + 2 * i, static_cast<uint16_t>(samples[i]));
        }
    }
    const std::size_t crcOff = total - kRecordCrcBytes;
    PutU32(p + crcOff, Crc32(p, crcOff));
    return total;
}

namespace {

// Where the bytes come from: a file (read piece by piece) or a buffer in memory.
class Source {
  public:
    virtual ~Source() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly n bytes at offset; false on an I/O error. Callers stay within size().
    virtual bool read(uint64_t offset, uint8_t* dst, std::size_t n) = 0;
};

class MemorySource : public Source {
  public:
    MemorySource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* dst, std::size_t n) override {
        if (n > 0) std::memcpy(dst, data_ + offset, n);
        return true;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
};

class FileSource : public Source {
  public:
    explicit FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* dst, std::size_t n) override {
        while (n > 0) {
            const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                error_ = got < 0 ? errno : EIO;
                return false;
            }
            dst += got;
            n -= static_cast<std::size_t>(got);
            offset += static_cast<uint64_t>(got);
        }
        return true;
    }
    int error() const { return error_; }

  private:
    int fd_;
    uint64_t size_;
    int error_ = 0;
};

void StopDamaged(RecordingReadResult& r, uint64_t offset, std::string why) {
    r.damagedTail = true;
    r.tailOffset = offset;
    r.tailIndex = r.recordCount;
    r.error = "record " + std::to_string(r.recordCount) + " at byte offset " +
              std::to_string(offset) + ": " + why;
}

bool ReadHeader(Source& src, RecordingReadResult& r) {
    const uint64_t size = src.size();
    r.fileSize = size;
    uint8_t fixed[kHeaderFixedBytes];
    if (size < HeaderSize(1)) {
        r.error = size == 0 ? "the file is empty" : "the file is too short for a header";
        return false;
    }
    if (!src.read(0, fixed, sizeof fixed)) {
        r.ioError = true;
        r.error = "cannot read the header";
        return false;
    }
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
    if (h.version != kFormatVersion) {
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
    if (!src.read(0, bytes.data(), bytes.size())) {
        r.ioError = true;
        r.error = "cannot read the header";
        return false;
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

RecordingReadResult Scan(Source& src, const RecordingVisitor& visit,
                         const RecordingHeaderVisitor& onHeader = nullptr) {
    RecordingReadResult r;
    if (!ReadHeader(src, r)) return r;
    if (onHeader) onHeader(r.header);
    const uint64_t size = src.size();
    const uint64_t channels = r.header.channelCount;
    uint64_t offset = r.header.headerSize;
    std::vector<uint8_t> buf;  // one record at a time, reused
    RecordingRecord rec;
    // Every pass either ends the loop or moves `offset` forward by at least one record header.
    while (offset < size) {
        const uint64_t remaining = size - offset;
        if (remaining < kRecordHeaderBytes + kRecordCrcBytes) {
            StopDamaged(r, offset,
                        "incomplete record (" + std::to_string(remaining) +
                            " bytes at the end of the file)");
            break;
        }
        uint8_t head[kRecordHeaderBytes];
        if (!src.read(offset, head, sizeof head)) {
            r.ioError = true;
            StopDamaged(r, offset, "read error");
            break;
        }
        if (GetU32(head + kRecOffMarker) != kRecordMarker) {
            StopDamaged(r, offset, "no record marker");
            break;
        }
        const uint32_t number = GetU32(head + kRecOffNumber);
        if (number != r.recordCount) {
            StopDamaged(r, offset, "record number " + std::to_string(number) + " out of sequence");
            break;
        }
        const uint32_t commentBytes = GetU32(head + kRecOffCommentBytes);
        if (commentBytes > kMaxCommentBytes) {
            StopDamaged(r, offset,
                        "comment length " + std::to_string(commentBytes) + " exceeds the limit");
            break;
        }
        const uint32_t frames = GetU32(head + kRecOffFrames);
        const uint64_t total = RecordSize(commentBytes, frames, channels);
        if (total > remaining) {
            StopDamaged(r, offset,
                        "incomplete record (needs " + std::to_string(total) + " bytes, " +
                            std::to_string(remaining) + " left in the file)");
            break;
        }
        // `total` is bounded by the bytes the file really holds, so this never over-allocates.
        buf.resize(static_cast<std::size_t>(total));
        std::memcpy(buf.data(), head, sizeof head);
        if (!src.read(offset + sizeof head, buf.data() + sizeof head, buf.size() - sizeof head)) {
            r.ioError = true;
            StopDamaged(r, offset, "read error");
            break;
        }
        const std::size_t crcOff = buf.size() - kRecordCrcBytes;
        if (Crc32(buf.data(), crcOff) != GetU32(buf.data() + crcOff)) {
            StopDamaged(r, offset, "damaged record (checksum mismatch)");
            break;
        }
        rec.number = number;
        rec.timeUs = static_cast<int64_t>(GetU64(head + kRecOffTime));
        rec.sampleRate = GetF64(head + kRecOffSampleRate);
        rec.eventMark = static_cast<int32_t>(GetU32(head + kRecOffEventMark));
        rec.frames = frames;
        rec.offset = offset;
        rec.comment.assign(reinterpret_cast<const char*>(buf.data() + kRecordHeaderBytes),
                           commentBytes);
        const uint8_t* s = buf.data() + kRecordHeaderBytes + commentBytes;
        const std::size_t count = static_cast<std::size_t>(frames * channels);
        rec.samples.resize(count);
        if constexpr (std::endian::native == std::endian::little) {
            if (count > 0) std::memcpy(rec.samples.data(), s, count * 2);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                rec.samples[i] = static_cast<int16_t>(GetU16(s + 2 * i));
            }
        }
        if (r.recordCount == 0) r.firstTimeUs = rec.timeUs;
        r.lastTimeUs = rec.timeUs;
        ++r.recordCount;
        offset += total;
        r.tailOffset = offset;
        r.tailIndex = r.recordCount;
        if (visit && !visit(rec)) {
            r.stoppedByVisitor = true;
            break;
        }
    }
    if (!r.damagedTail && !r.stoppedByVisitor) r.tailOffset = offset;
    return r;
}

RecordingReadResult ScanPath(const std::string& path, const RecordingVisitor& visit,
                             const RecordingHeaderVisitor& onHeader = nullptr) {
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
                  (S_ISDIR(st.st_mode) ? std::string("it is a folder")
                   : err != 0          ? ErrnoText(err)
                                       : std::string("not a regular file"));
        return r;
    }
    FileSource src(fd, static_cast<uint64_t>(st.st_size));
    r = Scan(src, visit, onHeader);
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
                                  const RecordingHeaderVisitor& onHeader) {
    return ScanPath(path, visit, onHeader);
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
                                   const RecordingVisitor& visit) {
    MemorySource src(data, data == nullptr ? 0 : size);
    return Scan(src, visit);
}

}  // namespace rv8
