// The export formats of rv8rec, one row each in the table of Formats.cpp. Option parsing, the
// usage and help text, the option checks and the choice of exporter are all made from that
// table: adding a format is a row there plus its exporter's own files in formats/ (see
// "Adding an export format" in docs/architecture.md).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace rv8rec {

struct ExportOptions;
class Exporter;

// What a format needs of the file it writes, which decides what an existing OUT that is not a
// regular file (a device, a FIFO, a socket) gets.
enum class OutputNeeds {
    Stream,       // written front to back: such an OUT is written straight through
    Seekable,     // seeks back to fill in sizes: straight through to a seekable device only
    RegularFile,  // built under a temporary name and renamed into place: refused
};

using ExporterFactory = std::unique_ptr<Exporter> (*)(const ExportOptions& options,
                                                      const std::string& input);

struct ExportFormat {
    std::string_view name;         // --format NAME
    std::string_view alias;        // another name --format takes, or empty
    std::string_view extension;    // of the files it writes, without the dot
    std::string_view help;         // for --help; further lines are continued under the first
    std::string_view optionsHelp;  // its own options for --help, one per line, or empty
    bool toStdout;                 // writes to standard output when there is no -o (or -o -)
    bool textOptions;              // takes --delimiter, --decimal and --time
    bool canSplit;                 // --split: one file per record, OUT-NNNNNN.EXT
    OutputNeeds output;
    ExporterFactory make;
};

// Every format; the first is the default.
std::span<const ExportFormat> ExportFormats();
const ExportFormat& DefaultFormat();
// The format called `name` (or by its alias), nullptr when there is none.
const ExportFormat* FindFormat(std::string_view name);
// The names of the formats `which` picks, "a, b and c" (sep ", ", last " and ").
std::string FormatNames(bool (*which)(const ExportFormat&), std::string_view sep,
                        std::string_view last);

// The usage line of `rv8rec export` and the formats' part of --help.
std::string ExportUsage();
std::string FormatsHelp();

}  // namespace rv8rec
