#include "logging/DurableFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rv8 {

namespace {
// The background thread checks the file this often and syncs it every kChecksPerSync checks
// (once a second).
constexpr auto kCheckInterval = std::chrono::milliseconds(250);
constexpr int kChecksPerSync = 4;
}  // namespace

std::string ErrnoText(int err) {
    return std::error_code(err, std::generic_category()).message();
}

void IgnoreFileSizeSignalOnce() {
    static const bool done = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            (current.sa_flags & SA_SIGINFO) == 0) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGXFSZ, &ignore, nullptr);
        }
        return true;
    }();
    (void)done;
}

int CreateExclusive(const char* name) {
    int fd;
    do {
        fd = ::open(name, O_CREAT | O_EXCL | O_RDWR | O_APPEND | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int WriteAllGathered(int fd, iovec* pieces, int count) {
    while (count > 0) {
        if (pieces->iov_len == 0) {
            ++pieces;
            --count;
            continue;
        }
        const ssize_t put = ::writev(fd, pieces, count);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (put == 0) return EIO;  // no progress: never loop forever
        for (std::size_t left = static_cast<std::size_t>(put); left > 0;) {
            const std::size_t n = std::min(left, pieces->iov_len);
            pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + n;
            pieces->iov_len -= n;
            left -= n;
            if (pieces->iov_len == 0) {
                ++pieces;
                --count;
            }
        }
    }
    return 0;
}

int WriteAll(int fd, const uint8_t* p, std::size_t n) {
    iovec piece{const_cast<uint8_t*>(p), n};
    return WriteAllGathered(fd, &piece, 1);
}

int SyncData(int fd) {
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

void SyncFolder(const char* folder) {
    const int dirFd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

int CutBack(int fd, uint64_t size) {
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return errno;
    SyncData(fd);
    return 0;
}

bool IdentityOf(int fd, FileIdentity& id) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

FileFate CheckFile(int fd, const char* path, const FileIdentity& id, uint64_t written, bool atLeast,
                   uint64_t& size) {
    struct stat open {};
    if (::fstat(fd, &open) != 0) return FileFate::Intact;  // cannot tell
    size = static_cast<uint64_t>(open.st_size);
    struct stat named {};
    const bool looked = ::stat(path, &named) == 0;
    const bool gone = !looked && (errno == ENOENT || errno == ENOTDIR);
    const bool other = looked && (static_cast<uint64_t>(named.st_dev) != id.device ||
                                  static_cast<uint64_t>(named.st_ino) != id.inode);
    if (open.st_nlink == 0) return other ? FileFate::Replaced : FileFate::Deleted;
    if (gone) return FileFate::Moved;
    if (other) return FileFate::Replaced;
    if (size < written) return FileFate::Shortened;
    if (!atLeast && size > written) return FileFate::Lengthened;
    return FileFate::Intact;
}

void BackgroundSync::start(int fd, std::string path, FileIdentity id,
                           const std::atomic<uint64_t>* written) {
    stop();
    fd_ = fd;
    path_ = std::move(path);
    id_ = id;
    written_ = written;
    stopping_ = false;
    error_.store(0);
    fate_.store(FileFate::Intact);
    sizeSeen_.store(0);
    thread_ = std::thread([this] { run(); });
}

void BackgroundSync::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void BackgroundSync::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    int checks = 0;
    uint64_t released = 0;  // the file's bytes before this are out of the page cache
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const uint64_t pageMask = ~static_cast<uint64_t>(pageSize > 0 ? pageSize - 1 : 4095);
    while (!wake_.wait_for(lock, kCheckInterval, [this] { return stopping_; })) {
        lock.unlock();
        int err = 0;
        if (++checks % kChecksPerSync == 0) {
            // What was written before the sync is on the disk after it: its pages leave the
            // cache, so that a long recording does not push other programs' files out of
            // memory, and the writer's next records land in pages just freed instead of
            // pages the system has to find (on some machines several times the cost).
            const uint64_t synced = written_->load();
            err = SyncData(fd_);
            if (err == 0 && synced > released) {
                ::posix_fadvise(fd_, static_cast<off_t>(released),
                                static_cast<off_t>(synced - released), POSIX_FADV_DONTNEED);
                released = synced & pageMask;  // a page cut in two is released next time
            }
        }
        // The count is read before the size: a write under way can only make the file longer
        // than the count, never shorter.
        const uint64_t written = written_->load();
        uint64_t size = 0;
        const FileFate fate = CheckFile(fd_, path_.c_str(), id_, written, true, size);
        lock.lock();
        if (err != 0) {
            error_.store(err);
            return;
        }
        if (fate != FileFate::Intact) {
            sizeSeen_.store(size);
            fate_.store(fate);
            return;
        }
    }
}

}  // namespace rv8
