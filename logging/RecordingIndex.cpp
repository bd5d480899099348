#include "logging/RecordingIndex.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logging/Crc32.h"
#include "logging/DurableFile.h"
#include "logging/RecordHead.h"
#include "logging/RecordingSource.h"

namespace rv8 {

using namespace recfile;

namespace {

constexpr int kHeadsPerStep = 256;
// The background CRC walk's pause after each piece (4 MiB) it checked.
constexpr auto kCrcPause = std::chrono::milliseconds(4);
// While read() ran this recently, the background CRC walk leaves the disk to it.
constexpr auto kQuietAfterRead = std::chrono::milliseconds(150);

uint64_t FileSizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

int64_t RecordingIndex::NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<RecordingIndex> RecordingIndex::Open(const std::string& path, std::string& error,
                                                     bool* ioError) {
    return Open(path, Options{}, error, ioError);
}

std::unique_ptr<RecordingIndex> RecordingIndex::Open(const std::string& path,
                                                     const Options& options, std::string& error,
                                                     bool* ioError) {
    const auto fail = [&](std::string why, bool io) -> std::unique_ptr<RecordingIndex> {
        error = std::move(why);
        if (ioError) *ioError = io;
        return nullptr;
    };
    if (path.find('\0') != std::string::npos)
        return fail("cannot open the file: the name contains a NUL character", true);
    // As the sequential readers open it: never waiting for a FIFO's writer, regular files only.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail("cannot open " + path + ": " + ErrnoText(errno), true);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = errno;
        ::close(fd);
        return fail("cannot read " + path + ": " +
                        (st.st_mode != 0 ? NotRegularText(st.st_mode) : ErrnoText(err)),
                    true);
    }
    std::unique_ptr<RecordingIndex> index(new RecordingIndex(path, fd, options));
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    // The header is checked by the sequential reader itself, on the header's bytes: as many as
    // it claims (within the largest header there can be), or the whole file when it is shorter.
    std::vector<uint8_t> bytes(
        static_cast<std::size_t>(std::min<uint64_t>(size, kHeaderFixedBytes)));
    if (index->readAt(0, bytes.data(), bytes.size()) != 0) {
        return fail("cannot read " + path + ": cannot read the header", true);
    }
    if (bytes.size() >= kOffHeaderSize + 4) {
        const uint64_t claimed =
            std::min<uint64_t>(GetU32(bytes.data() + kOffHeaderSize), HeaderSize(UINT16_MAX));
        bytes.resize(static_cast<std::size_t>(std::min(size, std::max(claimed, HeaderSize(1)))));
        if (index->readAt(0, bytes.data(), bytes.size()) != 0)
            return fail("cannot read " + path + ": cannot read the header", true);
    }
    const RecordingReadResult r = ParseRecording(bytes.data(), bytes.size(), nullptr);
    if (!r.headerOk) return fail(r.error, false);
    index->header_ = r.header;
    index->nextOffset_ = r.header.headerSize;
    index->status_.fileSize = size;
    // A file modified recently may still be written to: its last record gets the settle time.
    const auto age = std::chrono::system_clock::now() -
                     std::chrono::system_clock::time_point(
                         std::chrono::seconds(st.st_mtim.tv_sec) +
                         std::chrono::duration_cast<std::chrono::system_clock::duration>(
                             std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    index->lastGrowth_ =
        Clock::now() - std::chrono::duration_cast<Clock::duration>(std::max(age, age.zero()));
    // The walks jump from record to record: read-ahead would only fetch bytes nobody reads.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    // The first record's head: its size places the records the walk has not reached yet.
    index->walkHeads(size, 1);
    return index;
}

RecordingIndex::RecordingIndex(std::string path, int fd, const Options& options)
    : path_(std::move(path)), fd_(fd), options_(options) {}

RecordingIndex::~RecordingIndex() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
}

int RecordingIndex::readAt(uint64_t offset, uint8_t* dst, std::size_t n) const {
    int error = 0;
    switch (recfile::ReadFile(fd_, offset, dst, n, error)) {
        case recfile::Got::All:
            return 0;
        case recfile::Got::Ended:
            return -1;
        case recfile::Got::Failed:
            break;
    }
    return error != 0 ? error : EIO;
}

// ---- status

uint64_t RecordingIndex::offeredLocked() const {
    return statusLocked().count;
}

RecordingIndex::Status RecordingIndex::statusLocked() const {
    Status s = status_;
    s.ioError = false;
    s.indexed = entries_.size();
    s.walking = !headDamage_ && !tailIncomplete_ && nextOffset_ < s.fileSize;
    s.estimated = s.indexed;
    if (s.walking && uniformSize_ > 0 && !mixedSizes_)
        s.estimated += (s.fileSize - nextOffset_) / uniformSize_;
    s.growing = Clock::now() - lastGrowth_ < options_.settle;
    s.pending = tailIncomplete_ && s.growing;
    // The intact records end at the earliest of: a wrong head, an incomplete record that is no
    // longer being written, a record whose CRC or read failed.
    uint64_t end = UINT64_MAX;
    const auto consider = [&](uint64_t at, uint64_t offset, const std::string& why, bool io) {
        if (at >= end) return;
        end = at;
        s.damaged = true;
        s.intact = at;
        s.tailOffset = offset;
        s.damage = DamageText(at, offset, why);
        s.ioError = io;
    };
    if (headDamage_) consider(headDamageAt_, nextOffset_, headWhy_, status_.ioError);
    if (tailIncomplete_ && !s.pending) consider(entries_.size(), nextOffset_, tailWhy_, false);
    if (crcDamageAt_ != UINT64_MAX) consider(crcDamageAt_, crcDamageOffset_, crcWhy_, crcIoError_);
    s.count = s.damaged ? std::min(s.estimated, s.intact) : s.estimated;
    s.verifying = options_.verify && s.verified < std::min<uint64_t>(s.indexed, end);
    return s;
}

RecordingIndex::Status RecordingIndex::status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statusLocked();
}

bool RecordingIndex::entry(uint64_t k, Entry& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= entries_.size()) return false;
    out = entries_[k];
    return true;
}

void RecordingIndex::markDamage(uint64_t k, uint64_t offset, const std::string& why, bool ioError) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (k >= crcDamageAt_) return;
    crcDamageAt_ = k;
    crcDamageOffset_ = offset;
    crcWhy_ = why;
    crcIoError_ = ioError;
    touch();
}

// ---- the walks

bool RecordingIndex::advance() {
    uint64_t size;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size = status_.fileSize;
    }
    if (walkHeads(size, kHeadsPerStep)) return true;
    if (checkCrcs(size)) return true;
    return lookForGrowth();
}

bool RecordingIndex::walkHeads(uint64_t size, int maxHeads) {
    uint64_t offset, k;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (headDamage_ || tailIncomplete_ || nextOffset_ >= size) return false;
        offset = nextOffset_;
        k = entries_.size();
    }
    const uint16_t version = header_.version;
    uint8_t head[HeadReadBytes(kFormatVersion)];
    std::vector<Entry> found;
    bool incomplete = false, damaged = false, io = false;
    std::string why;
    for (int i = 0; i < maxHeads && offset < size; ++i) {
        const uint64_t remaining = size - offset;
        if (CheckRemaining(remaining, version, why) != HeadCheck::Ok) {
            incomplete = true;
            break;
        }
        const int err = readAt(offset, head, HeadReadBytes(version));
        if (err == -1) break;  // the file shrank: lookForGrowth takes it up
        if (err != 0) {
            damaged = io = true;
            why = "read error (" + ErrnoText(err) + ")";
            break;
        }
        RecordHead h;
        const HeadCheck c =
            CheckRecordHead(head, k, header_.channelCount, version, remaining, h, why);
        if (c != HeadCheck::Ok) {
            (c == HeadCheck::Incomplete ? incomplete : damaged) = true;
            break;
        }
        found.push_back(Entry{offset, h.total, h.frames, h.commentBytes,
                              static_cast<uint32_t>(h.headBytes), h.timeUs});
        offset += h.total;
        ++k;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : found) {
        if (uniformSize_ == 0 && !mixedSizes_) uniformSize_ = e.size;
        if (e.size != uniformSize_) mixedSizes_ = true;
        entries_.push_back(e);
    }
    nextOffset_ = offset;
    tailIncomplete_ = incomplete;
    tailWhy_ = incomplete ? why : std::string();
    if (damaged) {
        headDamage_ = true;
        headDamageAt_ = k;
        headWhy_ = why;
        status_.ioError = io;
    }
    if (!found.empty() || incomplete || damaged) touch();
    return !found.empty() || damaged;
}

bool RecordingIndex::checkCrcs(uint64_t size) {
    if (!options_.verify) return false;
    Entry e;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (crcNext_ >= entries_.size() || crcNext_ >= crcDamageAt_) return false;
        // Not while the file grows: the records a writer appends are checked once it rests
        // (each one read for showing is checked then), so that following a recording costs
        // the machine no second stream of its bytes.
        if (Clock::now() - lastGrowth_ < options_.settle) return false;
        e = entries_[crcNext_];
    }
    if (e.offset + e.size > size) return false;
    const uint64_t body = e.size - kRecordCrcBytes;
    const std::size_t n =
        static_cast<std::size_t>(std::min<uint64_t>(body - crcPos_, kReadChunkBytes));
    if (piece_.size() < n) piece_.resize(n);
    int err = readAt(e.offset + crcPos_, piece_.data(), n);
    if (err == 0) {
        crcRunning_ = Crc32(piece_.data(), n, crcRunning_);
        crcPos_ += n;
        crcSincePause_ += n;
        if (crcPos_ < body) return true;
        uint8_t stored[kRecordCrcBytes];
        err = readAt(e.offset + body, stored, sizeof stored);
        if (err == 0) {
            const bool ok = crcRunning_ == GetU32(stored);
            crcPos_ = 0;
            crcRunning_ = 0;
            if (!ok) {
                markDamage(crcNext_, e.offset, "damaged record (checksum mismatch)", false);
                return true;
            }
            // What was checked leaves the page cache, as the writer's synced bytes do: checking
            // a recording of gigabytes must not push other programs' files out of memory.
            ::posix_fadvise(fd_, static_cast<off_t>(e.offset), static_cast<off_t>(e.size),
                            POSIX_FADV_DONTNEED);
            std::lock_guard<std::mutex> lock(mutex_);
            status_.verified = ++crcNext_;
            touch();
            return true;
        }
    }
    crcPos_ = 0;
    crcRunning_ = 0;
    if (err == -1) return lookForGrowth();  // the file shrank meanwhile
    markDamage(crcNext_, e.offset, "read error (" + ErrnoText(err) + ")", true);
    return true;
}

bool RecordingIndex::lookForGrowth() {
    const uint64_t size = FileSizeOf(fd_);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasPending = tailIncomplete_ && Clock::now() - lastGrowth_ < options_.settle;
    if (size == status_.fileSize) {
        // Nothing new; only an incomplete last record may have stopped being "still written".
        if (wasPending != statusLocked().pending) {
            touch();
            return true;
        }
        return false;
    }
    if (size < status_.fileSize) {
        // Cut back (the writer does after a failed write): forget the records beyond the end.
        while (!entries_.empty() && entries_.back().offset + entries_.back().size > size)
            entries_.pop_back();
        nextOffset_ =
            entries_.empty() ? header_.headerSize : entries_.back().offset + entries_.back().size;
        headDamage_ = false;
        crcNext_ = std::min<uint64_t>(crcNext_, entries_.size());
        crcPos_ = 0;
        crcRunning_ = 0;
        status_.verified = crcNext_;
        if (crcDamageAt_ >= entries_.size()) crcDamageAt_ = UINT64_MAX;
    }
    status_.fileSize = size;
    lastGrowth_ = Clock::now();
    tailIncomplete_ = false;  // walked again from where it stopped
    touch();
    return true;
}

void RecordingIndex::startBackground(std::function<void()> changed,
                                     std::chrono::milliseconds poll) {
    if (thread_.joinable()) return;
    thread_ = std::thread([this, changed = std::move(changed), poll] {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(wakeMutex_);
                if (stop_) return;
            }
            const uint64_t before = status().changes;
            uint64_t size;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                size = status_.fileSize;
            }
            bool worked = walkHeads(size, kHeadsPerStep);
            // The CRC walk gives way to the records being shown.
            const bool quiet =
                NowNs() - lastRead_.load() > std::chrono::nanoseconds(kQuietAfterRead).count();
            bool checked = false;
            if (!worked && quiet) worked = checked = checkCrcs(size);
            if (!worked) worked = lookForGrowth();
            if (status().changes != before && changed) changed();
            std::unique_lock<std::mutex> lock(wakeMutex_);
            if (checked && crcSincePause_ >= kReadChunkBytes) {
                // The CRC walk takes turns with the rest of the machine: a pause after each piece.
                crcSincePause_ = 0;
                wake_.wait_for(lock, kCrcPause, [this] { return stop_; });
                continue;
            }
            if (worked) continue;
            wake_.wait_for(lock, quiet ? poll : std::chrono::milliseconds(kQuietAfterRead),
                           [this] { return stop_; });
        }
    });
}

}  // namespace rv8
