// Conditions on a record's readings, as `rv8rec find --where` and the viewer's find take them:
//   ch1.vpp > 2 and ch1.freq < 990
//   not ch2.measured or (record >= 100 and ch1.duty != 0.5)
// A comparison is a quantity, one of < <= > >= == != and a number (or a number and a quantity,
// or two quantities); comparisons combine with `and`, `or`, `not` and parentheses (`not` binds
// closest, then `and`, then `or`). Quantities: record, rate (Hz), event (the event mark), and
// per channel chN.NAME with NAME one of freq (Hz), period (s), vpp, min, max, mean, rms (V),
// duty (0..1), rise, fall (s), over_range and measured (1 or 0). Numbers may have an exponent
// (1e3) and one SI prefix of p n u m k M G (990m, 1.5k). A comparison with a quantity the record
// does not have (no period, a channel not measured or beyond the file's) is false, whichever the
// operator.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "display/RecordReadings.h"

namespace rv8::measure {

// What a filter looks at for one record.
struct RecordFacts {
    uint32_t record = 0;
    double rate = 0.0;
    int32_t eventMark = 0;
    const ChannelReadings* channels = nullptr;  // `channelCount` of them
    std::size_t channelCount = 0;
};

class RecordFilter {
  public:
    // Parses `text`. On a mistake returns nullptr and sets `error` (what is wrong) and
    // `position` (0-based offset in `text` where it is).
    static std::unique_ptr<RecordFilter> Parse(std::string_view text, std::string& error,
                                               std::size_t& position);
    ~RecordFilter();
    bool matches(const RecordFacts& facts) const;
    // The highest channel number (1-based) the expression names; 0 when none.
    std::size_t highestChannel() const { return highestChannel_; }

    struct Node;

  private:
    RecordFilter() = default;
    std::vector<Node> nodes_;
    std::size_t root_ = 0;
    std::size_t highestChannel_ = 0;
};

}  // namespace rv8::measure
