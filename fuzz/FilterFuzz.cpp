// rv8rec find's expressions (display/RecordFilter.h): any text either parses or gives a message
// and a position inside the text; what parses evaluates on records with and without readings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "display/RecordFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::size_t at = 0;
    const auto filter = rv8::measure::RecordFilter::Parse(text, error, at);
    if (!filter) {
        if (error.empty() || at > size) std::abort();
        return 0;
    }
    rv8::measure::ChannelReadings channels[3];
    channels[0].measured = true;
    channels[0].frequency = 1000;
    channels[0].peakToPeak = 3;
    channels[1].measured = false;
    channels[2].measured = true;
    channels[2].min = -std::numeric_limits<double>::infinity();
    for (std::size_t n = 0; n <= 3; ++n) {
        const rv8::measure::RecordFacts facts{static_cast<uint32_t>(n * 1000), 1e5,
                                              static_cast<int32_t>(n) - 1, channels, n};
        (void)filter->matches(facts);
    }
    return 0;
}
