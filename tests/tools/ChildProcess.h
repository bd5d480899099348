// For the tests that treat rv8rec roughly: a child process started without a shell (so that a
// test can signal it and learn whether a signal ended it, its peak resident memory and its
// time), a watch for the files it creates, a reader at the other end of a FIFO, and a small
// disk in a private mount namespace.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/ToolRun.h"

namespace rv8::testing {

struct ChildRun {
    int status = -1;     // exit status, -1 when a signal ended it
    int signal = 0;      // the signal that ended it
    long maxRssKb = 0;   // peak resident memory
    double seconds = 0;  // from start to end
    std::string err;     // standard error
};

// A program run with its standard output thrown away and its standard error kept; with
// `addressSpace` (bytes, 0 for none) as its limit of virtual memory.
class Child {
  public:
    Child(const std::vector<std::string>& argv, uint64_t addressSpace = 0)
        : start_(std::chrono::steady_clock::now()) {
        char errName[] = "/tmp/rv8child-err-XXXXXX";
        const int errFd = ::mkstemp(errName);
        errName_ = errName;
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, 0);
            ::dup2(devNull, 1);
            ::dup2(errFd, 2);
            if (addressSpace != 0) {
                const rlimit lim{addressSpace, addressSpace};
                ::setrlimit(RLIMIT_AS, &lim);
            }
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(errFd);
    }
    ~Child() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    ChildRun wait() {
        ChildRun run;
        int st = 0;
        rusage ru{};
        if (pid_ > 0 && ::wait4(pid_, &st, 0, &ru) == pid_) {
            if (WIFEXITED(st)) run.status = WEXITSTATUS(st);
            if (WIFSIGNALED(st)) run.signal = WTERMSIG(st);
            run.maxRssKb = ru.ru_maxrss;
        }
        waited_ = true;
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::ifstream err(errName_, std::ios::binary);
        run.err.assign(std::istreambuf_iterator<char>(err), {});
        ::unlink(errName_.c_str());
        return run;
    }

  private:
    pid_t pid_ = -1;
    bool waited_ = false;
    std::string errName_;
    std::chrono::steady_clock::time_point start_;
};

// Watches a folder for files being created (inotify); set it up before the program starts.
class FolderWatch {
  public:
    explicit FolderWatch(const std::string& dir) {
        fd_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd_ >= 0) ::inotify_add_watch(fd_, dir.c_str(), IN_CREATE);
    }
    ~FolderWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Waits until a file whose name holds `part` is created; false after `timeoutMs`.
    bool waitFor(const std::string& part, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        alignas(inotify_event) char buf[4096];
        while (fd_ >= 0 && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            for (ssize_t off = 0; off < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
                if (e->len > 0 && std::string(e->name).find(part) != std::string::npos) return true;
                off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return false;
    }

  private:
    int fd_ = -1;
};

// Reads a FIFO while it lives: opened without waiting for a writer, then whatever a writer
// sends until it closes (or until stop() when no writer came).
class FifoReader {
  public:
    explicit FifoReader(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        thread_ = std::thread([this] { run(); });
    }
    ~FifoReader() { stop(); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // Ends the reading once the writer is gone (or never came); returns what was read.
    const std::string& stop() {
        stopping_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return data_;
    }

  private:
    void run() {
        bool writerSeen = false;
        char buf[65536];
        while (fd_ >= 0) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, 20);
            if (ready > 0 && (p.revents & (POLLIN | POLLHUP))) {
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0) {
                    writerSeen = true;
                    data_.append(buf, static_cast<std::size_t>(n));
                    continue;
                }
                if (n == 0 && (writerSeen || (p.revents & POLLHUP))) return;  // writer gone
            }
            if (stopping_ && ready <= 0) return;
        }
    }

    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::string data_;
    std::thread thread_;
};

// Runs `command` (a shell command) with a tmpfs of `kilobytes` mounted on `dir` in a private
// mount namespace (so nothing outside sees it); what it prints, then "status N" and the names
// left in `dir`. Only root can: `available` says whether this one can.
inline ToolRun OnSmallDisk(const std::string& dir, int kilobytes, const std::string& command) {
    const std::string script = "mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k tmpfs " +
                               Quote(dir) + " || exit 99; " + command +
                               "; echo \"status $?\"; ls -A " + Quote(dir);
    return RunTool("unshare -m sh -c " + Quote(script));
}

inline bool SmallDiskAvailable(const std::string& dir) {
    return OnSmallDisk(dir, 64, "true").status == 0;
}

}  // namespace rv8::testing
