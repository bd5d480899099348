// Fuzzes rv8rec export: arbitrary bytes (their checksums made to match, most of the time, so
// that records get through) exported in every format of the format table, with --split, a
// record range and the text options picked by the first bytes. The recording and the output
// are files in a folder of this process's own (on /dev/shm when there is one).
//
// Checks, besides "no crash, no undefined behaviour, no endless loop":
// - the exit status is 0, 1 or 2, and a failed export (2) leaves nothing in the output folder;
// - no temporary file is ever left behind;
// - the memory the export holds at once stays within a bound that does not grow with what the
//   file claims: kBoundBytes plus a few times the input's size (the reader's record, one copy
//   in the exporter's queue, and the output formats' buffers).
//
// Input: byte 0 options (format, --split, range, text options, checksum repair), bytes 1-2 the
// range (and --comments), then the recording file.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <hdf5.h>
#include <sanitizer/allocator_interface.h>

#include "fuzz/Checksums.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/HeapWatch.h"
#include "logging/RecordingFile.h"
#include "tools/rv8rec/Common.h"

namespace {

constexpr std::size_t kBoundBytes = std::size_t{48} << 20;

using namespace rv8::fuzz;

std::string MakeFolder() {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string dir = base + "/rv8-fuzz-export-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    ::mkdir((dir + "/out").c_str(), 0700);
    return dir;
}
const std::string g_dir = MakeFolder();

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

bool WriteFile(const std::string& path, const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // HDF5 keeps the blocks it frees for its next file instead of handing its large ones back
    // (each run creates a file; without this, most of the time went to those allocations).
    H5set_free_list_limits(-1, -1, -1, -1, -1, -1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    (void)g_hooks;
    if (size < 3) return 0;
    const uint8_t opt = data[0];
    std::vector<uint8_t> file(data + 3, data + size);
    if ((opt & 0x80) == 0) rv8::fuzz::RepairChecksums(file);
    const std::string input = g_dir + "/in.cvx", outDir = g_dir + "/out";
    if (!WriteFile(input, file.data(), file.size())) Fail("cannot write the input");

    const auto formats = rv8rec::ExportFormats();
    rv8rec::ExportOptions o;
    o.format = &formats[opt % formats.size()];
    // RV8_FUZZ_FORMAT=NAME keeps to one format (for a run aimed at one exporter).
    static const rv8rec::ExportFormat* only = [] {
        const char* name = std::getenv("RV8_FUZZ_FORMAT");
        return name != nullptr ? rv8rec::FindFormat(name) : nullptr;
    }();
    if (only != nullptr) o.format = only;
    o.split = (opt & 0x08) != 0 && o.format->canSplit;
    if ((opt & 0x10) != 0 || o.split) {  // --split always with a short range: few files
        o.range.given = true;
        o.range.first = data[1] % 8;
        o.range.last = o.range.first + data[2] % 8;
    }
    if (o.format->textOptions && (opt & 0x20) != 0) {
        o.delimiter = ';';
        o.decimal = ',';
    }
    if (o.format->textOptions && (opt & 0x40) != 0) o.absoluteTime = true;
    if (o.format->textOptions && (data[1] & 0x80) != 0) o.comments = true;
    o.output = outDir + "/o." + std::string(o.format->extension);

    g_live = 0;
    g_peak = 0;
    g_watch = true;
    const int status = rv8rec::RunExport(input, o);
    g_watch = false;

    const uint64_t bound = kBoundBytes + 4 * uint64_t{size};
    if (static_cast<uint64_t>(g_peak.load()) > bound) {
        Fail("held " + std::to_string(g_peak.load()) + " bytes at once for " +
             std::to_string(size) + " bytes of input (format " + std::string(o.format->name) + ")");
    }
    if (status < 0 || status > 2) Fail("exit status " + std::to_string(status));
    const std::vector<std::string> left = Names(outDir);
    for (const std::string& n : left) {
        if (n.find(".rv8rec-") != std::string::npos) Fail("temporary file left: " + n);
        if (status == 2) Fail("a failed export left " + n);
        ::unlink((outDir + "/" + n).c_str());
    }
    return 0;
}
