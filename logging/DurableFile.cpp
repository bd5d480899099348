#include "logging/DurableFile.h"

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
        fd = ::open(name, O_CREAT | O_EXCL | O_WRONLY | O_APPEND | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int WriteAll(int fd, const uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (put == 0) return EIO;  // no progress: never loop forever
        p += put;
        n -= static_cast<std::size_t>(put);
    }
    return 0;
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
    while (!wake_.wait_for(lock, kCheckInterval, [this] { return stopping_; })) {
        lock.unlock();
        const int err = ++checks % kChecksPerSync == 0 ? SyncData(fd_) : 0;
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
