// A record's acquisition settings as rv8rec shows them: the names of the codes, one line per
// record, and the range each setting takes over a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "logging/RecordingFile.h"

namespace rv8rec {

// "channel 1", "channel 2", "chop"; "unknown" for a code without a name.
std::string MeasureModeName(int8_t mode);
// "channel 1", "channel 2", "none".
std::string TriggerSourceName(int8_t source);
// "rising", "falling".
std::string SlopeName(int8_t slope);
// "AC", "DC".
std::string CouplingName(int8_t coupling);

// One line for a record's settings: "4096 samples (2048 after the trigger), chop, trigger
// channel 1 rising at 0 V (hysteresis 0.5 V), CH1 4 V AC, CH2 0.8 V DC". "settings unknown" for
// a record without them (version 1).
std::string SettingsLine(const rv8::RecordingRecord& record, uint16_t channels);

// The values each setting takes over the records added: "4096 samples" or "1024 to 4096
// samples", "channel 1, chop", "unknown" where no record knew it.
class SettingsRange {
  public:
    void add(const rv8::RecordingRecord& record);
    // "label: text" pairs for the settings, channel by channel up to `channels` (at most 2).
    std::vector<std::pair<std::string, std::string>> lines(uint16_t channels) const;

  private:
    struct Numbers {
        double lo = 0, hi = 0;
        bool any = false, unknown = false;
        void add(double v, bool known);
        std::string text(const char* unit) const;
    };
    struct Codes {
        uint32_t seen = 0;  // bit c for code c (0..30), bit 31 unknown
        void add(int8_t code);
        std::string text(std::string (*name)(int8_t)) const;
    };
    uint64_t records_ = 0;
    uint64_t withSettings_ = 0;
    Numbers length_, post_;
    Codes mode_, source_, slope_;
    Numbers sensitivity_[2], level_[2], hysteresis_[2];
    Codes coupling_[2];
};

}  // namespace rv8rec
