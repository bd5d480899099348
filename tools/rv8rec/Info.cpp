// rv8rec info: what a recording file holds, read one record at a time.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "tools/rv8rec/Common.h"
#include "tools/rv8rec/Settings.h"

namespace rv8rec {

int Outcome(const rv8::RecordingReadResult& r, const char* path) {
    if (!r.headerOk || r.damagedTail) {
        std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
        return r.ioError ? kExitUsage : kExitDamaged;
    }
    return kExitIntact;
}

namespace {

void Line(const std::string& label, const std::string& text) {
    std::printf("%-17s%s\n", (label + ":").c_str(), text.c_str());
}

int InfoUsage(const char* why) {
    std::fprintf(stderr, "rv8rec: %s\nusage: rv8rec info FILE [--records A-B]\n", why);
    return kExitUsage;
}

}  // namespace

int Info(int argc, char** argv) {
    const char* path = nullptr;
    RecordRange listed;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view range;
        if (arg == "--records" && i + 1 < argc) {
            range = argv[++i];
        } else if (arg.starts_with("--records=")) {
            range = arg.substr(10);
        } else if (!arg.starts_with("-") && path == nullptr) {
            path = argv[i];
            continue;
        } else {
            return InfoUsage(("unexpected " + std::string(arg)).c_str());
        }
        if (!ParseRange(range, listed))
            return InfoUsage("--records wants A-B, A or a list of them such as 3-7,12");
    }
    if (path == nullptr) return InfoUsage("no file given");

    uint64_t minFrames = std::numeric_limits<uint64_t>::max(), maxFrames = 0;
    // The range of the finite rates; records whose rate is NaN or infinite are counted apart,
    // so that one odd record does not hide the others' rates.
    double minRate = std::numeric_limits<double>::infinity();
    double maxRate = -std::numeric_limits<double>::infinity();
    uint64_t oddRates = 0;
    SettingsRange settings;
    std::string each;  // the listed records' lines, printed after the summary
    uint16_t channels = 0;
    const rv8::RecordingReadResult r = rv8::ScanRecording(
        path,
        [&](const rv8::RecordingRecord& rec) {
            minFrames = std::min<uint64_t>(minFrames, rec.frames);
            maxFrames = std::max<uint64_t>(maxFrames, rec.frames);
            if (!std::isfinite(rec.sampleRate)) {
                ++oddRates;
            } else {
                minRate = std::min(minRate, rec.sampleRate);
                maxRate = std::max(maxRate, rec.sampleRate);
            }
            settings.add(rec);
            if (listed.given && listed.contains(rec.number)) {
                each += "Record " + std::to_string(rec.number) + ": " + FormatTime(rec.timeUs) +
                        ", " + Number(rec.sampleRate) + " Hz, " + std::to_string(rec.frames) +
                        " frames, " + SettingsLine(rec, channels) + "\n";
            }
            return true;
        },
        [&](const rv8::RecordingHeader& h) { channels = h.channelCount; });
    if (!r.headerOk) return Outcome(r, path);
    const rv8::RecordingHeader& h = r.header;
    Line("File", path);
    Line("File size", std::to_string(r.fileSize) + " bytes");
    Line("Format version", std::to_string(h.version));
    Line("Channels", std::to_string(h.channelCount));
    Line("Sample format", "16-bit signed");
    Line("Sample rate", Number(h.sampleRate) + " Hz");
    for (std::size_t c = 0; c < h.ranges.size(); ++c) {
        Line("Channel " + std::to_string(c + 1) + " range",
             Number(h.ranges[c].upper) + " V to " + Number(h.ranges[c].lower) + " V");
    }
    Line("Created", FormatTime(h.creationTimeUs));
    Line("Records", std::to_string(r.recordCount));
    if (r.recordCount > 0) {
        Line("First record", FormatTime(r.firstTimeUs));
        Line("Last record", FormatTime(r.lastTimeUs));
        Line("Frames/record", minFrames == maxFrames
                                  ? std::to_string(minFrames)
                                  : std::to_string(minFrames) + " to " + std::to_string(maxFrames));
        std::string rates = oddRates == r.recordCount ? std::string("none finite")
                            : minRate == maxRate
                                ? Number(minRate) + " Hz"
                                : Number(minRate) + " Hz to " + Number(maxRate) + " Hz";
        if (oddRates > 0) {
            rates += (oddRates == r.recordCount ? " (" : "; ") + std::to_string(oddRates) +
                     (oddRates == 1 ? " record has" : " records have") +
                     " a rate that is not a finite number";
            if (oddRates == r.recordCount) rates += ")";
        }
        Line("Record rates", rates);
        for (const auto& [label, text] : settings.lines(h.channelCount))
            Line(label, text);
    }
    Line("State", r.damagedTail ? "damaged tail, " + r.error : std::string("intact"));
    if (!each.empty()) std::fputs(each.c_str(), stdout);
    FlushOutput();
    return Outcome(r, path);
}

}  // namespace rv8rec
