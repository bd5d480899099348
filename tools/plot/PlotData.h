// What rv8rec-plot draws, gathered from a recording in one pass: the one selected record
// whole, or for several records each record's time and per-channel minimum and maximum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "logging/RecordingFile.h"
#include "tools/rv8rec/Common.h"

namespace rv8plot {

// One record reduced to its place in time and its extremes, per channel in volts.
struct RecordSpan {
    uint32_t number = 0;
    int64_t timeUs = 0;
    double seconds = 0;            // frames / rate; 0 when the rate is not a positive number
    std::vector<double> min, max;  // empty for a record without samples
};

struct PlotData {
    std::string fileName;  // as given
    rv8::RecordingHeader header;
    uint64_t count = 0;             // records selected and read
    rv8::RecordingRecord first;     // the first selected record, whole
    std::vector<RecordSpan> spans;  // every selected record
    bool damaged = false;
    std::string error;

    bool single() const { return count == 1; }
    // Volts of sample s on channel c (the recording's formula).
    double volts(uint16_t c, int16_t s) const;
};

// Reads the selected records of a recording of at most `maxChannels` channels. Returns the exit
// status (0 done, 1 damaged tail or not a recording, 2 unreadable, more channels or nothing
// selected); `why` holds the message for anything but 0. Memory: the first selected record
// and 16 bytes per channel for each record after it.
int Load(const std::string& path, const rv8rec::RecordRange& range, uint16_t maxChannels,
         PlotData& data, std::string& why);

}  // namespace rv8plot
