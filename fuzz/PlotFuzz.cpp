// Fuzzes rv8rec plot: arbitrary bytes (their checksums made to match, most of the time) read as
// a recording the way rv8rec-plot reads it (rv8plot::Load) and drawn into a PNG-sized image or
// an SVG, of a size and a record range picked by the first bytes.
//
// Checks, besides "no crash, no undefined behaviour, no endless loop": the exit status is 0, 1
// or 2, a recording with more channels than the picture has room for is refused, and the memory
// held at once stays within kBoundBytes plus a few times the input's size, whatever the file
// claims.
//
// Input: byte 0 options (picture size, SVG, range, checksum repair), bytes 1-2 the range, then
// the recording file.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <sanitizer/allocator_interface.h>

#include "fuzz/Checksums.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/HeapWatch.h"
#include "logging/RecordingFile.h"
#include "tools/plot/Painting.h"
#include "tools/plot/PlotData.h"

namespace {

constexpr std::size_t kBoundBytes = std::size_t{64} << 20;

using namespace rv8::fuzz;

// The input as a file.
const MemoryFile g_input("rv8-fuzz-plot");

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "fuzz_plot";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // Fonts are loaded once, here, rather than within the first input (their caches live as
    // long as the process).
    QImage warm(QSize(200, 150), QImage::Format_RGB32);
    QPainter painter(&warm);
    painter.drawText(10, 20, QStringLiteral("0.5 V"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    (void)g_hooks;
    if (size < 3) return 0;
    const uint8_t opt = data[0];
    std::vector<uint8_t> file(data + 3, data + size);
    if ((opt & 0x80) == 0) rv8::fuzz::RepairChecksums(file);
    if (!g_input.write(file.data(), file.size())) Fail("cannot write the input");

    // Small pictures keep each run short; the least height a panel needs still shows.
    static const QSize kSizes[] = {{200, 150}, {320, 200}, {640, 400}, {400, 1000}};
    const QSize picture = kSizes[opt & 3];
    rv8rec::RecordRange range;
    if ((opt & 0x10) != 0) {
        range.given = true;
        range.first = data[1] % 8;
        range.last = range.first + data[2] % 8;
    }
    g_live = 0;
    g_peak = 0;
    g_watch = true;
    {
        rv8plot::PlotData plot;
        std::string why;
        const int max = rv8plot::MaxChannels(picture);
        const int status =
            rv8plot::Load(g_input.path(), range, static_cast<uint16_t>(max), plot, why);
        if (status < 0 || status > 2) Fail("exit status " + std::to_string(status));
        if (plot.count > 0) {
            if (plot.header.channelCount > max) Fail("more channels drawn than there is room for");
            if ((opt & 0x04) != 0) {
                QBuffer buffer;
                buffer.open(QIODevice::WriteOnly);
                QSvgGenerator gen;
                gen.setOutputDevice(&buffer);
                gen.setSize(picture);
                QPainter painter(&gen);
                rv8plot::Paint(painter, picture, plot);
            } else {
                QImage image(picture, QImage::Format_RGB32);
                QPainter painter(&image);
                rv8plot::Paint(painter, picture, plot);
            }
        }
    }
    g_watch = false;
    const uint64_t bound = kBoundBytes + 4 * uint64_t{size};
    if (static_cast<uint64_t>(g_peak.load()) > bound) {
        Fail("held " + std::to_string(g_peak.load()) + " bytes at once for " +
             std::to_string(size) + " bytes of input");
    }
    return 0;
}
