// rv8rec measure: every record measured by the chart's own code (display/RecordReadings.h), as
// a table (CSV or JSON) with a summary.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "display/RecordReadings.h"
#include "logging/RecordingIndex.h"
#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

using rv8::measure::ChannelReadings;

// The per-channel columns, in their order; the summary covers those with a value.
struct Column {
    const char* name;  // after "chN_"
    double ChannelReadings::*value;
};
constexpr Column kColumns[] = {
    {"freq_hz", &ChannelReadings::frequency}, {"period_s", &ChannelReadings::period},
    {"vpp_v", &ChannelReadings::peakToPeak},  {"min_v", &ChannelReadings::min},
    {"max_v", &ChannelReadings::max},         {"mean_v", &ChannelReadings::mean},
    {"rms_v", &ChannelReadings::rms},         {"duty", &ChannelReadings::duty},
    {"rise_s", &ChannelReadings::rise},       {"fall_s", &ChannelReadings::fall}};
constexpr std::size_t kColumnCount = std::size(kColumns);

std::string Value(double v) {
    return std::isfinite(v) ? Number(v) : std::string();
}

std::string CsvText(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (const char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + '"';
}

// A JSON string: control characters escaped, bytes that are not UTF-8 as U+FFFD.
std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // The length of a well-formed sequence starting here, 0 if there is none.
            const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool ok = n > 0 && c < 0xF5 && i + n <= s.size();
            for (std::size_t k = 1; ok && k < n; ++k)
                ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
            if (ok && n == 3) {
                const auto c1 = static_cast<unsigned char>(s[i + 1]);
                ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
            } else if (ok && n == 4) {
                const auto c1 = static_cast<unsigned char>(s[i + 1]);
                ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
            }
            if (ok) {
                out.append(s, i, n);
                i += n;
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
    return out + '"';
}

std::string JsonValue(double v) {
    return std::isfinite(v) ? Number(v) : std::string("null");
}

// Writes all of `data` to `fd`; false with errno set on failure.
bool WriteAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Text written to OUT (or standard output) in pieces of about 64 KB.
class TextOut {
  public:
    bool open(const ExportOptions& o, const std::string& input, std::string& why) {
        if (o.output.empty() || o.output == "-") return true;
        fd_ = file_.open(o.output, input, OutputNeeds::Stream, why);
        return fd_ >= 0;
    }
    bool put(const std::string& s, std::string& why) {
        buf_ += s;
        return buf_.size() < (64 << 10) || flush(why);
    }
    bool flush(std::string& why) {
        if (!WriteAll(fd_, buf_.data(), buf_.size())) {
            why = "cannot write " + (fd_ == 1 ? std::string("the output") : file_.path()) + ": " +
                  std::strerror(errno);
            return false;
        }
        buf_.clear();
        return true;
    }
    bool commit(std::string& why) { return flush(why) && (fd_ == 1 || file_.commit(why)); }
    void discard() {
        if (fd_ != 1) file_.discard();
    }

  private:
    OutputFile file_;
    int fd_ = 1;
    std::string buf_;
};

class MeasureExporter final : public Exporter {
  public:
    MeasureExporter(const ExportOptions& o, const std::string& input, bool json)
        : o_(o), input_(input), json_(json) {}

    bool begin(const rv8::RecordingHeader& h) override {
        header_ = h;
        channels_ = h.channelCount;
        readings_.resize(channels_);
        stats_.resize(channels_ * (kColumnCount + 1));
        if (!out_.open(o_, input_, error_)) return false;
        if (json_) {
            return out_.put("{\"file\": " + JsonText(input_) + ", \"channels\": " +
                                std::to_string(channels_) + ",\n \"records\": [",
                            error_);
        }
        std::string line = "record,time_utc,comment,event_mark,rate_hz";
        for (std::size_t c = 0; c < channels_; ++c) {
            const std::string ch = ",ch" + std::to_string(c + 1) + "_";
            line += ch + "measured";
            for (const Column& col : kColumns)
                line += ch + col.name;
            line += ch + "mean_over" + ch + "over_range";
        }
        return out_.put(line + '\n', error_);
    }

    bool record(const rv8::RecordingRecord& rec) override {
        meter_.measure(rec, header_, readings_.data(), channels_);
        return write(rec);
    }
    // A record measured elsewhere (MeasureInParallel), with its readings of every channel.
    bool recordMeasured(const rv8::RecordingRecord& rec,
                        const std::vector<ChannelReadings>& readings) {
        std::copy_n(readings.begin(), channels_, readings_.begin());
        return write(rec);
    }

  private:
    bool write(const rv8::RecordingRecord& rec) {
        for (std::size_t c = 0; c < channels_; ++c) {
            const ChannelReadings& r = readings_[c];
            for (std::size_t k = 0; k < kColumnCount; ++k)
                stats_[c * (kColumnCount + 1) + k].add(r.*kColumns[k].value);
            if (r.measured) stats_[c * (kColumnCount + 1) + kColumnCount].add(r.overRange);
        }
        return out_.put(json_ ? JsonRow(rec) : CsvRow(rec), error_);
    }

  public:
    bool finish() override {
        if (json_ && !out_.put("\n ],\n \"summary\": {" + JsonSummary() + "}}\n", error_))
            return false;
        if (!out_.commit(error_)) return false;
        if (!json_) std::fputs(TextSummary().c_str(), stderr);
        return true;
    }
    void abandon() override { out_.discard(); }

  private:
    std::string CsvRow(const rv8::RecordingRecord& rec) const {
        std::string row = std::to_string(rec.number) + ',' + IsoTime(rec.timeUs) + ',' +
                          CsvText(rec.comment) + ',' + std::to_string(rec.eventMark) + ',' +
                          Value(rec.sampleRate);
        for (const ChannelReadings& r : readings_) {
            row += r.measured ? ",1" : ",0";
            for (const Column& col : kColumns)
                row += ',' + Value(r.*col.value);
            row += r.measured ? (r.cycles ? ",cycles" : ",record") : ",";
            row += r.measured ? (r.overRange ? ",1" : ",0") : ",";
        }
        return row + '\n';
    }

    std::string JsonRow(const rv8::RecordingRecord& rec) {
        std::string row = std::string(rows_++ == 0 ? "\n" : ",\n") +
                          "  {\"record\": " + std::to_string(rec.number) +
                          ", \"time_utc\": " + JsonText(IsoTime(rec.timeUs)) +
                          ", \"time_us\": " + std::to_string(rec.timeUs) +
                          ", \"comment\": " + JsonText(rec.comment) +
                          ", \"event_mark\": " + std::to_string(rec.eventMark) +
                          ", \"rate_hz\": " + JsonValue(rec.sampleRate) + ", \"channels\": [";
        for (std::size_t c = 0; c < channels_; ++c) {
            const ChannelReadings& r = readings_[c];
            row += c == 0 ? "{" : ", {";
            row += std::string("\"measured\": ") + (r.measured ? "true" : "false");
            for (const Column& col : kColumns)
                row += std::string(", \"") + col.name + "\": " + JsonValue(r.*col.value);
            row += std::string(", \"mean_over\": ") +
                   (r.measured ? (r.cycles ? "\"cycles\"" : "\"record\"") : "null");
            row += std::string(", \"over_range\": ") +
                   (r.measured ? (r.overRange ? "true" : "false") : "null") + "}";
        }
        return row + "]}";
    }

    // Each column with at least one value: name and its count, min, mean, max, deviation.
    template <typename Line>
    void EachSummary(Line line) const {
        for (std::size_t c = 0; c < channels_; ++c) {
            for (std::size_t k = 0; k <= kColumnCount; ++k) {
                const rv8::measure::Running& s = stats_[c * (kColumnCount + 1) + k];
                if (s.count == 0) continue;
                line("ch" + std::to_string(c + 1) + "_" +
                         (k < kColumnCount ? kColumns[k].name : "over_range"),
                     s);
            }
        }
    }

    std::string JsonSummary() const {
        std::string out;
        EachSummary([&](const std::string& name, const rv8::measure::Running& s) {
            out += std::string(out.empty() ? "\n  " : ",\n  ") + JsonText(name) +
                   ": {\"count\": " + std::to_string(s.count) + ", \"min\": " + Number(s.min) +
                   ", \"mean\": " + Number(s.mean) + ", \"max\": " + Number(s.max) +
                   ", \"std\": " + Number(s.deviation()) + "}";
        });
        return out.empty() ? out : out + "\n ";
    }

    std::string TextSummary() const {
        std::string out;
        char buf[256];
        EachSummary([&](const std::string& name, const rv8::measure::Running& s) {
            if (out.empty()) {
                std::snprintf(buf, sizeof buf, "%-16s %8s %15s %15s %15s %15s\n", "summary",
                              "count", "min", "mean", "max", "std");
                out += buf;
            }
            std::snprintf(buf, sizeof buf, "%-16s %8d %15s %15s %15s %15s\n", name.c_str(), s.count,
                          Number(s.min).c_str(), Number(s.mean).c_str(), Number(s.max).c_str(),
                          Number(s.deviation()).c_str());
            out += buf;
        });
        return out;
    }

    const ExportOptions& o_;
    const std::string& input_;
    const bool json_;
    rv8::RecordingHeader header_;
    std::size_t channels_ = 0;
    rv8::measure::RecordMeter meter_;
    std::vector<ChannelReadings> readings_;
    std::vector<rv8::measure::Running> stats_;  // per channel: the columns, then over_range
    TextOut out_;
    uint64_t rows_ = 0;
};

std::unique_ptr<Exporter> MakeCsv(const ExportOptions& o, const std::string& input) {
    return std::make_unique<MeasureExporter>(o, input, false);
}
std::unique_ptr<Exporter> MakeJson(const ExportOptions& o, const std::string& input) {
    return std::make_unique<MeasureExporter>(o, input, true);
}
// Rows of their own (not in the export table): they share its record loop and output rules.
constexpr ExportFormat kMeasureCsv{
    "csv", {}, "csv", {}, {}, true, false, false, OutputNeeds::Stream, MakeCsv};
constexpr ExportFormat kMeasureJson{
    "json", {}, "json", {}, {}, true, false, false, OutputNeeds::Stream, MakeJson};

}  // namespace

namespace {

// The records of a file that is simply intact, measured by two threads (each reads its records
// through the record index, their CRCs checked, and measures them), then written in order.
// False, with nothing written, for anything else (a damaged or growing tail, a read error, a
// range running past the end, very many records or channels): the sequential path then does
// it, with the export's messages. `status` is the exit status when it returns true.
bool MeasureInParallel(const std::string& input, const ExportOptions& o, bool json, int& status) {
    constexpr std::size_t kMaxChannels = 64, kMaxRecords = 100000;  // what the rows may hold
    rv8::RecordingIndex::Options heads;
    heads.verify = false;  // each record's CRC is checked when it is read
    std::string error;
    const auto index = rv8::RecordingIndex::Open(input, heads, error);
    if (!index) return false;
    while (index->advance()) {
    }
    const rv8::RecordingIndex::Status s = index->status();
    if (s.damaged || s.pending || s.walking || s.ioError || s.count == 0) return false;
    const RecordRange& range = o.range;
    if (range.given && range.last >= s.count) return false;
    std::vector<uint32_t> numbers;
    for (uint64_t k = range.first; k < s.count && k <= range.last; ++k) {
        if (range.contains(static_cast<uint32_t>(k))) numbers.push_back(static_cast<uint32_t>(k));
        if (numbers.size() > kMaxRecords) return false;
    }
    const rv8::RecordingHeader& header = index->header();
    const std::size_t channels = header.channelCount;
    if (numbers.empty() || channels > kMaxChannels) return false;

    struct Row {
        rv8::RecordingRecord record;  // without its samples
        std::vector<ChannelReadings> readings;
    };
    std::vector<Row> rows(numbers.size());
    std::atomic<bool> failed{false};
    const auto work = [&](std::size_t first) {
        rv8::measure::RecordMeter meter;
        rv8::RecordingRecord rec;
        for (std::size_t i = first; i < numbers.size() && !failed; i += 2) {
            if (index->read(numbers[i], rec) != rv8::RecordingIndex::Result::Ok) {
                failed = true;
                return;
            }
            Row& row = rows[i];
            row.readings.resize(channels);
            meter.measure(rec, header, row.readings.data(), channels);
            row.record.number = rec.number;
            row.record.timeUs = rec.timeUs;
            row.record.sampleRate = rec.sampleRate;
            row.record.eventMark = rec.eventMark;
            row.record.frames = rec.frames;
            row.record.comment = rec.comment;
        }
    };
    std::thread helper;
    {
        HoldSignals hold;  // the helper leaves SIGINT, SIGTERM and SIGHUP to this thread
        helper = std::thread(work, 1);
    }
    work(0);
    helper.join();
    if (failed) return false;

    MeasureExporter out(o, input, json);
    bool ok = out.begin(header);
    for (std::size_t i = 0; ok && i < rows.size(); ++i)
        ok = out.recordMeasured(rows[i].record, rows[i].readings);
    if (ok) ok = out.finish();
    if (!ok) {
        out.abandon();
        std::fprintf(stderr, "rv8rec: %s\n", out.error().c_str());
    }
    status = ok ? kExitIntact : kExitUsage;
    return true;
}

}  // namespace

int MeasureCommand(const std::string& input, ExportOptions options, bool json) {
    options.format = json ? &kMeasureJson : &kMeasureCsv;
    if (int status = 0; MeasureInParallel(input, options, json, status)) return status;
    return RunRecords(input, options, options.format->make(options, input), kMeasureWords);
}

}  // namespace rv8rec
