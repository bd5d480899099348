// RecordingIndex: random access to the records of a recording file, for the viewer and for
// tools that want to know where each record lies before reading it.
//
// Opening reads the file header only. The places of the records are found by walking their
// heads (a 36- or 40-byte read per record, the same checks as the sequential readers make,
// logging/RecordHead.h), and their CRCs are checked in order by a second walk that streams each
// record through the CRC in pieces; both run a bounded step at a time (advance()), by themselves
// on a thread of the index's own (startBackground) or from a caller that drives them (the CRC
// walk waits while the file grows, and catches up once it rests). So the
// first record can be read at once, whatever the size of the file:
// - read(k) reads one record at its offset, its CRC checked, into a record the caller reuses;
// - while the walk has not reached a record yet and the records so far are all of one size (as
//   a recording of one record length is), its place is predicted from that size and checked
//   against the record's own head, so that any record of a large file can be shown at once.
//
// The file is opened read-only and never locked or written. A file that is still being written
// is followed: each step past the end looks whether the file grew and walks on. A record at the
// end that is not complete yet is "not yet there" while the file keeps growing (it grew within
// the last `settle`, or it was last modified within it when opened) and a damaged tail once it
// stopped. The intact records end where the sequential readers (rv8rec info and verify) end
// them: at the first record whose head, length or CRC is wrong, with the same message; a record
// after it is never returned.
//
// Thread safety: every member may be called from any thread; the walks take a lock only to
// publish what they found.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/RecordingFile.h"

namespace rv8 {

class RecordingIndex {
  public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        // Check every record's CRC in order (the second walk). Without it only the heads are
        // walked (enough to count and place the records).
        bool verify = true;
        // How long an incomplete last record counts as still being written after the file last
        // grew.
        std::chrono::milliseconds settle{2000};
    };

    // Where one record lies, from its head.
    struct Entry {
        uint64_t offset = 0;  // of the record in the file
        uint64_t size = 0;    // all its bytes, its CRC included
        uint32_t frames = 0;
        uint32_t commentBytes = 0;
        uint32_t headBytes = 0;  // header and settings block: where its comment starts
        int64_t timeUs = 0;      // the record's time (docs/recording-format.md)
    };

    // What is known of the file now.
    struct Status {
        uint64_t fileSize = 0;
        uint64_t indexed = 0;    // records whose place the walk found
        bool walking = false;    // the walk has not reached the end of the file as it is now
        uint64_t estimated = 0;  // records the file seems to hold (the indexed ones while walking
                                 // a file of records of different sizes)
        uint64_t verified = 0;   // records from the first on whose CRC matched
        bool verifying = false;  // the CRC walk has not caught up with the head walk
        // The records to offer: the estimate, never beyond the damage.
        uint64_t count = 0;
        bool damaged = false;  // the intact records end at `intact`; `damage` says why
        uint64_t intact = 0;
        std::string damage;       // "record N at byte offset X: why", as rv8rec verify says it
        uint64_t tailOffset = 0;  // where the intact records end (when damaged)
        bool pending = false;     // an incomplete last record that is still being written
        bool growing = false;     // the file grew within the settle time (the CRC walk waits)
        bool ioError = false;     // the damage is a read error, not the file's content
        uint64_t changes = 0;     // counts every change of the above
    };

    // Opens `path` and reads its header. Null when it cannot: `error` says why (as the readers
    // say it: "cannot open ...", "it is a folder", "not a recording file (wrong magic)", ...),
    // `ioError` whether it is the file system's doing rather than the content's.
    static std::unique_ptr<RecordingIndex> Open(const std::string& path, std::string& error,
                                                bool* ioError = nullptr);
    static std::unique_ptr<RecordingIndex> Open(const std::string& path, const Options& options,
                                                std::string& error, bool* ioError = nullptr);
    ~RecordingIndex();  // stops the background thread
    RecordingIndex(const RecordingIndex&) = delete;
    RecordingIndex& operator=(const RecordingIndex&) = delete;

    const std::string& path() const { return path_; }
    const RecordingHeader& header() const { return header_; }
    Status status() const;
    // The place of record k when the walk found it.
    bool entry(uint64_t k, Entry& out) const;

    enum class Result {
        Ok,
        Missing,  // no such record (beyond the records offered, or not found yet)
        Damaged,  // its bytes are wrong: the intact records now end before it
        Failed,   // a read error, or no memory for its samples; the file may be sound
    };
    // Reads record k into `out` (its storage reused), the CRC checked. `why` says what went
    // wrong. A damaged record ends the intact records there.
    Result read(uint64_t k, RecordingRecord& out, std::string* why = nullptr);

    // One bounded step of work: walks up to a few hundred heads, or checks the CRC of up to a
    // few MiB, or, with both caught up, looks whether the file changed. False when there was
    // nothing to do.
    bool advance();
    // Runs advance() on a thread of the index's own until it is destroyed: without pause while
    // there is work (the CRC walk pauses while read() is in use), then every `poll`.
    // `changed` is called on that thread after each step that changed the status.
    void startBackground(std::function<void()> changed,
                         std::chrono::milliseconds poll = std::chrono::milliseconds(200));

  private:
    RecordingIndex(std::string path, int fd, const Options& options);
    static int64_t NowNs();  // the steady clock
    bool walkHeads(uint64_t size, int maxHeads);
    bool checkCrcs(uint64_t size);
    bool lookForGrowth();
    // Reads n bytes at offset (holes of a sparse file as zeros, without reading them); 0, or -1
    // when the file ended first, or errno.
    int readAt(uint64_t offset, uint8_t* dst, std::size_t n) const;
    // Finds where record k lies: indexed, or predicted and checked against its head.
    bool locate(uint64_t k, Entry& out);
    // The intact records end at record k (its CRC or read failed); keeps the earliest such end.
    void markDamage(uint64_t k, uint64_t offset, const std::string& why, bool ioError);
    uint64_t offeredLocked() const;
    void touch() { ++status_.changes; }
    Status statusLocked() const;

    const std::string path_;
    const int fd_;
    const Options options_;
    RecordingHeader header_;

    mutable std::mutex mutex_;  // guards what follows, up to the thread's members
    std::vector<Entry> entries_;
    uint64_t nextOffset_ = 0;  // where the walk reads the next head
    uint64_t uniformSize_ =
        0;  // the size every record walked so far has (0: none, or sizes differ)
    bool mixedSizes_ = false;
    Status status_;
    // The walk stopped at a record that is not complete (still being written, or cut short).
    bool tailIncomplete_ = false;
    std::string tailWhy_;
    // The walk stopped at a record whose head is wrong.
    bool headDamage_ = false;
    uint64_t headDamageAt_ = 0;
    std::string headWhy_;
    // The earliest record whose CRC or read failed.
    uint64_t crcDamageAt_ = UINT64_MAX;
    std::string crcWhy_;
    uint64_t crcDamageOffset_ = 0;
    bool crcIoError_ = false;
    Clock::time_point lastGrowth_;  // when the file last grew (or was last modified, at opening)

    // The CRC walk's state (its own thread, or the caller of advance()).
    uint64_t crcNext_ = 0;        // the record it checks
    uint64_t crcPos_ = 0;         // bytes of it checked so far
    uint32_t crcRunning_ = 0;     // the CRC of those bytes
    uint64_t crcSincePause_ = 0;  // bytes checked since the background walk last paused
    std::vector<uint8_t> piece_;
    std::atomic<int64_t> lastRead_{0};  // when read() last ran (steady clock, ns)

    std::thread thread_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool stop_ = false;
};

}  // namespace rv8
