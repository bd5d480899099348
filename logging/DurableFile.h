// The POSIX side of writing a recording durably: creating the file exclusively, writing all of a
// buffer, syncing data and the folder, cutting a file back after a failed write, checking that an
// open file is still the one on disk, and the thread that syncs and checks an open file. Also the
// text of an errno value for all of logging/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include <sys/uio.h>

namespace rv8 {

// The operating system's text for an errno value ("No space left on device").
std::string ErrnoText(int err);

// A write beyond the process's file-size limit raises SIGXFSZ, whose default action ends the
// process; ignored, the write fails with EFBIG instead and the writer can keep the file sound.
// A handler the program installed itself is left in place (the write then fails the same way).
void IgnoreFileSizeSignalOnce();

// Creates `name` (mode 0644) for appending (and for reading back what it wrote), failing if
// anything of that name exists. Returns the descriptor, or -1 with errno set. Every write lands
// at the file's end as it is then, so a file another program shortened never gets a hole at the
// old offset.
int CreateExclusive(const char* name);
// Writes all n bytes, continuing after partial writes and interruptions. Returns 0 or errno.
int WriteAll(int fd, const uint8_t* p, std::size_t n);
// Writes the `count` pieces in one gathered write, continuing after partial writes and
// interruptions (the pieces are advanced past what was written). Returns 0 or errno.
int WriteAllGathered(int fd, iovec* pieces, int count);
// fdatasync, repeated after interruptions. Returns 0 or errno.
int SyncData(int fd);
// Makes a new name in `folder` survive a power loss (best effort: errors are ignored).
void SyncFolder(const char* folder);
// Cuts the file to `size` bytes and syncs it. Returns 0 or the errno of the failed ftruncate.
int CutBack(int fd, uint64_t size);

// What became of an open file, judged from its descriptor and its name.
enum class FileFate {
    Intact,
    Deleted,     // no name leads to it any more (the file or its folder was removed)
    Moved,       // it still exists, but its name no longer leads to it (renamed, moved)
    Replaced,    // its name leads to another file now
    Shortened,   // it holds fewer bytes than were written to it
    Lengthened,  // it holds more bytes than were written to it
};

// The device and inode of an open file, taken when it was created.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};
// False (errno set) when fstat fails.
bool IdentityOf(int fd, FileIdentity& id);

// Compares the open file `fd` with what was written to it: that it still has a name, that
// `path` (best absolute) still leads to it, and that it holds exactly `written` bytes (at least
// `written` when `atLeast`, for a check that may run while a write is under way). A name that
// cannot be looked up for another reason than its absence (a permission, a slow disk) counts as
// intact. `size` receives the size found.
FileFate CheckFile(int fd, const char* path, const FileIdentity& id, uint64_t written, bool atLeast,
                   uint64_t& size);

// Syncs the open file about once a second on a thread of its own, so that the wait for the
// disk never stalls the acquisition loop that writes the records, and four times a second
// checks that the file is still the one on disk with at least the bytes written so far
// (CheckFile). After each sync, the pages of what it made durable leave the page cache. The
// first failed sync or the first finding is kept for the writer, which then ends the recording;
// the thread ends there.
class BackgroundSync {
  public:
    ~BackgroundSync() { stop(); }

    // `written` is the writer's count of bytes written, updated after each complete record.
    void start(int fd, std::string path, FileIdentity id, const std::atomic<uint64_t>* written);
    // Stops and joins the thread; the file is not synced here.
    void stop();
    // errno of the first failed sync, or 0.
    int error() const { return error_.load(); }
    // The first finding of CheckFile other than Intact, with the file's size then.
    FileFate fate() const { return fate_.load(); }
    uint64_t sizeSeen() const { return sizeSeen_.load(); }

  private:
    void run();

    int fd_ = -1;
    std::string path_;
    FileIdentity id_;
    const std::atomic<uint64_t>* written_ = nullptr;
    bool stopping_ = false;
    std::atomic<int> error_{0};
    std::atomic<FileFate> fate_{FileFate::Intact};
    std::atomic<uint64_t> sizeSeen_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace rv8
