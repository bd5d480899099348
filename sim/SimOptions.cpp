#include "sim/SimOptions.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace rv8::sim {

namespace {

// Decimal with an optional minus sign, or hexadecimal with 0x; within [lo, hi].
std::optional<int64_t> ParseInteger(std::string_view text, int64_t lo, int64_t hi) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    if (magnitude > (uint64_t{1} << 40)) return std::nullopt;
    const int64_t value =
        negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value < lo || value > hi) return std::nullopt;
    return value;
}

// Any double, NaN and infinities included: starting ranges are taken as given.
std::optional<double> ParseReal(std::string_view text) {
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

class Reader {
  public:
    Reader(const std::function<const char*(const char*)>& lookup,
           std::vector<std::string>* warnings)
        : lookup_(lookup), warnings_(warnings) {}

    // Calls `apply` with the variable's text when it is set; `apply` returns false when the text
    // is unusable, which is reported with `expected`.
    template <typename Apply>
    void read(const char* name, const char* expected, Apply apply) {
        const char* value = lookup_(name);
        if (!value) return;
        if (!apply(std::string_view(value)) && warnings_) {
            warnings_->push_back(std::string(name) + "=" + value + " ignored, expected " +
                                 expected);
        }
    }

  private:
    const std::function<const char*(const char*)>& lookup_;
    std::vector<std::string>* warnings_;
};

}  // namespace

SimOptions OptionsFromEnvironment(const std::function<const char*(const char*)>& lookup,
                                  std::vector<std::string>* warnings) {
    SimOptions o;
    Reader r(lookup, warnings);
    auto integer = [](int32_t& out, int64_t lo, int64_t hi) {
        return [&out, lo, hi](std::string_view t) {
            auto v = ParseInteger(t, lo, hi);
            if (v) out = static_cast<int32_t>(static_cast<uint32_t>(*v));
            return v.has_value();
        };
    };

    r.read("RV8SIM_SERIAL", "a 32-bit integer", integer(o.serialNumber, INT32_MIN, INT32_MAX));
    r.read("RV8SIM_CALDATE", "a 32-bit word such as 0x0F0A07D8",
           integer(o.calibrationDate, INT32_MIN, UINT32_MAX));
    r.read("RV8SIM_MAX_FREQ", "1 to 2147483647", integer(o.maxSampleFrequency, 1, INT32_MAX));
    r.read("RV8SIM_MAX_RECLEN", "a length of at least 1", [&](std::string_view t) {
        auto v = ParseInteger(t, 1, INT64_MAX);
        if (v)
            o.maxRecordLength = static_cast<int32_t>(std::min<int64_t>(*v, kLargestRecordLength));
        return v.has_value();
    });
    const char* sensNames[2] = {"RV8SIM_SENS1", "RV8SIM_SENS2"};
    const char* signalNames[2] = {"RV8SIM_CH1", "RV8SIM_CH2"};
    for (int ch = 0; ch < 2; ++ch) {
        r.read(sensNames[ch], "volts, such as 0.8", [&](std::string_view t) {
            auto v = ParseReal(t);
            if (v) o.sensitivity[ch] = *v;
            return v.has_value();
        });
        r.read(signalNames[ch],
               "sine|square|triangle:HZ:VOLTS[:OFFSET], noise:VOLTS, dc:VOLTS, raw:N or ramp",
               [&](std::string_view t) {
                   auto input = ParseInputSignal(t);
                   if (input) o.signal[ch] = *input;
                   return input.has_value();
               });
    }
    r.read("RV8SIM_START_RESULT", "a 32-bit integer", integer(o.startResult, INT32_MIN, INT32_MAX));
    r.read("RV8SIM_ACQ_MS", "milliseconds, 0 to 60000", integer(o.acquireMs, 0, 60000));
    r.read("RV8SIM_TRACE", "a file name", [&](std::string_view t) {
        o.tracePath = std::string(t);
        return !t.empty();
    });
    return o;
}

}  // namespace rv8::sim
