// The POSIX side of writing a recording durably: creating the file exclusively, writing all of a
// buffer, syncing data and the folder, cutting a file back after a failed write, and the thread
// that syncs an open file once a second. Also the text of an errno value for all of logging/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace rv8 {

// The operating system's text for an errno value ("No space left on device").
std::string ErrnoText(int err);

// A write beyond the process's file-size limit raises SIGXFSZ, whose default action ends the
// process; ignored, the write fails with EFBIG instead and the writer can keep the file sound.
// A handler the program installed itself is left in place (the write then fails the same way).
void IgnoreFileSizeSignalOnce();

// Creates `name` (mode 0644) for writing, failing if anything of that name exists. Returns the
// descriptor, or -1 with errno set.
int CreateExclusive(const char* name);
// Writes all n bytes, continuing after partial writes and interruptions. Returns 0 or errno.
int WriteAll(int fd, const uint8_t* p, std::size_t n);
// fdatasync, repeated after interruptions. Returns 0 or errno.
int SyncData(int fd);
// Makes a new name in `folder` survive a power loss (best effort: errors are ignored).
void SyncFolder(const char* folder);
// Cuts the file to `size` bytes and syncs it. Returns 0 or the errno of the failed ftruncate.
int CutBack(int fd, uint64_t size);

// Syncs the open file about once a second on a thread of its own, so that the wait for the
// disk never stalls the acquisition loop that writes the records. The first failure is kept
// for the writer, which then ends the recording.
class BackgroundSync {
  public:
    ~BackgroundSync() { stop(); }

    void start(int fd);
    // Stops and joins the thread; the file is not synced here.
    void stop();
    int error() const { return error_.load(); }

  private:
    void run();

    int fd_ = -1;
    bool stopping_ = false;
    std::atomic<int> error_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace rv8
