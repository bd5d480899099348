// rv8rec find: the records whose readings (measured as rv8rec measure measures them) match an
// expression (display/RecordFilter.h), printed as a --records list.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/RecordFilter.h"
#include "display/RecordReadings.h"
#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

using rv8::measure::ChannelReadings;

// Collects the numbers of the records that match, and prints them as a --records list.
class FindExporter final : public Exporter {
  public:
    explicit FindExporter(const rv8::measure::RecordFilter& filter) : filter_(filter) {}

    bool begin(const rv8::RecordingHeader& h) override {
        header_ = h;
        // Only the channels the expression names are measured.
        channels_ = std::min<std::size_t>(h.channelCount, filter_.highestChannel());
        readings_.resize(channels_);
        return true;
    }
    bool record(const rv8::RecordingRecord& rec) override {
        if (channels_ > 0) meter_.measure(rec, header_, readings_.data(), channels_);
        const rv8::measure::RecordFacts facts{rec.number, rec.sampleRate, rec.eventMark,
                                              readings_.data(), channels_};
        ++seen_;
        if (!filter_.matches(facts)) return true;
        ++matches_;
        if (!list_.empty() && lastMatch_ + 1 == rec.number) {
            open_ = true;
        } else {
            closeRun();
            if (!list_.empty()) list_ += ',';
            list_ += std::to_string(rec.number);
        }
        lastMatch_ = rec.number;
        return true;
    }
    bool finish() override {
        closeRun();
        if (!list_.empty()) std::printf("%s\n", list_.c_str());
        FlushOutput();
        if (std::ferror(stdout))
            return fail(std::string("cannot write the output: ") + std::strerror(OutputError()));
        std::fprintf(stderr, "rv8rec: %" PRIu64 " of %" PRIu64 " records match\n", matches_, seen_);
        return true;
    }
    void abandon() override {}
    bool keepsEmptyOutput() const override { return true; }

  private:
    void closeRun() {
        if (open_) {
            list_ += '-';
            list_ += std::to_string(lastMatch_);
        }
        open_ = false;
    }
    const rv8::measure::RecordFilter& filter_;
    rv8::RecordingHeader header_;
    std::size_t channels_ = 0;
    rv8::measure::RecordMeter meter_;
    std::vector<ChannelReadings> readings_;
    std::string list_;
    uint32_t lastMatch_ = 0;
    bool open_ = false;
    uint64_t matches_ = 0, seen_ = 0;
};

// In the reading thread: a worker thread (MakeThreadedExporter) gains nothing here, since
// copying a record into its queue costs about what measuring it does.
}  // namespace

int FindCommand(const std::string& input, const ExportOptions& options, std::string_view where) {
    std::string error;
    std::size_t at = 0;
    const auto filter = rv8::measure::RecordFilter::Parse(where, error, at);
    if (!filter) {
        std::fprintf(stderr, "rv8rec: --where: %s at character %zu:\n  %.*s\n  %*s^\n",
                     error.c_str(), at + 1, static_cast<int>(where.size()), where.data(),
                     static_cast<int>(at), "");
        return kExitUsage;
    }
    return RunRecords(input, options, std::make_unique<FindExporter>(*filter), kFindWords);
}

}  // namespace rv8rec
