#include "logging/DurableFile.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rv8 {

namespace {
constexpr auto kSyncInterval = std::chrono::seconds(1);
}

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
        fd = ::open(name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
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

void BackgroundSync::start(int fd) {
    stop();
    fd_ = fd;
    stopping_ = false;
    error_.store(0);
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
    while (!wake_.wait_for(lock, kSyncInterval, [this] { return stopping_; })) {
        lock.unlock();
        const int err = SyncData(fd_);
        lock.lock();
        if (err != 0) {
            error_.store(err);
            return;
        }
    }
}

}  // namespace rv8
