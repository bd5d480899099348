#include "sim/SimInstrument.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <thread>

namespace rv8::sim {

namespace {

// Time between the end of one record and the start of the next measurement (transfer and
// re-arming). Not a round number, so that a free-running trace drifts as on the hardware.
constexpr double kDeadTime = 0.0137;
// The longest stretch, in samples, that one measurement searches for its trigger: bounds the
// time a call takes whatever the time-out and the sample frequency.
constexpr int64_t kLongestSearch = int64_t{1} << 20;
constexpr uint16_t kMidScale = 32768;

// One line of the trace: the name, the arguments on entry, " -> " and the by-reference arguments
// on return, " = " and the result.
class Line {
  public:
    explicit Line(const char* name) : text_(name) {}
    template <typename T>
    Line& in(T v) {
        return add(" ", v);
    }
    template <typename T>
    Line& in(T* p) {
        return p ? add(" ", *p) : add(" ", "null");
    }
    template <typename T>
    Line& out(T* p) {
        const char* sep = outs_++ ? " " : " -> ";
        return p ? add(sep, *p) : add(sep, "null");
    }
    Line& out(int64_t v) { return add(outs_++ ? " " : " -> ", v); }
    Line& ret(int64_t v) { return add(" = ", v); }
    const std::string& text() const { return text_; }

  private:
    Line& add(const char* sep, const char* s) {
        text_ += sep;
        text_ += s;
        return *this;
    }
    template <typename T>
    Line& add(const char* sep, T v) {
        char buf[32];
        std::to_chars_result r;
        if constexpr (std::is_floating_point_v<T>) {
            r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v));
        } else {
            r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v));
        }
        text_ += sep;
        text_.append(buf, r.ptr);
        return *this;
    }

    std::string text_;
    int outs_ = 0;
};

}  // namespace

SimInstrument::SimInstrument(SimOptions options)
    : pending_(options), options_(std::move(options)) {}

SimInstrument::Channel* SimInstrument::channel(int32_t number) {
    return open_ && (number == 1 || number == 2) ? &channels_[number - 1] : nullptr;
}

void SimInstrument::powerUp() {
    measureMode_ = 3;
    sampleFrequency_ = AcceptedFrequency(options_.maxSampleFrequency, options_.maxSampleFrequency);
    recordLength_ = std::min(4096, options_.maxRecordLength);
    postSamples_ = recordLength_ / 2;
    for (int i = 0; i < 2; ++i) {
        channels_[i] = Channel{};
        channels_[i].sensitivity = options_.sensitivity[i];
    }
    triggerSource_ = 0;
    triggerMode_ = 0;
    triggerTimeOut_ = 100;
    clock_ = 0.0;
    acquisitions_ = 0;
    record_[0].clear();
    record_[1].clear();
    lastTriggerIndex_ = -1;
    lastRecordTime_ = 0.0;
}

int32_t SimInstrument::AcceptedFrequency(int32_t requested, int32_t maxFrequency) {
    const int64_t max = std::max<int32_t>(maxFrequency, 1);
    const int64_t r = std::clamp<int64_t>(requested, 1, max);
    const int64_t below = max / r;  // the divider whose rate is at or above the request
    const double upper = static_cast<double>(max) / static_cast<double>(below);
    const double lower = static_cast<double>(max) / static_cast<double>(below + 1);
    const double rate = r - lower < upper - r ? lower : upper;
    return static_cast<int32_t>(std::nearbyint(rate));
}

double SimInstrument::AcceptedSensitivity(double requested) {
    for (double range : kSensitivities) {
        // With room for a request that lost its last bit on the way (0.2 computed as 0.1 * 2).
        if (range >= requested - 1e-12 * std::fabs(requested)) return range;
    }
    return kSensitivities[std::size(kSensitivities) - 1];
}

int32_t SimInstrument::acquisitionMs() const {
    if (options_.acquireMs >= 0) return options_.acquireMs;
    const double ms = 1000.0 * recordLength_ / std::max(sampleFrequency_, 1);
    return static_cast<int32_t>(std::min(100.0, std::ceil(ms)));
}

void SimInstrument::InitInstrument(int32_t mode) {
    options_ = pending_;
    open_ = options_.serialNumber != 0;
    if (open_) powerUp();
    if (tracing()) trace(Line("InitInstrument").in(int64_t{mode}).text());
}

void SimInstrument::ExitInstrument() {
    open_ = false;
    if (tracing()) trace("ExitInstrument");
}

void SimInstrument::GetSerialNumber(int32_t* serial) {
    Line line("GetSerialNumber");
    line.in(serial);
    if (open_ && serial) *serial = options_.serialNumber;
    if (tracing()) trace(line.out(serial).text());
}

void SimInstrument::GetCalibrationDate(int32_t* word) {
    Line line("GetCalibrationDate");
    line.in(word);
    if (open_ && word) *word = options_.calibrationDate;
    if (tracing()) trace(line.out(word).text());
}

int32_t SimInstrument::GetMaxSampleFrequency() {
    const int32_t f = open_ ? options_.maxSampleFrequency : 0;
    if (tracing()) trace(Line("GetMaxSampleFrequency").ret(f).text());
    return f;
}

int32_t SimInstrument::GetMaxRecordLength() {
    const int32_t n = open_ ? options_.maxRecordLength : 0;
    if (tracing()) trace(Line("GetMaxRecordLength").ret(n).text());
    return n;
}

bool SimInstrument::measured(int index) const {
    return measureMode_ == 3 || measureMode_ == index + 1;
}

ChannelGenerator& SimInstrument::startStream(int index, double time) {
    ChannelGenerator& gen = generators_[index];
    gen.configure(options_.signal[index], sampleFrequency_);
    gen.start(time, channels_[index].sensitivity, channels_[index].coupling == 0,
              2 * acquisitions_ + static_cast<uint64_t>(index));
    return gen;
}

std::pair<int64_t, bool> SimInstrument::placeTrigger(int source, int64_t pre) {
    const Channel& c = channels_[source];
    const ChannelGenerator& gen = startStream(source, clock_);
    // The comparator works in the generator's units; where the range converts, it sees what the
    // converter sees: the signal clipped at full scale.
    const double perVolt = gen.unitsPerVolt();
    const bool clip = gen.converts();
    const double level = c.triggerLevel * perVolt;
    const double hys = std::max(c.triggerHys, 0.0) * perVolt;
    const bool rising = triggerMode_ == 0;
    const int64_t length = recordLength_;
    // With a time-out the trigger may come that long after the pre-trigger samples; without one
    // the instrument looks through one record's worth and otherwise runs free at once.
    const int64_t window =
        triggerTimeOut_ > 0
            ? std::clamp<int64_t>(int64_t{triggerTimeOut_} * sampleFrequency_ / 1000, 1,
                                  kLongestSearch)
            : length;

    auto sample = [&](float u) {
        double v = u;
        if (clip) v = std::clamp(v, -32768.0, 32768.0);
        return v;
    };
    auto crosses = [&](double v) { return rising ? v >= level : v <= level; };
    auto arms = [&](double v) { return rising ? v < level - hys : v > level + hys; };

    // The search usually ends within a period of the signal: it takes the samples in stretches
    // that start short and grow.
    float units[ChannelGenerator::kBlock];
    auto stretch = [](int64_t n) { return std::min<int64_t>(2 * n, ChannelGenerator::kBlock); };

    // Before the pre-trigger samples are all taken a crossing only disarms the comparator and
    // a sample beyond the hysteresis arms it (the two never coincide), so its state at `pre` is
    // set by the last such sample before it: found walking back, not by running the comparator
    // over the whole pre-trigger stretch.
    bool armed = false;
    bool decided = false;
    for (int64_t end = pre, n = 128; end > 0 && !decided; n = stretch(n)) {
        const int64_t begin = std::max<int64_t>(0, end - n);
        gen.units(begin, static_cast<std::size_t>(end - begin), units);
        for (int64_t j = end - 1; j >= begin; --j) {
            const double v = sample(units[j - begin]);
            if (crosses(v)) {
                decided = true;
                break;
            }
            if (arms(v)) {
                armed = decided = true;
                break;
            }
        }
        end = begin;
    }
    int64_t fired = -1;
    const int64_t last = pre + window;  // the last sample at which the trigger may fire
    for (int64_t at = pre, n = 128; at <= last && fired < 0; n = stretch(n)) {
        const int64_t end = std::min(at + n, last + 1);
        gen.units(at, static_cast<std::size_t>(end - at), units);
        for (int64_t j = at; j < end; ++j) {
            const double v = sample(units[j - at]);
            if (armed && crosses(v)) {
                fired = j;
                break;
            }
            if (arms(v)) armed = true;
        }
        at = end;
    }
    const int64_t start = fired >= 0 ? fired - pre : triggerTimeOut_ > 0 ? window : 0;
    return {start, fired >= 0};
}

void SimInstrument::fillRecord(int index, int64_t start) {
    std::vector<uint16_t>& out = record_[index];
    const std::size_t length = static_cast<std::size_t>(recordLength_);
    out.resize(length);
    const InputSignal& input = options_.signal[index];
    if (!measured(index)) {
        std::fill(out.begin(), out.end(), kMidScale);
    } else if (input.shape == Shape::Raw) {
        std::fill(out.begin(), out.end(), input.raw);
    } else if (input.shape == Shape::Ramp) {
        for (std::size_t i = 0; i < length; ++i)
            out[i] = static_cast<uint16_t>(i & 0xFFFF);
    } else {
        generators_[index].raw(start, length, out.data());
    }
}

int32_t SimInstrument::StartMeasurement() {
    if (!open_ || options_.startResult != 0) {
        const int32_t result = open_ ? options_.startResult : kNoInstrument;
        if (tracing()) trace(Line("StartMeasurement").ret(result).text());
        return result;
    }
    if (realTime_) std::this_thread::sleep_for(std::chrono::milliseconds(acquisitionMs()));

    const int64_t length = recordLength_;
    const int64_t pre = length - postSamples_;
    const double fs = sampleFrequency_;
    ++acquisitions_;

    const int source = triggerSource_ == 0 ? 0 : triggerSource_ == 1 ? 1 : -1;
    const bool searches = source >= 0 && options_.signal[source].analog();
    int64_t start = 0;
    bool triggered = false;
    // The trigger source's stream starts at the clock, where the search starts; the record
    // starts `start` samples later, and so does the other channel's stream.
    if (searches) std::tie(start, triggered) = placeTrigger(source, pre);
    const double recordTime = clock_ + static_cast<double>(start) / fs;
    for (int index = 0; index < 2; ++index) {
        if (index == source && searches) {
            fillRecord(index, start);
            continue;
        }
        if (measured(index) && options_.signal[index].analog()) startStream(index, recordTime);
        fillRecord(index, 0);
    }
    lastTriggerIndex_ = triggered ? static_cast<int32_t>(pre) : -1;
    lastRecordTime_ = recordTime;
    clock_ = recordTime + static_cast<double>(length) / fs + kDeadTime;
    if (tracing()) trace(Line("StartMeasurement").ret(0).text());
    return 0;
}

void SimInstrument::GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2) {
    // Exactly the record length in force: the last record, and mid-scale past its end (before the
    // first measurement, or after the length grew).
    const std::size_t length = open_ ? static_cast<std::size_t>(recordLength_) : 0;
    uint16_t* out[2] = {ch1, ch2};
    for (int index = 0; index < 2; ++index) {
        if (!out[index] || length == 0) continue;
        const std::vector<uint16_t>& rec = record_[index];
        const std::size_t have = std::min(length, rec.size());
        std::copy_n(rec.begin(), have, out[index]);
        std::fill(out[index] + have, out[index] + length, kMidScale);
    }
    if (tracing()) trace(Line("GetMeasurementRaw").out(static_cast<int64_t>(length)).text());
}

void SimInstrument::SetMeasureMode(int32_t mode) {
    if (open_ && mode >= 1 && mode <= 3) measureMode_ = mode;
    if (tracing()) trace(Line("SetMeasureMode").in(int64_t{mode}).text());
}

int32_t SimInstrument::GetMeasureMode() {
    const int32_t mode = open_ ? measureMode_ : 0;
    if (tracing()) trace(Line("GetMeasureMode").ret(mode).text());
    return mode;
}

void SimInstrument::SetRecordLength(int32_t samples) {
    if (open_) {
        recordLength_ = std::clamp(samples, 1, options_.maxRecordLength);
        postSamples_ = std::min(postSamples_, recordLength_);
    }
    if (tracing()) trace(Line("SetRecordLength").in(int64_t{samples}).text());
}

int32_t SimInstrument::GetRecordLength() {
    const int32_t n = open_ ? recordLength_ : 0;
    if (tracing()) trace(Line("GetRecordLength").ret(n).text());
    return n;
}

void SimInstrument::SetPostSamples(int32_t samples) {
    if (open_) postSamples_ = std::clamp(samples, 0, recordLength_);
    if (tracing()) trace(Line("SetPostSamples").in(int64_t{samples}).text());
}

int32_t SimInstrument::GetPostSamples() {
    const int32_t n = open_ ? postSamples_ : 0;
    if (tracing()) trace(Line("GetPostSamples").ret(n).text());
    return n;
}

void SimInstrument::SetSampleFrequency(int32_t* frequency) {
    Line line("SetSampleFrequency");
    line.in(frequency);
    if (open_ && frequency) {
        sampleFrequency_ = AcceptedFrequency(*frequency, options_.maxSampleFrequency);
        *frequency = sampleFrequency_;
    }
    if (tracing()) trace(line.out(frequency).text());
}

int32_t SimInstrument::GetSampleFrequency() {
    const int32_t f = open_ ? sampleFrequency_ : 0;
    if (tracing()) trace(Line("GetSampleFrequency").ret(f).text());
    return f;
}

void SimInstrument::SetSensitivity(int32_t number, double* volts) {
    Line line("SetSensitivity");
    line.in(int64_t{number}).in(volts);
    if (Channel* c = channel(number); c && volts) {
        // A NaN request changes nothing; the range in force goes back into the argument.
        if (!std::isnan(*volts)) c->sensitivity = AcceptedSensitivity(*volts);
        *volts = c->sensitivity;
    }
    if (tracing()) trace(line.out(volts).text());
}

void SimInstrument::GetSensitivity(int32_t number, double* volts) {
    Line line("GetSensitivity");
    line.in(int64_t{number}).in(volts);
    if (Channel* c = channel(number); c && volts) *volts = c->sensitivity;
    if (tracing()) trace(line.out(volts).text());
}

void SimInstrument::SetCoupling(int32_t number, uint8_t code) {
    if (Channel* c = channel(number); c && code <= 1) c->coupling = code;
    if (tracing()) trace(Line("SetCoupling").in(int64_t{number}).in(int64_t{code}).text());
}

uint8_t SimInstrument::GetCoupling(int32_t number) {
    const Channel* c = channel(number);
    const uint8_t code = c ? c->coupling : 0;
    if (tracing()) trace(Line("GetCoupling").in(int64_t{number}).ret(code).text());
    return code;
}

void SimInstrument::SetTriggerSource(int32_t code) {
    if (open_ && (code == 0 || code == 1 || code == 5)) triggerSource_ = code;
    if (tracing()) trace(Line("SetTriggerSource").in(int64_t{code}).text());
}

int32_t SimInstrument::GetTriggerSource() {
    const int32_t code = open_ ? triggerSource_ : 0;
    if (tracing()) trace(Line("GetTriggerSource").ret(code).text());
    return code;
}

void SimInstrument::SetTriggerMode(uint8_t code) {
    if (open_ && code <= 1) triggerMode_ = code;
    if (tracing()) trace(Line("SetTriggerMode").in(int64_t{code}).text());
}

uint8_t SimInstrument::GetTriggerMode() {
    const uint8_t code = open_ ? triggerMode_ : 0;
    if (tracing()) trace(Line("GetTriggerMode").ret(code).text());
    return code;
}

void SimInstrument::SetTriggerLevel(int32_t number, double volts) {
    if (Channel* c = channel(number)) c->triggerLevel = volts;
    if (tracing()) trace(Line("SetTriggerLevel").in(int64_t{number}).in(volts).text());
}

void SimInstrument::GetTriggerLevel(int32_t number, double* volts) {
    Line line("GetTriggerLevel");
    line.in(int64_t{number}).in(volts);
    if (Channel* c = channel(number); c && volts) *volts = c->triggerLevel;
    if (tracing()) trace(line.out(volts).text());
}

void SimInstrument::SetTriggerHys(int32_t number, double volts) {
    if (Channel* c = channel(number)) c->triggerHys = volts;
    if (tracing()) trace(Line("SetTriggerHys").in(int64_t{number}).in(volts).text());
}

void SimInstrument::GetTriggerHys(int32_t number, double* volts) {
    Line line("GetTriggerHys");
    line.in(int64_t{number}).in(volts);
    if (Channel* c = channel(number); c && volts) *volts = c->triggerHys;
    if (tracing()) trace(line.out(volts).text());
}

void SimInstrument::SetTriggerTimeOut(int32_t timeout) {
    if (open_) triggerTimeOut_ = timeout;
    if (tracing()) trace(Line("SetTriggerTimeOut").in(int64_t{timeout}).text());
}

int32_t SimInstrument::GetTriggerTimeOut() {
    const int32_t t = open_ ? triggerTimeOut_ : 0;
    if (tracing()) trace(Line("GetTriggerTimeOut").ret(t).text());
    return t;
}

}  // namespace rv8::sim
