// rv8rec: looks into recording files (.cvx) and converts them for other programs.
//
//   rv8rec info FILE                     settings, record count, times, state of the tail
//   rv8rec verify FILE                   checks every record
//   rv8rec export FILE [options]         CSV (default), sigrok session, WAV, FLAC or HDF5
//   rv8rec plot FILE [options] -o OUT    a picture (PNG or SVG), drawn by rv8rec-plot
//   rv8rec view FILE                     the viewer rv8view on the file
//
// Exit status: 0 intact file, 1 damaged or not a recording file, 2 usage error or a file
// that cannot be opened or read (or written). Records are read one at a time, so the size of
// the file does not matter. docs/exports.md describes every export.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rv8rec/Common.h"

namespace {

using rv8::RecordingReadResult;
using rv8::RecordingRecord;
using namespace rv8rec;

std::string UsageText() {
    return "usage: rv8rec info FILE [--records A-B]\n"
           "       rv8rec verify FILE\n" +
           ExportUsage() +
           "       rv8rec measure FILE [--records A-B] [--format csv|json] [-o OUT]\n"
           "       rv8rec find FILE --where EXPR [--records A-B]\n"
           "       rv8rec plot FILE [--records A-B] [--size WxH] -o OUT.png|OUT.svg\n"
           "       rv8rec view FILE\n"
           "       rv8rec --help | --version\n";
}

std::string HelpText() {
    return "\n"
           "info     the settings, the record count, the first and last record time, the range of\n"
           "         each acquisition setting over the records and the state; --records A-B also\n"
           "         lists those records one per line with their time, rate and settings\n"
           "verify   checks every record; exit status 0 only for an intact file\n"
           "export   converts the records (all, or --records A-B inclusive, or --records A):\n" +
           FormatsHelp() +
           "measure  one row per record: time, comment, event mark, rate and per channel\n"
           "         whether it was measured, frequency, period, Vpp, min, max, mean, rms\n"
           "         (over whole periods when there is one), duty cycle, rise and fall time and\n"
           "         over range, as the chart reads them; CSV (summary on stderr) or JSON\n"
           "find     the records whose readings match EXPR, as a --records list, e.g.\n"
           "         --where 'ch1.vpp > 2 and ch1.freq < 990' (see rv8rec(1))\n"
           "--records takes A-B, A or a list of them: 3-7,12,20-25\n"
           "plot     draws one record (time and volt axes) or several (min/max envelope per "
           "record)\n"
           "view     opens the file in the viewer (rv8view)\n"
           "\n"
           "exit status: 0 intact, 1 damaged or not a recording, 2 usage error or unreadable file\n"
           "(or nothing to export, or an output that can't be written)\n";
}

int Usage() {
    std::fputs(UsageText().c_str(), stderr);
    std::fputs("exit status: 0 intact, 1 damaged or not a recording, 2 usage or unreadable file\n",
               stderr);
    return kExitUsage;
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "rv8rec: %s\n", why.c_str());
    return Usage();
}

int Verify(const char* path) {
    const RecordingReadResult r = rv8::ScanRecording(path, nullptr);
    if (r.headerOk && !r.damagedTail) {
        std::printf("%s: intact, %" PRIu64 " records\n", path, r.recordCount);
    } else if (r.headerOk) {
        std::printf("%s: DAMAGED after %" PRIu64 " intact records, at byte offset %" PRIu64
                    " (record index %" PRIu64 ")\n",
                    path, r.recordCount, r.tailOffset, r.tailIndex);
    } else if (!r.ioError) {
        std::printf("%s: DAMAGED header\n", path);
    }
    FlushOutput();
    return Outcome(r, path);
}

// "--name VALUE" or "--name=VALUE" at argv[i]; advances i past the value.
bool OptionValue(int argc, char** argv, int& i, std::string_view name, std::string_view& value) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) return false;
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

bool ParseChar(std::string_view s, char& c) {
    if (s == "tab" || s == "\\t") {
        c = '\t';
        return true;
    }
    if (s.size() != 1) return false;
    c = s[0];
    return true;
}

bool IsOutputOption(std::string_view arg) {
    return arg == "-o" || arg == "--output" || arg.starts_with("--output=");
}

// "-o OUT", "--output OUT" or "--output=OUT" at argv[i] into `out`: 0, or the exit status of a
// usage error (already reported).
int OutputOption(int argc, char** argv, int& i, std::string& out) {
    std::string_view v;
    if (std::string_view(argv[i]) == "-o") {
        if (i + 1 >= argc) return Usage();
        v = argv[++i];
    } else if (!OptionValue(argc, argv, i, "--output", v)) {
        return Usage();
    }
    if (v.empty()) return UsageError("-o wants a file name");
    out = std::string(v);
    return 0;
}

// rv8rec measure FILE [--records L] [--format csv|json] [-o OUT] and
// rv8rec find FILE --where EXPR [--records L].
int MeasureOrFind(int argc, char** argv, bool find) {
    ExportOptions o;
    const char* path = nullptr;
    bool json = false;
    std::string_view where;
    bool hasWhere = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view v;
        if (arg == "--records" || arg.starts_with("--records=")) {
            if (!OptionValue(argc, argv, i, "--records", v)) return Usage();
            if (!ParseRange(v, o.range))
                return UsageError("--records wants A-B, A or a list of them such as 3-7,12");
        } else if (!find && (arg == "--format" || arg.starts_with("--format="))) {
            if (!OptionValue(argc, argv, i, "--format", v) || (v != "csv" && v != "json"))
                return UsageError("--format wants csv or json");
            json = v == "json";
        } else if (!find && IsOutputOption(arg)) {
            if (const int status = OutputOption(argc, argv, i, o.output); status != 0)
                return status;
        } else if (find && (arg == "--where" || arg.starts_with("--where="))) {
            if (!OptionValue(argc, argv, i, "--where", where)) return Usage();
            hasWhere = true;
        } else if (!arg.starts_with("-") && path == nullptr) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr) return Usage();
    if (find && !hasWhere) return UsageError("find wants --where EXPR");
    RemoveTemporariesWhenInterrupted();
    if (find) return FindCommand(path, o, where);
    return MeasureCommand(path, o, json);
}

int Export(int argc, char** argv) {
    ExportOptions o;
    const char* path = nullptr;
    bool csvOptions = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string_view v;
        if (arg == "--records" || arg.starts_with("--records=")) {
            if (!OptionValue(argc, argv, i, "--records", v)) return Usage();
            if (!ParseRange(v, o.range)) {
                std::fprintf(stderr,
                             "rv8rec: --records wants A-B, A or a list of them such as 3-7,12 "
                             "(record numbers from 0)\n");
                return kExitUsage;
            }
        } else if (arg == "--format" || arg.starts_with("--format=")) {
            if (!OptionValue(argc, argv, i, "--format", v)) return Usage();
            o.format = FindFormat(v);
            if (o.format == nullptr) {
                return UsageError("--format wants " + FormatNames(nullptr, ", ", " or "));
            }
        } else if (IsOutputOption(arg)) {
            if (const int status = OutputOption(argc, argv, i, o.output); status != 0)
                return status;
        } else if (arg == "--split") {
            o.split = true;
        } else if (arg == "--delimiter" || arg.starts_with("--delimiter=")) {
            if (!OptionValue(argc, argv, i, "--delimiter", v) || !ParseChar(v, o.delimiter)) {
                return UsageError("--delimiter wants , ; | space or tab");
            }
            csvOptions = true;
        } else if (arg == "--decimal" || arg.starts_with("--decimal=")) {
            if (!OptionValue(argc, argv, i, "--decimal", v) || !ParseChar(v, o.decimal) ||
                (o.decimal != '.' && o.decimal != ',')) {
                return UsageError("--decimal wants . or ,");
            }
            csvOptions = true;
        } else if (arg == "--time" || arg.starts_with("--time=")) {
            if (!OptionValue(argc, argv, i, "--time", v) || (v != "relative" && v != "absolute")) {
                return UsageError("--time wants relative or absolute");
            }
            o.absoluteTime = v == "absolute";
            csvOptions = true;
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (arg == "--comments") {
            o.comments = true;
            csvOptions = true;
        } else if (!arg.starts_with("-") && path == nullptr) {
            path = argv[i];
        } else {
            return Usage();
        }
    }
    if (path == nullptr) return Usage();
    const ExportFormat& format = *o.format;
    if (csvOptions && !format.textOptions) {
        return UsageError(
            "--delimiter, --decimal, --time and --comments are for " +
            FormatNames([](const ExportFormat& f) { return f.textOptions; }, ", ", " and "));
    }
    if (o.delimiter == o.decimal)
        return UsageError("the delimiter and the decimal sign must differ");
    if (std::string_view(",;\t| ").find(o.delimiter) == std::string_view::npos) {
        return UsageError("--delimiter wants , ; | space or tab");
    }
    if (o.split && !format.canSplit) {
        return UsageError(
            "--split is for " +
            FormatNames([](const ExportFormat& f) { return f.canSplit; }, ", ", " and "));
    }
    if (!format.toStdout && (o.output.empty() || o.output == "-")) {
        return UsageError("--format " + std::string(format.name) +
                          " writes a file: give it with -o OUT");
    }
    return RunExport(path, o);
}

// The folder of this executable ("" when unknown).
std::string OwnFolder() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return std::string();
    std::string self(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

// Runs `program` with the arguments after the command (argv[2] on): first the one beside this
// executable, then the one in `installed`. Returns only when neither could be run.
int RunBeside(const char* program, const char* installed, const char* what, int argc, char** argv) {
    std::vector<std::string> tried;
    const std::string own = OwnFolder();
    std::vector<std::string> candidates;
    if (!own.empty()) candidates.push_back(own + "/" + program);
    candidates.push_back(std::string(installed) + "/" + program);
    std::vector<char*> args;
    args.push_back(const_cast<char*>(program));
    for (int i = 2; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    int lastError = ENOENT;
    for (const std::string& c : candidates) {
        if (::access(c.c_str(), X_OK) != 0) {
            lastError = errno;
            tried.push_back(c);
            continue;
        }
        args[0] = const_cast<char*>(c.c_str());
        ::execv(c.c_str(), args.data());
        lastError = errno;  // only reached when execv failed
        tried.push_back(c);
    }
    std::string list;
    for (const std::string& t : tried)
        list += "\n  " + t;
    std::fprintf(stderr, "rv8rec: cannot run the %s %s (%s); looked for:%s\n", what, program,
                 std::strerror(lastError), list.c_str());
    return kExitUsage;
}

// rv8rec plot: rv8rec-plot draws; rv8rec view FILE: the viewer rv8view opens the file.
int Plot(int argc, char** argv) {
    return RunBeside("rv8rec-plot", RV8_LIBEXEC_DIR, "plot program", argc, argv);
}

int View(int argc, char** argv) {
    return RunBeside("rv8view", RV8_BIN_DIR, "viewer", argc, argv);
}

// `status`, unless what was printed on standard output did not all get there (a full disk,
// /dev/full): then a message and status 2.
int Printed(int status) {
    FlushOutput();
    if (!std::ferror(stdout)) return status;
    const int e = OutputError();
    std::fprintf(stderr, "rv8rec: cannot write the output%s%s\n", e != 0 ? ": " : "",
                 e != 0 ? std::strerror(e) : "");
    return kExitUsage;
}

// The export, with its temporary files removed when it is interrupted or runs out of memory.
int ExportCommand(int argc, char** argv) {
    RemoveTemporariesWhenInterrupted();
    try {
        return Export(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "rv8rec: not enough memory to export %s\n", argv[2]);
        return kExitUsage;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(UsageText().c_str(), stdout);
        std::fputs(HelpText().c_str(), stdout);
        return Printed(kExitIntact);
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("rv8rec %s\n", RV8_VERSION);
        return Printed(kExitIntact);
    }
    if (argc < 3) return Usage();
    const std::string_view command = argv[1];
    if (command == "info") return Printed(Info(argc, argv));
    if (command == "verify" && argc == 3) return Printed(Verify(argv[2]));
    if (command == "export") return ExportCommand(argc, argv);
    if (command == "measure") return MeasureOrFind(argc, argv, false);
    if (command == "find") return MeasureOrFind(argc, argv, true);
    if (command == "plot") return Plot(argc, argv);
    if (command == "view" && argc == 3) return View(argc, argv);
    return Usage();
}
