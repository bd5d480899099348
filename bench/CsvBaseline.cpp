// rv8rec_csv_baseline: the CSV export of rv8rec as it was before the faster writer (tools/rv8rec
// at commit d7af4c2), kept unchanged for bench/export_bench.sh to measure rows per second against.
// Only its "export" command is used there.
// rv8rec: looks into recording files (.cvx).
//
//   rv8rec info FILE                     settings, record count, times, state of the tail
//   rv8rec verify FILE                   checks every record
//   rv8rec export FILE [--records A-B]   CSV on stdout, one row per frame
//
// Exit status: 0 intact file, 1 damaged or not a recording file, 2 usage error or a file
// that cannot be opened or read. Records are read one at a time, so the size of the file
// does not matter.
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "logging/RecordingFile.h"

namespace {

using rv8::RecordingReadResult;
using rv8::RecordingRecord;

constexpr int kExitIntact = 0;
constexpr int kExitDamaged = 1;
constexpr int kExitUsage = 2;

int Usage() {
    std::fputs(
        "usage: rv8rec info FILE\n"
        "       rv8rec verify FILE\n"
        "       rv8rec export FILE [--records A-B]\n"
        "exit status: 0 intact, 1 damaged or not a recording, 2 usage or unreadable file\n",
        stderr);
    return kExitUsage;
}

std::string FormatTime(int64_t us) {
    int64_t secs = us / 1000000;
    int64_t frac = us % 1000000;
    if (frac < 0) {
        frac += 1000000;
        secs -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (::gmtime_r(&t, &tm) == nullptr) return std::to_string(us) + " us";
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06" PRId64 " UTC",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  frac);
    return buf;
}

// Up to 15 significant digits, without an exponent for everyday values (100000, not 1e+05).
std::string Number(double v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    return std::string(buf, res.ptr);
}

// Exit status for a finished read, with the message on stderr for anything but intact.
int Outcome(const RecordingReadResult& r, const char* path) {
    if (!r.headerOk || r.damagedTail) {
        std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
        return r.ioError ? kExitUsage : kExitDamaged;
    }
    return kExitIntact;
}

int Info(const char* path) {
    uint64_t minFrames = std::numeric_limits<uint64_t>::max(), maxFrames = 0;
    double minRate = 0, maxRate = 0;
    const RecordingReadResult r = rv8::ScanRecording(path, [&](const RecordingRecord& rec) {
        if (rec.frames < minFrames) minFrames = rec.frames;
        if (rec.frames > maxFrames) maxFrames = rec.frames;
        if (rec.number == 0 || rec.sampleRate < minRate) minRate = rec.sampleRate;
        if (rec.number == 0 || rec.sampleRate > maxRate) maxRate = rec.sampleRate;
        return true;
    });
    if (!r.headerOk) return Outcome(r, path);
    const rv8::RecordingHeader& h = r.header;
    std::printf("File:            %s\n", path);
    std::printf("File size:       %" PRIu64 " bytes\n", r.fileSize);
    std::printf("Format version:  %u\n", static_cast<unsigned>(h.version));
    std::printf("Channels:        %u\n", static_cast<unsigned>(h.channelCount));
    std::printf("Sample format:   16-bit signed\n");
    std::printf("Sample rate:     %s Hz\n", Number(h.sampleRate).c_str());
    for (std::size_t c = 0; c < h.ranges.size(); ++c) {
        std::printf("Channel %zu range: %s V to %s V\n", c + 1, Number(h.ranges[c].upper).c_str(),
                    Number(h.ranges[c].lower).c_str());
    }
    std::printf("Created:         %s\n", FormatTime(h.creationTimeUs).c_str());
    std::printf("Records:         %" PRIu64 "\n", r.recordCount);
    if (r.recordCount > 0) {
        std::printf("First record:    %s\n", FormatTime(r.firstTimeUs).c_str());
        std::printf("Last record:     %s\n", FormatTime(r.lastTimeUs).c_str());
        std::printf("Frames/record:   %" PRIu64 " to %" PRIu64 "\n", minFrames, maxFrames);
        std::printf("Record rates:    %s Hz to %s Hz\n", Number(minRate).c_str(),
                    Number(maxRate).c_str());
    }
    if (r.damagedTail) {
        std::printf("State:           damaged tail, %s\n", r.error.c_str());
    } else {
        std::printf("State:           intact\n");
    }
    std::fflush(stdout);
    return Outcome(r, path);
}

int Verify(const char* path) {
    const RecordingReadResult r = rv8::ScanRecording(path, nullptr);
    if (r.headerOk && !r.damagedTail) {
        std::printf("%s: intact, %" PRIu64 " records\n", path, r.recordCount);
    } else if (r.headerOk) {
        std::printf("%s: DAMAGED after %" PRIu64 " intact records, at byte offset %" PRIu64
                    " (record index %" PRIu64 ")\n",
                    path, r.recordCount, r.tailOffset, r.tailIndex);
    } else if (!r.ioError) {
        std::printf("%s: DAMAGED header\n", path);
    }
    std::fflush(stdout);
    return Outcome(r, path);
}

bool ParseU32(std::string_view s, uint32_t& out) {
    if (s.empty()) return false;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// "A-B" (inclusive) or a single record number "A".
bool ParseRange(std::string_view s, uint32_t& first, uint32_t& last) {
    const std::size_t dash = s.find('-');
    if (dash == std::string_view::npos) {
        if (!ParseU32(s, first)) return false;
        last = first;
        return true;
    }
    return ParseU32(s.substr(0, dash), first) && ParseU32(s.substr(dash + 1), last) &&
           first <= last;
}

int Export(const char* path, uint32_t first, uint32_t last) {
    uint16_t channels = 0;
    std::vector<double> mid, half;  // per channel: volts = mid + sample * half / 32768
    std::string line;
    const auto onHeader = [&](const rv8::RecordingHeader& h) {
        channels = h.channelCount;
        line = "record,time_s";
        for (uint16_t c = 0; c < channels; ++c) {
            const rv8::ChannelRange& range = h.ranges[c];
            // For the usual symmetric range (lower = -upper) this is sample * upper / 32768.
            mid.push_back((range.upper + range.lower) / 2);
            half.push_back((range.upper - range.lower) / 2);
            line += ",ch" + std::to_string(c + 1) + "_V";
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    };
    const auto onRecord = [&](const RecordingRecord& rec) {
        if (rec.number < first) return true;
        if (rec.number > last) return false;
        const bool timed = std::isfinite(rec.sampleRate) && rec.sampleRate > 0;
        const std::string number = std::to_string(rec.number);
        for (uint32_t i = 0; i < rec.frames; ++i) {
            line = number;
            line += ',';
            line += timed ? Number(i / rec.sampleRate) : std::string("nan");
            for (uint16_t c = 0; c < channels; ++c) {
                const double s = rec.samples[static_cast<std::size_t>(i) * channels + c];
                line += ',';
                line += Number(mid[c] + s * half[c] / 32768.0);
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        return std::ferror(stdout) == 0;
    };
    const RecordingReadResult r = rv8::ScanRecording(path, onRecord, onHeader);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "rv8rec: cannot write the output\n");
        return kExitUsage;
    }
    // Stopping after the last wanted record leaves the rest unchecked; that is not damage.
    return Outcome(r, path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string_view command = argv[1];
    if (command == "info" && argc == 3) return Info(argv[2]);
    if (command == "verify" && argc == 3) return Verify(argv[2]);
    if (command != "export") return Usage();

    const char* path = nullptr;
    uint32_t first = 0, last = std::numeric_limits<uint32_t>::max();
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view range;
        if (arg == "--records" && i + 1 < argc) {
            range = argv[++i];
        } else if (arg.starts_with("--records=")) {
            range = arg.substr(std::strlen("--records="));
        } else if (!arg.starts_with("--") && path == nullptr) {
            path = argv[i];
            continue;
        } else {
            return Usage();
        }
        if (!ParseRange(range, first, last)) {
            std::fprintf(stderr, "rv8rec: --records wants A-B or A (record numbers from 0)\n");
            return kExitUsage;
        }
    }
    if (path == nullptr) return Usage();
    return Export(path, first, last);
}
