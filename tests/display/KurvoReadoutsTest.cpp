// The chart's readouts as the chart itself makes them from what it is given: measurements,
// over-range notes, spectrum peaks and their layout on the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "display/Kurvo.h"
#include "display/Measurements.h"
#include "tests/display/KurvoTestSupport.h"

// QString in failure messages as its text.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace rv8 {
namespace {

using namespace charttest;

// Interleaved frames from one function per channel.
template <typename F1, typename F2>
std::vector<int16_t> Record(int frames, F1 ch1, F2 ch2) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i) {
        v.push_back(static_cast<int16_t>(std::clamp<long>(std::lround(ch1(i)), -32768, 32767)));
        v.push_back(static_cast<int16_t>(std::clamp<long>(std::lround(ch2(i)), -32768, 32767)));
    }
    return v;
}

// Hands the chart the measurements of a whole record and plots its frames [from, from + count).
void Show(Kurvo& k, const std::vector<int16_t>& record, int from, int count) {
    const int frames = static_cast<int>(record.size() / 2);
    measure::Measurer measurer;
    measure::ChannelMeasurement m[2];
    measurer.measure(record.data(), frames, m);
    k.Measurements(m[0], m[1]);
    k.WindowStart(from);
    k.PlotBuffer(record[2 * static_cast<std::size_t>(from)], 2, static_cast<int16_t>(count));
}

// Over range is a property of the whole measured record, like min and max: a sample at an end of
// the range that the view does not show still notes it.
TEST(KurvoReadouts, OverRangeIsOfTheWholeRecordLikeMinAndMax) {
    struct Case {
        const char* what;
        int16_t first;  // the record's first sample on channel 1, the rest a small sine
        bool over;
    };
    const Case cases[] = {
        {"a ramp's start at the bottom, out of view", -32768, true},
        {"the top, out of view", 32767, true},
        {"within the range", -32767, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto k = MakeChart();
        GiveSettings(*k);
        const std::vector<int16_t> record = Record(
            4096, [&](int i) { return i == 0 ? c.first : 3000 * std::sin(i * 0.1); },
            [](int) { return 0; });
        Show(*k, record, 2048, 512);  // the window does not show frame 0
        const kurvo::ChannelReadouts& ch = k->readouts().channel[0];
        EXPECT_EQ(ch.overRange.isEmpty(), !c.over) << ch.overRange.toStdString();
        // The spectrum view says the same of the same record.
        k->PlotArray(std::vector<int16_t>(2 * 513, 0));
        EXPECT_EQ(k->readouts().channel[0].overRange.isEmpty(), !c.over);
    }
}

}  // namespace
}  // namespace rv8
