// Shared pieces of rv8rec: exit statuses, number and time text, the record range, the export
// options, the output-file rules and the interface every export format implements.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/RecordingFile.h"
#include "tools/rv8rec/Formats.h"
#include "tools/rv8rec/Output.h"

namespace rv8rec {

constexpr int kExitIntact = 0;
constexpr int kExitDamaged = 1;
constexpr int kExitUsage = 2;

// Up to 15 significant digits, without an exponent for everyday values (100000, not 1e+05).
// Writes at most kNumberChars characters to `out` and returns the end.
constexpr std::size_t kNumberChars = 24;
char* WriteNumber(char* out, double v);
std::string Number(double v);

// "2024-03-01 12:34:56.123456 UTC"; the microsecond count when the time is out of range.
std::string FormatTime(int64_t us);
// ISO 8601 in UTC with microseconds: "2024-03-01T12:34:56.123456Z" (empty when out of range).
std::string IsoTime(int64_t us);

// Record numbers to take, inclusive. `given` when the user chose them with --records. A list
// ("3-7,12,20-25", as rv8rec find prints it) keeps its parts in `parts`, ascending and apart;
// first and last are then its smallest and largest number.
struct RecordRange {
    uint32_t first = 0;
    uint32_t last = std::numeric_limits<uint32_t>::max();
    bool given = false;
    std::vector<std::pair<uint32_t, uint32_t>> parts;  // empty: every number first..last
    bool contains(uint32_t n) const;
    // How many numbers of 0..count-1 it holds.
    uint64_t countBelow(uint64_t count) const;
    std::string text() const;  // "3", "3-7", "3-7,12", or "all"
};
// "A-B" (inclusive), a single record number "A", or a comma-separated list of them.
bool ParseRange(std::string_view s, RecordRange& range);

struct ExportOptions {
    const ExportFormat* format = &DefaultFormat();
    std::string output;  // empty or "-": standard output (formats that write there)
    RecordRange range;
    bool split = false;    // one file per record (formats that can split)
    char delimiter = ',';  // the text options (CSV)
    char decimal = '.';
    bool absoluteTime = false;  // UTC time of each frame instead of the time in the record
    bool comments = false;      // "# " lines with the acquisition settings
    bool progress = false;      // "rv8rec: progress N/T" on stderr after each record
};

// "out.wav" and record 12 give "out-000012.wav"; names without an extension get the number
// at the end.
std::string SplitName(const std::string& output, uint32_t record);

// The whole number of hertz that formats holding an integer sample rate (sr, wav, flac)
// store for `rate`: rounded to the nearest whole number, which must be from 1 to `max`.
// Returns 0 (and `why`) when the rate can't be stored.
uint64_t WholeRate(double rate, uint64_t max, std::string& why);
// Says on stderr, once per rate, that `rate` is stored as `whole` hertz when they differ.
void NoteRounding(double rate, uint64_t whole, const char* format);

// For formats with one sample rate per file: every record with samples in one file must have
// the rate of the first.
class OneRate {
  public:
    // False (and `why`) when the record's rate differs from the first record's.
    bool accept(const rv8::RecordingRecord& record, std::string& why);
    bool known() const { return known_; }
    double rate() const { return rate_; }

  private:
    bool known_ = false;
    double rate_ = 0;
    uint32_t firstNumber_ = 0;
};

// One export format. The driver calls begin() once with the file header, record() for each
// selected record in order, then finish() to complete the output or abandon() to remove it.
// A false return ends the export; error() says why.
class Exporter {
  public:
    virtual ~Exporter() = default;
    virtual bool begin(const rv8::RecordingHeader& header) = 0;
    virtual bool record(const rv8::RecordingRecord& record) = 0;
    virtual bool finish() = 0;
    virtual void abandon() = 0;
    // Whether an output with no record is still worth writing when the file is damaged
    // (CSV writes its header row, as it always has).
    virtual bool keepsEmptyOutput() const { return false; }
    const std::string& error() const { return error_; }

  protected:
    bool fail(std::string why) {
        error_ = std::move(why);
        return false;
    }
    std::string error_;
};

// Runs `inner` in a thread of its own, fed through a short queue of record copies, so that
// reading and checking the next records overlaps writing the last ones (2 cores: about twice
// the throughput for the formats whose writing costs as much as the reading).
std::unique_ptr<Exporter> MakeThreadedExporter(std::unique_ptr<Exporter> inner);

// Exit status for a finished read, with the message on stderr for anything but intact.
int Outcome(const rv8::RecordingReadResult& r, const char* path);

// Flushes standard output, keeping the reason of its first failure for OutputError().
void FlushOutput();
// Why standard output could not be written: 0 when no failure was seen (or its reason is not
// known), else an errno value.
int OutputError();

// rv8rec info FILE [--records A-B] (argv[2] on): the file's settings and the range of each
// acquisition setting over its records; with --records also those records one per line.
int Info(int argc, char** argv);

// Runs an export: reads the file one record at a time and hands the selected records to the
// format's exporter. Returns the exit status.
int RunExport(const std::string& input, const ExportOptions& options);

// What the messages of a run over the records call it ("exported 6 records", "no record to
// export").
struct RunWords {
    const char* did;
    const char* todo;
};
constexpr RunWords kExportWords{"exported", "export"};
constexpr RunWords kMeasureWords{"measured", "measure"};
constexpr RunWords kFindWords{"searched", "search"};
// RunExport with `exporter` (made by options.format when null) and `words`: the same record
// selection, output checks, messages and exit statuses for every command that reads records.
int RunRecords(const std::string& input, const ExportOptions& options,
               std::unique_ptr<Exporter> exporter, const RunWords& words);

// rv8rec measure (tools/rv8rec/Measure.cpp): a row of readings per record, CSV or JSON.
int MeasureCommand(const std::string& input, ExportOptions options, bool json);
// rv8rec find: the records whose readings match `where`, as a --records list on stdout.
int FindCommand(const std::string& input, const ExportOptions& options, std::string_view where);

}  // namespace rv8rec
