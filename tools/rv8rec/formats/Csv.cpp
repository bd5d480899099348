// rv8rec export --format csv: one row per frame, the record number, the time and each channel
// in volts.
//
// Every number is printed as Number() prints it (std::to_chars, 15 significant digits). The
// text of a volt value depends only on the channel and the 16-bit sample, and the text of a
// time in the record only on the frame index and the record's rate, so both are formatted once
// and then copied: a recording has at most 65536 distinct values per channel, and its records
// usually share one rate. Rows are built in a large buffer and written with write(2).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "tools/rv8rec/Common.h"
#include "tools/rv8rec/Settings.h"

namespace rv8rec {

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;
constexpr std::size_t kFirstBufferBytes = 64 << 10;
constexpr std::size_t kMaxCachedChannels = 8;      // 1.5 MB of text cache per channel
constexpr uint64_t kCacheAfterRows = 4096;         // small exports format every number
constexpr std::size_t kMaxCachedFrames = 1 << 20;  // 24 MB of time text at most

// A formatted number; n == 0 until it is formatted.
struct Text {
    char s[kNumberChars - 1];
    uint8_t n = 0;
};
static_assert(sizeof(Text) == kNumberChars);

class CsvExporter final : public Exporter {
  public:
    CsvExporter(const ExportOptions& o, const std::string& input) : o_(o), input_(input) {}

    bool begin(const rv8::RecordingHeader& h) override {
        if (!o_.output.empty() && o_.output != "-") {
            fd_ = out_.open(o_.output, input_, o_.format->output, error_);
            if (fd_ < 0) return false;
            toFile_ = true;
        }
        channels_ = h.channelCount;
        // Record number, time (up to 64 characters of UTC time), channels, line end.
        rowMax_ = 16 + 64 + static_cast<std::size_t>(channels_) * (kNumberChars + 1) + 1;
        // A small buffer first, the full one once the first is filled (see record()).
        bufSize_ = std::max(kFirstBufferBytes, 4 * rowMax_) + kNumberChars;
        buf_ = std::make_unique_for_overwrite<char[]>(bufSize_);
        std::string line;
        if (o_.comments) {
            line = "# rv8rec export of a recording: format version " + std::to_string(h.version) +
                   ", " + std::to_string(h.channelCount) + " channels, created " +
                   FormatTime(h.creationTimeUs) + "\n";
            for (uint16_t c = 0; c < channels_ && c < h.ranges.size(); ++c) {
                line += "# channel " + std::to_string(c + 1) + " range " +
                        Number(h.ranges[c].upper) + " V to " + Number(h.ranges[c].lower) + " V\n";
            }
        }
        line += "record";
        line += o_.delimiter;
        line += o_.absoluteTime ? "time_utc" : "time_s";
        for (uint16_t c = 0; c < channels_; ++c) {
            const rv8::ChannelRange range = c < h.ranges.size() ? h.ranges[c] : rv8::ChannelRange{};
            // For the usual symmetric range (lower = -upper) this is sample * upper / 32768.
            mid_.push_back((range.upper + range.lower) / 2);
            half_.push_back((range.upper - range.lower) / 2);
            line += o_.delimiter;
            line += "ch" + std::to_string(c + 1) + "_V";
            volts_.emplace_back(nullptr);  // made once the export is long enough to gain from it
        }
        line += '\n';
        if (!room(line.size())) return false;
        std::memcpy(buf_.get(), line.data(), line.size());
        used_ = line.size();
        return true;
    }

    // With --comments, a line with the record's settings before its rows when they differ
    // from the last record's (the time and the acquisition number aside).
    bool settingsComment(const rv8::RecordingRecord& rec) {
        std::string line = Number(rec.sampleRate) + " Hz, " + SettingsLine(rec, channels_);
        if (line == lastSettings_) return true;
        lastSettings_ = line;
        line = "# from record " + std::to_string(rec.number) + ": " + line + "\n";
        if (!room(line.size() + rowMax_)) return false;
        std::memcpy(buf_.get() + used_, line.data(), line.size());
        used_ += line.size();
        return true;
    }

    bool record(const rv8::RecordingRecord& rec) override {
        if (o_.comments && !settingsComment(rec)) return false;
        char number[16];
        const std::size_t numberLen = static_cast<std::size_t>(
            std::to_chars(number, number + sizeof number, rec.number).ptr - number);
        const bool timed = std::isfinite(rec.sampleRate) && rec.sampleRate > 0;
        if (timed && !o_.absoluteTime && rec.sampleRate != timesRate_) {
            times_.clear();
            timesRate_ = rec.sampleRate;
        }
        if (timed && !o_.absoluteTime &&
            times_.size() < std::min<std::size_t>(rec.frames, kMaxCachedFrames)) {
            times_.resize(std::min<std::size_t>(rec.frames, kMaxCachedFrames));
        }
        rows_ += rec.frames;
        if (rows_ >= kCacheAfterRows) {
            for (std::size_t c = 0; c < std::min<std::size_t>(channels_, kMaxCachedChannels); ++c)
                if (!volts_[c]) volts_[c] = std::make_unique<Text[]>(65536);
        }
        const int16_t* samples = rec.samples.data();
        const char d = o_.delimiter;
        for (uint32_t i = 0; i < rec.frames; ++i) {
            if (bufSize_ - kNumberChars - used_ < rowMax_) {
                if (!flush()) return false;
                if (bufSize_ < kBufferBytes) {  // a long export: the full buffer from here on
                    bufSize_ = std::max(kBufferBytes, 4 * rowMax_) + kNumberChars;
                    buf_ = std::make_unique_for_overwrite<char[]>(bufSize_);
                }
            }
            char* p = buf_.get() + used_;
            std::memcpy(p, number, numberLen);
            p += numberLen;
            *p++ = d;
            if (!timed) {
                std::memcpy(p, "nan", 3);
                p += 3;
            } else if (o_.absoluteTime) {
                p = writeUtc(p, rec.timeUs, i, rec.frames, rec.sampleRate);
            } else if (i < times_.size()) {
                Text& t = times_[i];
                if (t.n == 0) fill(t, i / rec.sampleRate);
                std::memcpy(p, t.s, sizeof t.s);
                p += t.n;
            } else {
                p = writeNumber(p, i / rec.sampleRate);
            }
            for (uint16_t c = 0; c < channels_; ++c) {
                *p++ = d;
                const int16_t s = samples[static_cast<std::size_t>(i) * channels_ + c];
                if (Text* cache = volts_[c].get()) {
                    Text& t = cache[static_cast<uint16_t>(s)];
                    if (t.n == 0) fill(t, volts(c, s));
                    std::memcpy(p, t.s, sizeof t.s);
                    p += t.n;
                } else {
                    p = writeNumber(p, volts(c, s));
                }
            }
            *p++ = '\n';
            used_ = static_cast<std::size_t>(p - buf_.get());
        }
        return true;
    }

    bool finish() override {
        if (!flush()) return false;
        if (toFile_) return out_.commit(error_);
        return true;
    }

    void abandon() override {
        used_ = 0;
        out_.discard();
    }

    bool keepsEmptyOutput() const override { return true; }

  private:
    double volts(uint16_t c, int16_t s) const {
        return mid_[c] + static_cast<double>(s) * half_[c] / 32768.0;
    }

    char* writeNumber(char* p, double v) const {
        char* end = WriteNumber(p, v);
        if (o_.decimal != '.') {
            for (char* q = p; q < end; ++q) {
                if (*q == '.') *q = o_.decimal;
            }
        }
        return end;
    }

    void fill(Text& t, double v) const {
        char tmp[kNumberChars];
        const char* end = writeNumber(tmp, v);
        t.n = static_cast<uint8_t>(end - tmp);
        std::memcpy(t.s, tmp, t.n);
    }

    // "2024-03-01T12:34:56.123456789Z", to the nanosecond: the record's time is that of its
    // last frame (the end of the measurement), so frame i of F lies (F - 1 - i) / rate before.
    char* writeUtc(char* p, int64_t timeUs, uint32_t i, uint32_t frames, double rate) {
        const double before = static_cast<double>(frames) - 1 - static_cast<double>(i);
        const double offsetNs = -std::round(before * 1e9 / rate);
        if (!(std::fabs(offsetNs) < 9e18)) {
            std::memcpy(p, "nan", 3);
            return p + 3;
        }
        const __int128 ns = static_cast<__int128>(timeUs) * 1000 + static_cast<int64_t>(offsetNs);
        __int128 secs = ns / 1000000000;
        int64_t frac = static_cast<int64_t>(ns % 1000000000);
        if (frac < 0) {
            frac += 1000000000;
            secs -= 1;
        }
        if (secs != utcSecond_ || utcLen_ == 0) {
            utcSecond_ = secs;
            utcLen_ = 0;
            std::tm tm{};
            const std::time_t t = static_cast<std::time_t>(secs);
            if (static_cast<__int128>(t) == secs && ::gmtime_r(&t, &tm) != nullptr) {
                utcLen_ = std::strftime(utc_, sizeof utc_, "%Y-%m-%dT%H:%M:%S", &tm);
            }
        }
        if (utcLen_ == 0) {
            std::memcpy(p, "nan", 3);
            return p + 3;
        }
        std::memcpy(p, utc_, utcLen_);
        p += utcLen_;
        *p++ = '.';
        for (int k = 8; k >= 0; --k) {
            p[k] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        p += 9;
        *p++ = 'Z';
        return p;
    }

    // Room for n more bytes (and a number's slack) in the buffer: flushed first, and made larger
    // when even the empty buffer is too small.
    bool room(std::size_t n) {
        if (bufSize_ - kNumberChars - used_ >= n) return true;
        if (used_ > 0 && !flush()) return false;
        if (bufSize_ - kNumberChars < n) {
            bufSize_ = n + kNumberChars;
            buf_ = std::make_unique_for_overwrite<char[]>(bufSize_);
        }
        return true;
    }

    bool flush() {
        std::size_t done = 0;
        while (done < used_) {
            const ssize_t n = ::write(fd_, buf_.get() + done, used_ - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                used_ = 0;
                return fail(std::string("cannot write the output") +
                            (toFile_ ? " " + o_.output : "") + ": " + std::strerror(errno));
            }
            done += static_cast<std::size_t>(n);
        }
        used_ = 0;
        return true;
    }

    ExportOptions o_;
    std::string input_;
    std::string lastSettings_;  // --comments: the settings last written
    OutputFile out_;
    int fd_ = 1;
    bool toFile_ = false;
    std::unique_ptr<char[]> buf_;
    std::size_t bufSize_ = 0;
    uint64_t rows_ = 0;
    std::size_t used_ = 0, rowMax_ = 0;
    uint16_t channels_ = 0;
    std::vector<double> mid_, half_;
    std::vector<std::unique_ptr<Text[]>> volts_;  // per channel, by sample value
    std::vector<Text> times_;                     // by frame index, for timesRate_
    double timesRate_ = 0;
    __int128 utcSecond_ = 0;
    char utc_[64];
    std::size_t utcLen_ = 0;
};

}  // namespace

std::unique_ptr<Exporter> MakeCsvExporter(const ExportOptions& options, const std::string& input) {
    return std::make_unique<CsvExporter>(options, input);
}

}  // namespace rv8rec
