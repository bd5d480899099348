#include "tools/plot/PlotData.h"

#include <algorithm>
#include <cmath>

namespace rv8plot {

double PlotData::volts(uint16_t c, int16_t s) const {
    const rv8::ChannelRange r = c < header.ranges.size() ? header.ranges[c] : rv8::ChannelRange{};
    return (r.upper + r.lower) / 2 + static_cast<double>(s) * ((r.upper - r.lower) / 2) / 32768.0;
}

int Load(const std::string& path, const rv8rec::RecordRange& range, uint16_t maxChannels,
         PlotData& data, std::string& why) {
    data.fileName = path;
    int64_t lastSeen = -1;
    bool tooWide = false;
    const auto onHeader = [&](const rv8::RecordingHeader& h) {
        data.header = h;
        tooWide = h.channelCount > maxChannels;
    };
    const auto onRecord = [&](const rv8::RecordingRecord& rec) {
        if (tooWide) return false;
        lastSeen = rec.number;
        if (rec.number < range.first) return true;
        if (rec.number > range.last) return false;
        if (!range.contains(rec.number)) return true;
        if (data.count == 0) data.first = rec;
        ++data.count;
        RecordSpan span;
        span.number = rec.number;
        span.timeUs = rec.timeUs;
        if (std::isfinite(rec.sampleRate) && rec.sampleRate > 0) {
            span.seconds = rec.frames / rec.sampleRate;
        }
        const uint16_t channels = data.header.channelCount;
        if (rec.frames > 0) {
            for (uint16_t c = 0; c < channels; ++c) {
                int16_t lo = INT16_MAX, hi = INT16_MIN;
                for (std::size_t i = c; i < rec.samples.size(); i += channels) {
                    lo = std::min(lo, rec.samples[i]);
                    hi = std::max(hi, rec.samples[i]);
                }
                const double a = data.volts(c, lo), b = data.volts(c, hi);
                span.min.push_back(std::min(a, b));
                span.max.push_back(std::max(a, b));
            }
        }
        data.spans.push_back(std::move(span));
        return true;
    };
    const rv8::RecordingReadResult r = rv8::ScanRecording(path, onRecord, onHeader);
    if (!r.headerOk || r.ioError) {
        why = path + ": " + r.error;
        return r.ioError ? rv8rec::kExitUsage : rv8rec::kExitDamaged;
    }
    if (tooWide) {
        data.count = 0;
        why = path + ": the recording has " + std::to_string(data.header.channelCount) +
              " channels; the picture has room for " + std::to_string(maxChannels) +
              " (a panel of at least 10 px each; a larger --size holds more)";
        return rv8rec::kExitUsage;
    }
    data.damaged = r.damagedTail;
    data.error = r.error;
    if (data.count == 0) {
        why = path + ": no record to draw (records " + range.text() + "; " +
              (lastSeen < 0 ? std::string("the file holds no record")
                            : "the file holds records 0-" + std::to_string(lastSeen)) +
              (r.damagedTail ? " before its damaged tail: " + r.error : std::string()) + ")";
        return r.damagedTail ? rv8rec::kExitDamaged : rv8rec::kExitUsage;
    }
    if (r.damagedTail) {
        why = path + ": " + r.error;
        return rv8rec::kExitDamaged;
    }
    return rv8rec::kExitIntact;
}

}  // namespace rv8plot
