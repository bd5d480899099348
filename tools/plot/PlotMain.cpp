// rv8rec-plot: draws a recording into a PNG or SVG file, off-screen (no display needed).
// `rv8rec plot ...` runs it with the same arguments.
//
//   rv8rec-plot FILE [--records A-B] [--size WxH] -o OUT.png|OUT.svg
//
// One selected record is drawn as its traces, several as a min/max bar per record along the
// recording's time. Exit status: 0 drawn, 1 drawn from the intact records before a damaged
// tail (or not a recording), 2 usage error, unreadable file, nothing selected or an output
// that can't be written.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include "tools/plot/Painting.h"
#include "tools/plot/PlotData.h"
#include "tools/rv8rec/Common.h"

namespace {

using rv8rec::kExitUsage;

constexpr char kUsage[] =
    "usage: rv8rec plot FILE [--records A-B] [--size WxH] -o OUT.png|OUT.svg\n"
    "  one record: its traces against the time in the record, a volt axis per channel;\n"
    "  several records: each record's minimum and maximum along the recording's time.\n"
    "  --size WxH  picture size in pixels (default 1200x800)\n";

int Usage(const char* why = nullptr) {
    if (why != nullptr) std::fprintf(stderr, "rv8rec plot: %s\n", why);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

bool ParseSize(std::string_view s, int& w, int& h) {
    const std::size_t x = s.find('x');
    if (x == std::string_view::npos) return false;
    const std::string a(s.substr(0, x)), b(s.substr(x + 1));
    char* end = nullptr;
    const long wl = std::strtol(a.c_str(), &end, 10);
    if (a.empty() || *end != '\0') return false;
    const long hl = std::strtol(b.c_str(), &end, 10);
    if (b.empty() || *end != '\0') return false;
    if (wl < 200 || hl < 150 || wl > 10000 || hl > 10000) return false;
    w = static_cast<int>(wl);
    h = static_cast<int>(hl);
    return true;
}

bool EndsWith(std::string_view s, std::string_view tail) {
    if (s.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char c = s[s.size() - tail.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != tail[i]) return false;
    }
    return true;
}

int Run(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("rv8rec-plot %s\n", RV8_VERSION);
        return 0;
    }
    std::string input, output;
    rv8rec::RecordRange range;
    int width = 1200, height = 800;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--records" && i + 1 < argc) {
            if (!rv8rec::ParseRange(argv[++i], range)) {
                return Usage(
                    "--records wants A-B, A or a list of them such as 3-7,12 (record numbers from "
                    "0)");
            }
        } else if (arg.starts_with("--records=")) {
            if (!rv8rec::ParseRange(arg.substr(10), range)) {
                return Usage(
                    "--records wants A-B, A or a list of them such as 3-7,12 (record numbers from "
                    "0)");
            }
        } else if ((arg == "-o" || arg == "--output") && i + 1 < argc) {
            output = argv[++i];
        } else if (arg == "--size" && i + 1 < argc) {
            if (!ParseSize(argv[++i], width, height)) {
                return Usage("--size wants WxH, from 200x150 to 10000x10000");
            }
        } else if (!arg.starts_with("-") && input.empty()) {
            input = std::string(arg);
        } else {
            return Usage();
        }
    }
    if (input.empty() || output.empty()) return Usage();
    const bool svg = EndsWith(output, ".svg");
    if (!svg && !EndsWith(output, ".png")) return Usage("the output name must end in .png or .svg");
    std::string why;
    if (!rv8rec::CheckOutputPath(output, input, why)) {
        std::fprintf(stderr, "rv8rec plot: %s\n", why.c_str());
        return kExitUsage;
    }

    rv8plot::PlotData data;
    std::string loadWhy;
    const QSize size(width, height);
    const int status = rv8plot::Load(
        input, range, static_cast<uint16_t>(std::min(rv8plot::MaxChannels(size), 65535)), data,
        loadWhy);
    if (data.count == 0) {
        std::fprintf(stderr, "rv8rec plot: %s\n", loadWhy.c_str());
        return status;
    }

    // Drawing text needs a QGuiApplication; without a display it draws off-screen.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    // Qt's notes about its run-time folder mean nothing to someone drawing a file.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
        if (type == QtDebugMsg || type == QtInfoMsg ||
            msg.contains(QLatin1String("XDG_RUNTIME_DIR"))) {
            return;
        }
        std::fprintf(stderr, "rv8rec plot: %s\n", msg.toLocal8Bit().constData());
    });
    QGuiApplication app(qtArgc, qtArgv);

    // A new or regular file is made under a temporary name and renamed into place; a FIFO or
    // a device is written straight through.
    rv8rec::OutputFile out;
    const int fd = out.open(output, input, rv8rec::OutputNeeds::Stream, why);
    if (fd < 0) {
        std::fprintf(stderr, "rv8rec plot: %s\n", why.c_str());
        return kExitUsage;
    }
    QFile file;
    bool written = file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle);
    if (written && svg) {
        QSvgGenerator gen;
        gen.setOutputDevice(&file);
        gen.setSize(size);
        gen.setViewBox(QRect(QPoint(0, 0), size));
        gen.setTitle(QString::fromStdString(input));
        gen.setDescription(QStringLiteral("drawn by rv8rec-plot " RV8_VERSION));
        QPainter painter;
        written = painter.begin(&gen);
        if (written) {
            rv8plot::Paint(painter, size, data);
            written = painter.end();
        }
    } else if (written) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(rv8plot::BackgroundColor());
        {
            QPainter painter(&image);
            rv8plot::Paint(painter, size, data);
        }
        written = image.save(&file, "PNG");
    }
    written = written && file.flush() && file.error() == QFileDevice::NoError;
    file.close();
    if (!written) {
        const std::string reason = file.errorString().toStdString();
        out.discard();
        std::fprintf(stderr, "rv8rec plot: cannot write %s: %s\n", output.c_str(), reason.c_str());
        return kExitUsage;
    }
    if (!out.commit(why)) {
        std::fprintf(stderr, "rv8rec plot: %s\n", why.c_str());
        return kExitUsage;
    }
    if (status != 0) std::fprintf(stderr, "rv8rec plot: %s\n", loadWhy.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    rv8rec::RemoveTemporariesWhenInterrupted();
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "rv8rec plot: not enough memory to draw the picture\n");
        return kExitUsage;
    }
}
