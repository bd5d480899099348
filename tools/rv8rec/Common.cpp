#include "tools/rv8rec/Common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace rv8rec {

char* WriteNumber(char* out, double v) {
    return std::to_chars(out, out + kNumberChars, v, std::chars_format::general, 15).ptr;
}

std::string Number(double v) {
    char buf[kNumberChars];
    return std::string(buf, WriteNumber(buf, v));
}

namespace {

bool SplitUs(int64_t us, std::tm& tm, int64_t& frac) {
    int64_t secs = us / 1000000;
    frac = us % 1000000;
    if (frac < 0) {
        frac += 1000000;
        secs -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    return ::gmtime_r(&t, &tm) != nullptr;
}

}  // namespace

std::string FormatTime(int64_t us) {
    std::tm tm{};
    int64_t frac = 0;
    if (!SplitUs(us, tm, frac)) return std::to_string(us) + " us";
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06" PRId64 " UTC",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  frac);
    return buf;
}

std::string IsoTime(int64_t us) {
    std::tm tm{};
    int64_t frac = 0;
    if (!SplitUs(us, tm, frac)) return std::string();
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06" PRId64 "Z",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  frac);
    return buf;
}

std::string RecordRange::text() const {
    if (!given) return "all";
    if (first == last) return std::to_string(first);
    return std::to_string(first) + "-" + std::to_string(last);
}

namespace {

bool ParseU32(std::string_view s, uint32_t& out) {
    if (s.empty()) return false;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

}  // namespace

bool ParseRange(std::string_view s, RecordRange& range) {
    RecordRange r;
    r.given = true;
    const std::size_t dash = s.find('-');
    if (dash == std::string_view::npos) {
        if (!ParseU32(s, r.first)) return false;
        r.last = r.first;
    } else if (!ParseU32(s.substr(0, dash), r.first) || !ParseU32(s.substr(dash + 1), r.last) ||
               r.first > r.last) {
        return false;
    }
    range = r;
    return true;
}

bool CheckOutputPath(const std::string& output, const std::string& input, std::string& why) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0)
        return true;  // a new file (a missing folder fails later)
    if (S_ISDIR(out.st_mode)) {
        why = output + " is a folder";
        return false;
    }
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        why = output + " is the recording being exported";
        return false;
    }
    const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

StagedFile::~StagedFile() {
    discard();
}

int StagedFile::create(const std::string& finalPath, std::string& why) {
    static std::atomic<unsigned> counter{0};
    final_ = finalPath;
    const std::size_t slash = finalPath.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : finalPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = dir + "." + base + ".rv8rec-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++);
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            open_ = true;
            return fd_;
        }
        if (errno != EEXIST) break;
    }
    why = "cannot create " + temp_ + ": " + std::strerror(errno);
    temp_.clear();
    return -1;
}

bool StagedFile::commit(std::string& why, bool closed) {
    if (!open_) {
        why = "no file to complete";
        return false;
    }
    if (!closed && fd_ >= 0 && ::close(fd_) != 0) {
        why = "cannot write " + final_ + ": " + std::strerror(errno);
        fd_ = -1;
        discard(true);
        return false;
    }
    fd_ = -1;
    if (::rename(temp_.c_str(), final_.c_str()) != 0) {
        why = "cannot rename " + temp_ + " to " + final_ + ": " + std::strerror(errno);
        discard(true);
        return false;
    }
    open_ = false;
    return true;
}

void StagedFile::discard(bool closed) {
    if (!open_) return;
    if (!closed && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
    open_ = false;
}

std::string SplitName(const std::string& output, uint32_t record) {
    char number[16];
    std::snprintf(number, sizeof number, "-%06u", record);
    const std::size_t slash = output.rfind('/');
    const std::size_t dot = output.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        return output + number;
    }
    return output.substr(0, dot) + number + output.substr(dot);
}

uint64_t WholeRate(double rate, uint64_t max, std::string& why) {
    if (!std::isfinite(rate) || rate < 0.5 || rate >= static_cast<double>(max) + 0.5) {
        why = "sample rate " + Number(rate) + " Hz can't be stored (whole hertz from 1 to " +
              std::to_string(max) + ")";
        return 0;
    }
    return static_cast<uint64_t>(std::llround(rate));
}

void NoteRounding(double rate, uint64_t whole, const char* format) {
    static double lastNoted = std::nan("");
    if (static_cast<double>(whole) == rate || rate == lastNoted) return;
    lastNoted = rate;
    std::fprintf(stderr,
                 "rv8rec: sample rate %s Hz is written as %" PRIu64
                 " Hz (%s files hold whole hertz)\n",
                 Number(rate).c_str(), whole, format);
}

bool OneRate::accept(const rv8::RecordingRecord& record, std::string& why) {
    if (record.frames == 0) return true;
    if (!known_) {
        known_ = true;
        rate_ = record.sampleRate;
        firstNumber_ = record.number;
        return true;
    }
    if (record.sampleRate == rate_ || (std::isnan(record.sampleRate) && std::isnan(rate_))) {
        return true;
    }
    why = "record " + std::to_string(record.number) + " has the sample rate " +
          Number(record.sampleRate) + " Hz, record " + std::to_string(firstNumber_) + " " +
          Number(rate_) +
          " Hz: one file holds one rate; export one file per record with --split, or a "
          "--records range of one rate";
    return false;
}

}  // namespace rv8rec
