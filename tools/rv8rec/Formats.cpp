// The table of export formats and what is made from it.
#include "tools/rv8rec/Formats.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tools/rv8rec/Common.h"

namespace rv8rec {

// Each format's exporter, in its own file under formats/.
std::unique_ptr<Exporter> MakeCsvExporter(const ExportOptions& options, const std::string& input);
std::unique_ptr<Exporter> MakeSigrokExporter(const ExportOptions& options,
                                             const std::string& input);
std::unique_ptr<Exporter> MakeWavExporter(const ExportOptions& options, const std::string& input);
std::unique_ptr<Exporter> MakeFlacExporter(const ExportOptions& options, const std::string& input);
std::unique_ptr<Exporter> MakeHdf5Exporter(const ExportOptions& options, const std::string& input);

namespace {

using enum OutputNeeds;

// clang-format off
constexpr std::array kFormats = {
    // name, alias, extension, help, its own options' help,
    //   to stdout, text options, --split, output, exporter
    ExportFormat{"csv", "", "csv",
        "one row per frame: record, time_s, ch1_V, ch2_V ...;\n"
        "to standard output unless -o OUT is given",
        "--delimiter C      column separator (',' default; ';' or tab)\n"
        "--decimal C        decimal sign ('.' default, or ',' with another delimiter)\n"
        "--time absolute    a time_utc column (ISO 8601, UTC) instead of time_s\n"
        "--comments         '# ' lines: the file's settings first, then each record's\n"
        "                   acquisition settings before its rows wherever they change",
        true, true, false, Stream, MakeCsvExporter},
    ExportFormat{"sr", "", "sr",
        "sigrok session (sigrok-cli, PulseView): CH1, CH2 in volts", "",
        false, false, true, RegularFile, MakeSigrokExporter},
    ExportFormat{"wav", "", "wav",
        "16-bit samples as stored, one audio channel per channel", "",
        false, false, true, Seekable, MakeWavExporter},
    ExportFormat{"flac", "", "flac",
        "the same, compressed losslessly", "",
        false, false, true, Stream, MakeFlacExporter},
    ExportFormat{"h5", "hdf5", "h5",
        "HDF5: settings as attributes, /records/NNNNNN/samples", "",
        false, false, false, RegularFile, MakeHdf5Exporter},
};
// clang-format on

// Lines of `text`, each with `indent` spaces before it and a line end after it.
std::string Indented(std::string_view text, std::size_t indent) {
    std::string out;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        out.append(indent, ' ');
        out.append(text.substr(0, end));
        out += '\n';
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return out;
}

}  // namespace

std::span<const ExportFormat> ExportFormats() {
    return kFormats;
}

const ExportFormat& DefaultFormat() {
    return kFormats.front();
}

const ExportFormat* FindFormat(std::string_view name) {
    for (const ExportFormat& f : kFormats) {
        if (name == f.name || (!f.alias.empty() && name == f.alias)) return &f;
    }
    return nullptr;
}

std::string FormatNames(bool (*which)(const ExportFormat&), std::string_view sep,
                        std::string_view last) {
    std::vector<std::string_view> names;
    for (const ExportFormat& f : kFormats) {
        if (which == nullptr || which(f)) names.push_back(f.name);
    }
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? last : sep;
        out += names[i];
    }
    return out;
}

std::string ExportUsage() {
    std::string names;
    for (const ExportFormat& f : kFormats) {
        if (!names.empty()) names += '|';
        names += f.name;
    }
    return "       rv8rec export FILE [--format " + names +
           "] [-o OUT] [--records A-B]\n"
           "                          [--split] [--delimiter C] [--decimal C] [--time "
           "relative|absolute]\n"
           "                          [--comments] [--progress]\n";
}

std::string FormatsHelp() {
    constexpr std::size_t kIndent = 11;  // under "export   "
    std::size_t width = 0;
    for (const ExportFormat& f : kFormats)
        width = std::max(width, f.name.size() + 1);
    const std::size_t textColumn = kIndent + std::string_view("--format ").size() + width + 1;
    std::string out;
    for (const ExportFormat& f : kFormats) {
        std::string first = std::string(kIndent, ' ') + "--format " + std::string(f.name);
        first.append(textColumn - first.size(), ' ');
        if (&f == &DefaultFormat()) first += "(default) ";
        const std::size_t end = std::min(f.help.find('\n'), f.help.size());
        out += first + std::string(f.help.substr(0, end)) + "\n";
        if (end < f.help.size()) out += Indented(f.help.substr(end + 1), textColumn);
        out += Indented(f.optionsHelp, kIndent + 2);
    }
    const std::string split =
        FormatNames([](const ExportFormat& f) { return f.canSplit; }, ", ", ", ");
    out += std::string(kIndent, ' ') + split +
           ": the records one after another in one file (they must share\n" +
           std::string(kIndent, ' ') +
           "one sample rate), or --split: one file per record, OUT-NNNNNN.EXT\n" +
           std::string(kIndent, ' ') +
           "--progress: 'rv8rec: progress N/T' on stderr after each record exported\n";
    return out;
}

}  // namespace rv8rec
