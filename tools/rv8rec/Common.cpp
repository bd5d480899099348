#include "tools/rv8rec/Common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

bool RecordRange::contains(uint32_t n) const {
    if (n < first || n > last) return false;
    if (parts.empty()) return true;
    // The first part ending at or after n.
    const auto it = std::lower_bound(parts.begin(), parts.end(), n,
                                     [](const auto& p, uint32_t v) { return p.second < v; });
    return it != parts.end() && it->first <= n;
}

uint64_t RecordRange::countBelow(uint64_t count) const {
    const auto inside = [count](uint64_t a, uint64_t b) -> uint64_t {
        return a >= count ? 0 : std::min<uint64_t>(b, count - 1) - a + 1;
    };
    if (parts.empty()) return inside(first, last);
    uint64_t n = 0;
    for (const auto& [a, b] : parts)
        n += inside(a, b);
    return n;
}

std::string RecordRange::text() const {
    if (!given) return "all";
    const auto one = [](uint32_t a, uint32_t b) {
        return a == b ? std::to_string(a) : std::to_string(a) + "-" + std::to_string(b);
    };
    if (parts.empty()) return one(first, last);
    std::string s;
    for (const auto& [a, b] : parts) {
        if (!s.empty()) s += ',';
        s += one(a, b);
    }
    return s;
}

namespace {

bool ParseU32(std::string_view s, uint32_t& out) {
    if (s.empty()) return false;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// "A-B" or "A".
bool ParseOneRange(std::string_view s, uint32_t& first, uint32_t& last) {
    const std::size_t dash = s.find('-');
    if (dash == std::string_view::npos) {
        if (!ParseU32(s, first)) return false;
        last = first;
        return true;
    }
    return ParseU32(s.substr(0, dash), first) && ParseU32(s.substr(dash + 1), last) &&
           first <= last;
}

}  // namespace

bool ParseRange(std::string_view s, RecordRange& range) {
    RecordRange r;
    r.given = true;
    if (s.find(',') == std::string_view::npos) {
        if (!ParseOneRange(s, r.first, r.last)) return false;
        range = r;
        return true;
    }
    std::vector<std::pair<uint32_t, uint32_t>> parts;
    while (true) {
        const std::size_t comma = s.find(',');
        uint32_t a = 0, b = 0;
        if (!ParseOneRange(s.substr(0, comma), a, b)) return false;
        parts.emplace_back(a, b);
        if (comma == std::string_view::npos) break;
        s.remove_prefix(comma + 1);
    }
    // Ascending, with parts that touch or overlap joined.
    std::sort(parts.begin(), parts.end());
    for (const auto& p : parts) {
        if (!r.parts.empty() && p.first <= uint64_t{r.parts.back().second} + 1)
            r.parts.back().second = std::max(r.parts.back().second, p.second);
        else
            r.parts.push_back(p);
    }
    r.first = r.parts.front().first;
    r.last = r.parts.back().second;
    if (r.parts.size() == 1) r.parts.clear();
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
