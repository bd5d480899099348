// Fuzzes the recording-file reader on arbitrary bytes: ParseRecording in memory, and the same
// bytes read in small pieces (so that records larger than a piece take the streaming path of
// the reader: CRC first, samples after), from memory and from a file (ScanRecording).
//
// Checks, besides "no crash, no undefined behaviour, no endless loop":
// - no single allocation while reading one record at a time is larger than the input (a
//   hostile length field must not cause a huge allocation);
// - the result is consistent: records are numbered from 0 without gaps, each holds
//   frames x channels samples and lies inside the input; without a damaged tail the records
//   end exactly at the end of the input, with one the tail starts inside it;
// - reading only the intact part again gives the same records and no damaged tail;
// - reading in small pieces, from memory or from a file, gives exactly the same result.
// Every input is read twice: as it is, and with its checksums made to match (so that the
// fuzzer reaches past the CRC checks into the length and numbering rules).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sanitizer/allocator_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include "fuzz/Checksums.h"
#include "fuzz/FuzzSupport.h"
#include "logging/RecordingFile.h"

namespace {

bool g_watch = false;
std::size_t g_largest = 0;

// Sees every allocation of the process (the sanitizer's allocator hooks).
void OnMalloc(const volatile void*, std::size_t n) {
    if (g_watch && n > g_largest) g_largest = n;
}
void OnFree(const volatile void*) {}
const int g_hooks = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);

using namespace rv8::fuzz;

// The input as a file, for ScanRecording.
const MemoryFile g_input("rv8-fuzz-recording");

// Pieces small enough to split every record, CRC fields included, at odd places.
constexpr std::size_t kSmallPiece = 61;

void ExpectSame(const rv8::RecordingReadResult& a, const rv8::RecordingReadResult& b,
                const std::vector<rv8::RecordingRecord>& bRecords, const char* how) {
    const bool same = a.headerOk == b.headerOk && a.error == b.error &&
                      a.recordCount == b.recordCount && a.damagedTail == b.damagedTail &&
                      a.tailOffset == b.tailOffset && a.tailIndex == b.tailIndex &&
                      a.ioError == b.ioError && a.fileSize == b.fileSize &&
                      a.records.size() == bRecords.size();
    if (!same) Fail(std::string("reading ") + how + " differs: " + a.error + " / " + b.error);
    for (std::size_t i = 0; i < bRecords.size(); ++i) {
        const rv8::RecordingRecord& x = a.records[i];
        const rv8::RecordingRecord& y = bRecords[i];
        if (x.number != y.number || x.timeUs != y.timeUs || x.frames != y.frames ||
            x.offset != y.offset || x.comment != y.comment || x.samples != y.samples ||
            x.eventMark != y.eventMark)
            Fail(std::string("a record read ") + how + " differs");
    }
}

}  // namespace

static void Check(const uint8_t* data, std::size_t size) {
    (void)g_hooks;
    uint64_t visited = 0;
    g_largest = 0;
    g_watch = true;
    const rv8::RecordingReadResult streamed =
        rv8::ParseRecording(data, size, [&visited](const rv8::RecordingRecord& rec) {
            if (rec.number != visited) Fail("record numbers out of sequence");
            ++visited;
            return true;
        });
    g_watch = false;
    // Small fixed-size allocations (messages, the visitor) are allowed on tiny inputs.
    if (g_largest > size && g_largest > 512)
        Fail("allocated " + std::to_string(g_largest) + " bytes for " + std::to_string(size) +
             " bytes of input");

    const rv8::RecordingReadResult r = rv8::ParseRecording(data, size);

    // The same in small pieces, from memory and from a file.
    const rv8::RecordingReadOptions small{kSmallPiece};
    std::vector<rv8::RecordingRecord> pieced;
    const auto keep = [&pieced](const rv8::RecordingRecord& rec) {
        pieced.push_back(rec);
        return true;
    };
    g_largest = 0;
    g_watch = true;
    const rv8::RecordingReadResult inPieces = rv8::ParseRecording(data, size, keep, small);
    g_watch = false;
    if (g_largest > size && g_largest > 512)
        Fail("allocated " + std::to_string(g_largest) + " bytes reading in pieces");
    ExpectSame(r, inPieces, pieced, "in pieces");
    if (g_input.write(data, size)) {
        pieced.clear();
        const rv8::RecordingReadResult fromFile =
            rv8::ScanRecording(g_input.path(), keep, nullptr, small);
        ExpectSame(r, fromFile, pieced, "from a file");
    }

    if (r.recordCount != r.records.size() || r.recordCount != visited ||
        streamed.recordCount != visited)
        Fail("record counts disagree");
    if (!r.headerOk) {
        if (!r.records.empty() || r.error.empty()) Fail("records without a header");
        return;
    }
    const uint64_t channels = r.header.channelCount;
    if (channels == 0 || r.header.headerSize != rv8::recfile::HeaderSize(channels))
        Fail("header accepted with a wrong size");
    uint64_t end = r.header.headerSize;
    for (std::size_t i = 0; i < r.records.size(); ++i) {
        const rv8::RecordingRecord& rec = r.records[i];
        if (rec.number != i || rec.offset != end) Fail("record out of place");
        if (rec.samples.size() != uint64_t{rec.frames} * channels) Fail("sample count");
        if (rec.comment.size() > rv8::recfile::kMaxCommentBytes) Fail("comment too long");
        if (rec.samplesOffset < rec.offset + rv8::recfile::kRecordHeaderBytes + rec.comment.size())
            Fail("samples before the end of the record's head");
        end =
            rec.samplesOffset + 2 * uint64_t{rec.frames} * channels + rv8::recfile::kRecordCrcBytes;
        if (end > size) Fail("record beyond the input");
    }
    if (r.tailOffset != end || r.tailIndex != r.recordCount) Fail("tail position");
    if (r.damagedTail != (end < size)) Fail("damaged tail flag");
    if (r.damagedTail) {
        const rv8::RecordingReadResult intact =
            rv8::ParseRecording(data, static_cast<std::size_t>(end));
        if (!intact.headerOk || intact.damagedTail || intact.recordCount != r.recordCount)
            Fail("the intact part does not read back alone");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Check(data, size);
    std::vector<uint8_t> repaired(data, data + size);
    rv8::fuzz::RepairChecksums(repaired);
    Check(repaired.data(), repaired.size());
    return 0;
}
