#include "tools/rv8rec/Output.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "logging/RecordingFile.h"

namespace rv8rec {

namespace {

// ---- Temporary names, and their removal when the program is interrupted --------------------
//
// Every temporary file of this process is named ".rv8rec-PID-N-NAME" in the folder of the file
// it becomes. The folders are opened and kept here, so that a signal handler can remove those
// files with system calls alone (getdents64, unlinkat), whoever created them and whatever
// library wrote them.

constexpr int kMaxFolders = 16;
int g_folders[kMaxFolders];
dev_t g_folderDev[kMaxFolders];
ino_t g_folderIno[kMaxFolders];
std::atomic<int> g_folderCount{0};
char g_prefix[40];
std::atomic<std::size_t> g_prefixLen{0};

void MakePrefix() {
    if (g_prefixLen.load() != 0) return;
    const int n =
        std::snprintf(g_prefix, sizeof g_prefix, ".rv8rec-%ld-", static_cast<long>(::getpid()));
    g_prefixLen.store(static_cast<std::size_t>(n));
}

// Keeps the folder open for RemoveTemporaries (from the one thread that creates outputs).
void WatchFolder(const std::string& dir) {
    MakePrefix();
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) return;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return;
    }
    const int n = g_folderCount.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i) {
        if (g_folderDev[i] == st.st_dev && g_folderIno[i] == st.st_ino) {
            ::close(fd);
            return;
        }
    }
    if (n == kMaxFolders) {
        ::close(fd);
        return;
    }
    g_folders[n] = fd;
    g_folderDev[n] = st.st_dev;
    g_folderIno[n] = st.st_ino;
    g_folderCount.store(n + 1, std::memory_order_release);
}

// Async-signal-safe: removes every file of the watched folders whose name has our prefix.
void RemoveTemporaries() {
    const std::size_t prefixLen = g_prefixLen.load();
    if (prefixLen == 0) return;
    const int folders = g_folderCount.load(std::memory_order_acquire);
    for (int i = 0; i < folders; ++i) {
        const int dir = g_folders[i];
        for (int pass = 0; pass < 4; ++pass) {  // again after removals, which move entries
            bool removed = false;
            if (::lseek(dir, 0, SEEK_SET) < 0) break;
            alignas(8) char buf[8192];
            for (;;) {
                const long n = ::syscall(SYS_getdents64, dir, buf, sizeof buf);
                if (n <= 0) break;
                // struct linux_dirent64: d_ino (8), d_off (8), d_reclen (2), d_type (1), d_name.
                for (long off = 0; off + 19 < n;) {
                    uint16_t reclen = 0;
                    std::memcpy(&reclen, buf + off + 16, sizeof reclen);
                    const char* name = buf + off + 19;
                    if (std::strncmp(name, g_prefix, prefixLen) == 0 &&
                        ::unlinkat(dir, name, 0) == 0) {
                        removed = true;
                    }
                    if (reclen == 0) break;
                    off += reclen;
                }
            }
            if (!removed) break;
        }
    }
}

[[noreturn]] void OnSignal(int sig) {
    RemoveTemporaries();
    ::_exit(128 + sig);
}

std::terminate_handler g_previousTerminate = nullptr;

[[noreturn]] void OnTerminate() {
    RemoveTemporaries();
    if (g_previousTerminate != nullptr) g_previousTerminate();
    std::abort();
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// ---- Paths -----------------------------------------------------------------------------------

// "dir/" (or "") and the last component.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The file a chain of symbolic links ends at (which may not exist yet); the path itself when
// it is no link.
std::string LinkTarget(const std::string& path) {
    std::string target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
        if (n <= 0) break;
        const std::string link(buf, static_cast<std::size_t>(n));
        target = link[0] == '/' ? link : SplitPath(target).first + link;
    }
    return target;
}

// ".rv8rec-PID-N-NAME", cut to the longest name a folder holds.
std::string TempName(const std::string& base, unsigned n) {
    std::string name = std::string(g_prefix, g_prefixLen.load()) + std::to_string(n) + "-" + base;
    if (name.size() > NAME_MAX) name.resize(NAME_MAX);
    return name;
}

const char* Kind(unsigned mode) {
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string Errno(int e) {
    return std::strerror(e);
}

}  // namespace

bool CheckOutputPath(const std::string& output, const std::string& input, std::string& why) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0)
        return true;  // a new file (a missing folder fails later)
    if (S_ISDIR(out.st_mode)) {
        why = output + " is a folder";
        return false;
    }
    if (!S_ISREG(out.st_mode)) return true;  // a device or FIFO: never read, never replaced
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        why = output + " is the recording being exported";
        return false;
    }
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) {
        uint8_t magic[rv8::recfile::kMagic.size()];
        const ssize_t n = ::read(fd, magic, sizeof magic);
        ::close(fd);
        if (n == static_cast<ssize_t>(sizeof magic) &&
            std::memcmp(magic, rv8::recfile::kMagic.data(), sizeof magic) == 0) {
            why = output + " is a recording file; rv8rec never overwrites a recording";
            return false;
        }
    }
    return true;
}

const char* SpecialFileKind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        return nullptr;
    return Kind(st.st_mode);
}

void OutputBatch::add(std::string temp, std::string final) {
    parts_.emplace_back(std::move(temp), std::move(final));
}

bool OutputBatch::publish(std::string& why) {
    HoldSignals hold;
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        if (::rename(parts_[i].first.c_str(), parts_[i].second.c_str()) != 0) {
            why = "cannot rename the finished file to " + parts_[i].second + ": " + Errno(errno) +
                  " (" + std::to_string(i) + " of " + std::to_string(parts_.size()) +
                  " files are in place)";
            parts_.erase(parts_.begin(), parts_.begin() + static_cast<std::ptrdiff_t>(i));
            discard();
            return false;
        }
    }
    parts_.clear();
    return true;
}

void OutputBatch::discard() {
    for (const auto& part : parts_)
        ::unlink(part.first.c_str());
    parts_.clear();
}

OutputFile::~OutputFile() {
    discard();
}

int OutputFile::open(const std::string& path, const std::string& input, OutputNeeds needs,
                     std::string& why, OutputBatch* batch) {
    discard();
    final_ = path;
    temp_.clear();
    direct_ = false;
    batch_ = batch;
    if (!CheckOutputPath(path, input, why)) return -1;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return openDirect(batch != nullptr ? OutputNeeds::RegularFile : needs, st.st_mode, why);
    }
    target_ = LinkTarget(path);
    const auto [dir, base] = SplitPath(target_);
    WatchFolder(dir);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = dir + TempName(base, counter++);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            open_ = true;
            return fd_;
        }
        if (errno != EEXIST) break;
    }
    why = "cannot create " + path + ": " + Errno(errno);
    temp_.clear();
    return -1;
}

int OutputFile::openDirect(OutputNeeds needs, unsigned mode, std::string& why) {
    const std::string is = final_ + " is " + Kind(mode);
    if (needs == OutputNeeds::RegularFile) {
        why = is +
              ": this output is made under a temporary name and renamed into place, so it "
              "must be a regular file (a device or FIFO is never replaced)";
        return -1;
    }
    if (needs == OutputNeeds::Seekable && (S_ISFIFO(mode) || S_ISSOCK(mode))) {
        why = is +
              ": this format seeks back in its output, so it needs a regular file or a "
              "seekable device";
        return -1;
    }
    // Written straight through, as a shell redirection would: a FIFO waits for its reader.
    const int fd = ::open(final_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot write " + final_ + ": " + Errno(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        ::close(fd);
        why = final_ + " changed while it was opened";
        return -1;
    }
    if (needs == OutputNeeds::Seekable && ::lseek(fd, 0, SEEK_CUR) < 0) {
        ::close(fd);
        why = is + " that cannot seek, which this format needs";
        return -1;
    }
    fd_ = fd;
    open_ = true;
    direct_ = true;
    return fd_;
}

bool OutputFile::commit(std::string& why, bool closed) {
    if (!open_) {
        why = "no file to complete";
        return false;
    }
    if (!closed && fd_ >= 0 && ::close(fd_) != 0) {
        why = "cannot write " + final_ + ": " + Errno(errno);
        fd_ = -1;
        discard(true);
        return false;
    }
    fd_ = -1;
    open_ = false;
    if (direct_) return true;
    if (batch_ != nullptr) {
        batch_->add(temp_, target_);
        temp_.clear();
        return true;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        why = "cannot rename the finished file to " + final_ + ": " + Errno(errno);
        ::unlink(temp_.c_str());
        temp_.clear();
        return false;
    }
    temp_.clear();
    return true;
}

void OutputFile::discard(bool closed) {
    if (!open_) return;
    if (!closed && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!direct_) ::unlink(temp_.c_str());
    temp_.clear();
    open_ = false;
}

void RemoveTemporariesWhenInterrupted() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    MakePrefix();
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sa.sa_mask = InterruptSignals();
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    g_previousTerminate = std::set_terminate(OnTerminate);
}

HoldSignals::HoldSignals() {
    const sigset_t set = InterruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, &old_);
}

HoldSignals::~HoldSignals() {
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

}  // namespace rv8rec
