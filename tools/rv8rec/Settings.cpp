#include "tools/rv8rec/Settings.h"

#include <algorithm>
#include <cmath>

#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

std::string Named(int8_t code, std::initializer_list<std::pair<int8_t, const char*>> names) {
    for (const auto& [c, name] : names)
        if (c == code) return name;
    return "unknown";
}

std::string Volts(double v) {
    return std::isfinite(v) ? Number(v) + " V" : std::string("unknown");
}

}  // namespace

std::string MeasureModeName(int8_t mode) {
    return Named(mode, {{rv8::acq::kModeChannel1, "channel 1"},
                        {rv8::acq::kModeChannel2, "channel 2"},
                        {rv8::acq::kModeChop, "chop"}});
}

std::string TriggerSourceName(int8_t source) {
    return Named(source, {{rv8::acq::kSourceChannel1, "channel 1"},
                          {rv8::acq::kSourceChannel2, "channel 2"},
                          {rv8::acq::kSourceNone, "none"}});
}

std::string SlopeName(int8_t slope) {
    return Named(slope, {{rv8::acq::kRising, "rising"}, {rv8::acq::kFalling, "falling"}});
}

std::string CouplingName(int8_t coupling) {
    return Named(coupling, {{rv8::acq::kAC, "AC"}, {rv8::acq::kDC, "DC"}});
}

std::string SettingsLine(const rv8::RecordingRecord& record, uint16_t channels) {
    if (!record.hasSettings) return "settings unknown";
    const rv8::Acquisition& a = record.acquisition;
    std::string s = a.recordLength >= 0 ? std::to_string(a.recordLength) + " samples"
                                        : std::string("record length unknown");
    if (a.postSamples >= 0) s += " (" + std::to_string(a.postSamples) + " after the trigger)";
    s += ", " + MeasureModeName(a.measureMode);
    const int t = a.triggerChannel();
    if (a.triggerSource == rv8::acq::kSourceNone) {
        s += ", no trigger";
    } else if (t < 0) {
        s += ", trigger unknown";
    } else {
        const rv8::AcquisitionChannel& ch = a.channel[static_cast<std::size_t>(t)];
        s += ", trigger channel " + std::to_string(t + 1) + " " + SlopeName(a.triggerSlope) +
             " at " + Volts(ch.triggerLevel) + " (hysteresis " + Volts(ch.triggerHysteresis) + ")";
    }
    for (std::size_t c = 0; c < std::min<std::size_t>(channels, a.channel.size()); ++c) {
        s += ", CH" + std::to_string(c + 1) + " " + Volts(a.channel[c].sensitivity) + " " +
             CouplingName(a.channel[c].coupling);
        if (!a.measured(static_cast<int>(c))) s += " (not measured)";
    }
    return s;
}

void SettingsRange::Numbers::add(double v, bool known) {
    if (!known || !std::isfinite(v)) {
        unknown = true;
        return;
    }
    lo = any ? std::min(lo, v) : v;
    hi = any ? std::max(hi, v) : v;
    any = true;
}

std::string SettingsRange::Numbers::text(const char* unit) const {
    std::string s;
    if (any) s = Number(lo) + (hi != lo ? " to " + Number(hi) : std::string()) + unit;
    if (unknown) s += any ? ", unknown in some records" : "unknown";
    return s;
}

void SettingsRange::Codes::add(int8_t code) {
    seen |= code >= 0 && code < 31 ? 1u << code : 1u << 31;
}

std::string SettingsRange::Codes::text(std::string (*name)(int8_t)) const {
    std::string s;
    for (int8_t c = 0; c < 31; ++c) {
        if ((seen & (1u << c)) == 0) continue;
        if (!s.empty()) s += ", ";
        s += name(c);
    }
    if (seen & (1u << 31)) s += s.empty() ? "unknown" : ", unknown in some records";
    return s;
}

void SettingsRange::add(const rv8::RecordingRecord& record) {
    ++records_;
    if (!record.hasSettings) return;
    ++withSettings_;
    const rv8::Acquisition& a = record.acquisition;
    length_.add(a.recordLength, a.recordLength >= 0);
    post_.add(a.postSamples, a.postSamples >= 0);
    mode_.add(a.measureMode);
    source_.add(a.triggerSource);
    slope_.add(a.triggerSlope);
    for (std::size_t c = 0; c < 2; ++c) {
        sensitivity_[c].add(a.channel[c].sensitivity, true);
        level_[c].add(a.channel[c].triggerLevel, true);
        hysteresis_[c].add(a.channel[c].triggerHysteresis, true);
        coupling_[c].add(a.channel[c].coupling);
    }
}

std::vector<std::pair<std::string, std::string>> SettingsRange::lines(uint16_t channels) const {
    if (records_ == 0) return {};
    if (withSettings_ == 0) return {{"Settings", "unknown (the records carry none)"}};
    std::vector<std::pair<std::string, std::string>> out;
    if (withSettings_ < records_) {
        out.emplace_back("Settings", std::to_string(records_ - withSettings_) + " of " +
                                         std::to_string(records_) + " records carry none");
    }
    out.emplace_back("Record length", length_.text(" samples"));
    out.emplace_back("Post-trigger", post_.text(" samples"));
    out.emplace_back("Measure mode", mode_.text(MeasureModeName));
    out.emplace_back("Trigger source", source_.text(TriggerSourceName));
    out.emplace_back("Trigger slope", slope_.text(SlopeName));
    for (std::size_t c = 0; c < std::min<std::size_t>(channels, 2); ++c) {
        const std::string ch = "Ch" + std::to_string(c + 1) + " ";
        out.emplace_back(ch + "sensitivity", sensitivity_[c].text(" V"));
        out.emplace_back(ch + "coupling", coupling_[c].text(CouplingName));
        out.emplace_back(ch + "trig. level", level_[c].text(" V"));
        out.emplace_back(ch + "hysteresis", hysteresis_[c].text(" V"));
    }
    return out;
}

}  // namespace rv8rec
