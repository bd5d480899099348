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

namespace {
int g_outputErrno = 0;
}  // namespace

void FlushOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && g_outputErrno == 0) g_outputErrno = errno;
}

int OutputError() {
    return g_outputErrno;
}

}  // namespace rv8rec
