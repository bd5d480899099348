// rv8rec export: the record selection and the outcome, the same for every format.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string_view>

#include "logging/RecordingIndex.h"
#include "tools/rv8rec/Common.h"

namespace rv8rec {

namespace {

// How many of the records `range` asks for the file holds, from the records' heads alone (for
// --progress; 0 when the file cannot be read, which the export then reports).
uint64_t RecordsInRange(const std::string& input, const RecordRange& range) {
    rv8::RecordingIndex::Options heads;
    heads.verify = false;
    std::string error;
    const auto index = rv8::RecordingIndex::Open(input, heads, error);
    if (!index) return 0;
    while (index->advance()) {
    }
    const uint64_t count = index->status().count;
    return range.countBelow(count);
}

// An OUT that exists and is not a regular file (a device, a FIFO) is written straight through
// by the formats that stream; it is never replaced, so the others refuse it.
bool CheckSpecialOutput(const ExportOptions& o, std::string& why) {
    const char* kind = SpecialFileKind(o.output);
    if (kind == nullptr) return true;
    const std::string is = o.output + " is " + kind + ": ";
    if (o.split) {
        why = is +
              "--split writes one file per record beside OUT (OUT-NNNNNN.EXT), so OUT must "
              "name a regular file";
        return false;
    }
    if (o.format->output == OutputNeeds::RegularFile) {
        why = is + "--format " + std::string(o.format->name) +
              " makes its file under a temporary name and renames it into place, so OUT must "
              "name a regular file (a device or FIFO is never replaced)";
        return false;
    }
    if (o.format->output == OutputNeeds::Seekable &&
        std::string_view(kind) != "a character device" &&
        std::string_view(kind) != "a block device") {
        why = is + "--format " + std::string(o.format->name) +
              " seeks back in its output to fill in sizes, so OUT must name a regular file or a "
              "seekable device";
        return false;
    }
    return true;
}

}  // namespace

int RunExport(const std::string& input, const ExportOptions& options) {
    return RunRecords(input, options, nullptr, kExportWords);
}

int RunRecords(const std::string& input, const ExportOptions& options,
               std::unique_ptr<Exporter> exporter, const RunWords& words) {
    const char* path = input.c_str();
    const bool toStdout = options.output.empty() || options.output == "-";
    if (!toStdout) {
        std::string why;
        if (!CheckOutputPath(options.output, input, why) || !CheckSpecialOutput(options, why)) {
            std::fprintf(stderr, "rv8rec: %s\n", why.c_str());
            return kExitUsage;
        }
    }
    const uint64_t total = options.progress ? RecordsInRange(input, options.range) : 0;
    if (!exporter) exporter = options.format->make(options, input);
    bool failed = false;
    uint64_t exported = 0;
    uint32_t firstExported = 0, lastExported = 0;
    int64_t lastSeen = -1;  // number of the last record read
    const RecordRange& range = options.range;

    const auto onHeader = [&](const rv8::RecordingHeader& h) {
        if (!exporter->begin(h)) failed = true;
    };
    const auto onRecord = [&](const rv8::RecordingRecord& rec) {
        if (failed) return false;
        lastSeen = rec.number;
        if (rec.number < range.first) return true;
        if (rec.number > range.last) return false;
        if (!range.contains(rec.number)) return true;
        if (!exporter->record(rec)) {
            failed = true;
            return false;
        }
        if (exported == 0) firstExported = rec.number;
        lastExported = rec.number;
        ++exported;
        if (options.progress)
            std::fprintf(stderr, "rv8rec: progress %" PRIu64 "/%" PRIu64 "\n", exported,
                         std::max(total, exported));
        return true;
    };
    const rv8::RecordingReadResult r = rv8::ScanRecording(input, onRecord, onHeader);

    if (!r.headerOk) {
        exporter->abandon();
        std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
        return r.ioError ? kExitUsage : kExitDamaged;
    }
    if (failed) {
        exporter->abandon();
        std::fprintf(stderr, "rv8rec: %s\n", exporter->error().c_str());
        return kExitUsage;
    }
    if (r.ioError) {  // a read error after the header
        exporter->abandon();
        std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
        return kExitUsage;
    }
    const std::string fileHolds = lastSeen < 0
                                      ? std::string("the file holds no record")
                                      : "the file holds records 0-" + std::to_string(lastSeen);
    if (exported == 0) {
        if (r.damagedTail) {
            std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
            std::fprintf(stderr, "rv8rec: no record %s (records %s; %s before the damage)\n",
                         words.did, range.text().c_str(), fileHolds.c_str());
            if (exporter->keepsEmptyOutput() && exporter->finish()) return kExitDamaged;
            exporter->abandon();
            return kExitDamaged;
        }
        exporter->abandon();
        std::fprintf(stderr, "rv8rec: %s: no record to %s (records %s; %s)\n", path, words.todo,
                     range.text().c_str(), fileHolds.c_str());
        return kExitUsage;
    }
    if (!exporter->finish()) {
        exporter->abandon();
        std::fprintf(stderr, "rv8rec: %s\n", exporter->error().c_str());
        return kExitUsage;
    }
    const bool shortOfRange =
        range.given && lastSeen < static_cast<int64_t>(range.last) && !r.stoppedByVisitor;
    const std::string count =
        std::to_string(exported) + (exported == 1 ? " record (" : " records (") +
        std::to_string(firstExported) + "-" + std::to_string(lastExported) + ")";
    if (r.damagedTail) {
        std::fprintf(stderr, "rv8rec: %s: %s\n", path, r.error.c_str());
        std::fprintf(stderr, "rv8rec: %s %s, the intact records before the damage\n", words.did,
                     count.c_str());
        return kExitDamaged;
    }
    if (shortOfRange) {
        std::fprintf(stderr, "rv8rec: %s %s of the records %s asked for; %s\n", words.did,
                     count.c_str(), range.text().c_str(), fileHolds.c_str());
    }
    return kExitIntact;
}

}  // namespace rv8rec
