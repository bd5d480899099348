// rv8rec plot: PNG and SVG pictures of one record and of several, drawn off-screen by
// rv8rec-plot, and the rule that rv8rec itself links no GUI library.
#include <QColor>
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "logging/WriteVelmarFileII.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/tools/ToolRun.h"

namespace rv8 {
namespace {

using testing::EnvOr;
using testing::Quote;
using testing::RunTool;

class PlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = EnvOr("RV8_BIN_DIR", ".");
        file_ = dir_.filePath("plot.cvx").toStdString();
        WriteVelmarFileII w;
        ASSERT_TRUE(testing::OpenLikeWindow(w, QString::fromStdString(file_), 10000, 2, 0.5));
        for (int r = 0; r < 5; ++r) {
            // A sine on channel 1 growing from record to record, a square on channel 2.
            std::vector<int16_t> b(2 * 3000);
            for (int i = 0; i < 3000; ++i) {
                b[2 * i] = static_cast<int16_t>(6000 * (r + 1) * std::sin(i * 0.01));
                b[2 * i + 1] = static_cast<int16_t>((i / 250) % 2 ? 20000 : -20000);
            }
            w.AddComment(QStringLiteral("Plot record %1").arg(r));
            w.AddEventMark(1);
            ASSERT_TRUE(w.WriteBlock(b.data(), 3000));
        }
        w.CloseFile();
    }
    std::string out(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    QTemporaryDir dir_;
    std::string bin_, file_;
};

// Pixels of the picture close to the trace colours (blue, and dark red lightened).
int CountNear(const QImage& img, QColor want) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) +
                    std::abs(c.blue() - want.blue()) <
                60) {
                ++n;
            }
        }
    }
    return n;
}

TEST_F(PlotTest, PngAndSvgOfOneAndOfSeveralRecords) {
    struct Case {
        std::string args;
        std::string name;
        int width, height;
        std::string svgTitleHas;
    };
    const Case cases[] = {
        {"--records 2", "one.png", 1200, 800, ""},
        {"--records 1-4", "some.png", 1200, 800, ""},
        {"--size 640x400", "all.png", 640, 400, ""},
        {"--records 3", "one.svg", 1200, 800, "plot.cvx"},
        {"", "all.svg", 1200, 800, "plot.cvx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = out(c.name);
        const testing::ToolRun r = RunTool(Quote(bin_ + "/rv8rec") + " plot " + Quote(file_) + " " +
                                           c.args + " -o " + Quote(path));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        ASSERT_GT(bytes.size(), 1000);
        if (c.name.ends_with(".png")) {
            QImage img;
            ASSERT_TRUE(img.loadFromData(bytes, "PNG"));
            EXPECT_EQ(img.width(), c.width);
            EXPECT_EQ(img.height(), c.height);
            // Both traces are there in their colours (the window's, lightened for the dark
            // background).
            EXPECT_GT(CountNear(img, QColor(91, 91, 255)), 200);
            EXPECT_GT(CountNear(img, QColor(209, 69, 69)), 200);
        } else {
            QXmlStreamReader xml(bytes);
            bool root = false, titled = false;
            int paths = 0;
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement) continue;
                if (xml.name() == QLatin1String("svg")) {
                    root = true;
                    EXPECT_TRUE(xml.attributes().value("viewBox").toString().endsWith(
                        QStringLiteral("%1 %2").arg(c.width).arg(c.height)));
                }
                if (xml.name() == QLatin1String("title")) {
                    titled = xml.readElementText().contains(QString::fromStdString(c.svgTitleHas));
                }
                if (xml.name() == QLatin1String("path") ||
                    xml.name() == QLatin1String("polyline")) {
                    ++paths;
                }
            }
            EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
            EXPECT_TRUE(root);
            EXPECT_TRUE(titled);
            EXPECT_GT(paths, 5);
        }
    }
}

TEST_F(PlotTest, RefusalsExitTwoAndWriteNothing) {
    struct Case {
        std::string args;
        std::string stderrHas;
    };
    const Case cases[] = {
        {"--records 99 -o " + Quote(out("none.png")), "no record to draw"},
        {"-o " + Quote(out("pic.jpg")), ".png or .svg"},
        {"--size 5x5 -o " + Quote(out("tiny.png")), "--size"},
        {"-o " + Quote(file_), "recording"},
        {"", "usage"},
    };
    const std::vector<uint8_t> before = testing::FileBytes(file_);
    for (const Case& c : cases) {
        const testing::ToolRun r =
            RunTool(Quote(bin_ + "/rv8rec") + " plot " + Quote(file_) + " " + c.args);
        EXPECT_EQ(r.status, 2) << c.args;
        EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << c.args << ": " << r.err;
    }
    EXPECT_EQ(testing::FileBytes(file_), before);
    for (const char* name : {"none.png", "pic.jpg", "tiny.png"})
        EXPECT_FALSE(QFile::exists(QString::fromStdString(out(name)))) << name;
}

// Record times anywhere in the 64-bit range (a damaged clock, a crafted file): the picture is
// drawn, its time axis spanning them (their difference overflowed int64_t: undefined behaviour).
TEST_F(PlotTest, RecordTimesAtTheLimitsOfTheRange) {
    RecordingHeader h;
    h.channelCount = 2;
    h.sampleFormat = recfile::kSampleFormatInt16;
    h.sampleRate = 1000;
    h.ranges = {ChannelRange{1, -1}, ChannelRange{2, -2}};
    std::vector<uint8_t> bytes = EncodeRecordingHeader(h);
    const int64_t times[] = {std::numeric_limits<int64_t>::min(), 0,
                             std::numeric_limits<int64_t>::max()};
    const int16_t samples[] = {100, -100, 2000, -2000, 30000, -30000};
    for (uint32_t n = 0; n < 3; ++n) {
        std::vector<uint8_t> rec(recfile::RecordSize(0, 3, 2));
        RecordFields f;
        f.number = n;
        f.timeUs = times[n];
        f.sampleRate = 1000;
        EncodeRecord(rec.data(), f, "", 0, samples, 3, 2);
        bytes.insert(bytes.end(), rec.begin(), rec.end());
    }
    const std::string file = out("limits.cvx");
    testing::WriteBytes(file, bytes);
    for (const char* args : {"", "--records 0", "--records 2"}) {
        SCOPED_TRACE(args);
        const testing::ToolRun r = RunTool(Quote(bin_ + "/rv8rec") + " plot " + Quote(file) + " " +
                                           args + " -o " + Quote(out("limits.png")));
        EXPECT_EQ(r.status, 0) << r.err;
        QImage img;
        EXPECT_TRUE(img.load(QString::fromStdString(out("limits.png"))));
        EXPECT_EQ(img.width(), 1200);
    }
}

// rv8rec finds rv8rec-plot beside itself; a copy of rv8rec without it says so and exits 2.
TEST_F(PlotTest, MissingPlotProgramIsReported) {
    const std::string lone = out("rv8rec");
    ASSERT_TRUE(
        QFile::copy(QString::fromStdString(bin_ + "/rv8rec"), QString::fromStdString(lone)));
    ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(lone),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const testing::ToolRun r =
        RunTool(Quote(lone) + " plot " + Quote(file_) + " -o " + Quote(out("x.png")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("rv8rec-plot"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("libexec/rv8scope"), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out("x.png"))));
}

// The command-line tool stays free of GUI libraries; only rv8rec-plot draws.
TEST(PlotLinkTest, Rv8recLinksNoGuiLibrary) {
    const std::string bin = EnvOr("RV8_BIN_DIR", ".");
    const testing::ToolRun tool = RunTool("readelf -d " + Quote(bin + "/rv8rec"));
    ASSERT_EQ(tool.status, 0) << tool.err;
    ASSERT_NE(tool.out.find("NEEDED"), std::string::npos);
    for (const char* lib : {"Qt6Widgets", "Qt6Gui", "libGL", "OpenGL", "libEGL"})
        EXPECT_EQ(tool.out.find(lib), std::string::npos) << lib;
    const testing::ToolRun plot = RunTool("readelf -d " + Quote(bin + "/rv8rec-plot"));
    EXPECT_NE(plot.out.find("Qt6Gui"), std::string::npos);
    EXPECT_NE(plot.out.find("Qt6Svg"), std::string::npos);
    EXPECT_EQ(plot.out.find("Qt6Widgets"), std::string::npos);
}

}  // namespace
}  // namespace rv8
