// Getting data out of the viewer: exports through rv8rec (a range, the visible window, Cancel
// leaving nothing behind), the chart saved as PNG and SVG and copied.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include "logging/RecordingFile.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/ExportDialog.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {
namespace {

using namespace rv8::testing;

QByteArray Contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("out")));
    }
    QString file(const QString& name) const { return dir.filePath(name); }
    QStringList outputs() const {
        return QDir(file(QStringLiteral("out")))
            .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // rv8rec's own export of the same records, for comparison.
    QByteArray Rv8rec(const QString& input, const QString& records, const QString& format) {
        const QString out = file(QStringLiteral("reference.") + format);
        QProcess p;
        p.start(Rv8recProgram(),
                {QStringLiteral("export"), input, QStringLiteral("--records"), records,
                 QStringLiteral("--format"), format, QStringLiteral("-o"), out});
        EXPECT_TRUE(p.waitForFinished(60000));
        const QByteArray bytes = Contents(out);
        QFile::remove(out);
        return bytes;
    }
    QTemporaryDir dir;
};

TEST_F(ExportTest, ARangeOfRecordsIsExportedAsRv8recExportsIt) {
    const QString input = file(QStringLiteral("six.cvx"));
    ASSERT_TRUE(MakeRecording(input, 6, 300, 100000));
    ViewerWindow window;
    ASSERT_TRUE(window.openFile(input));
    for (const char* format : {"csv", "h5"}) {
        SCOPED_TRACE(format);
        const QString out = file(QStringLiteral("out/range.%1").arg(QLatin1String(format)));
        ExportDialog dialog(window.source(), window.record(), window.view().facts().window,
                            window.count(), &window);
        QSignalSpy progress(&dialog.job(), &ExportJob::progress);
        dialog.choose(ExportDialog::Range, 2, 4, QString::fromLatin1(format), out);
        dialog.start();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.exportEnded(), 30000);
        EXPECT_TRUE(dialog.message().startsWith(QStringLiteral("Exported to")))
            << dialog.message().toStdString();
        ASSERT_EQ(progress.size(), 3);  // one line per record: 1/3, 2/3, 3/3
        EXPECT_EQ(progress.back().at(0).toULongLong(), 3u);
        EXPECT_EQ(progress.back().at(1).toULongLong(), 3u);
        if (QLatin1String(format) == QLatin1String("csv"))
            EXPECT_EQ(Contents(out), Rv8rec(input, QStringLiteral("2-4"), QStringLiteral("csv")));
        else
            EXPECT_GT(Contents(out).size(), 3 * 300 * 4);
    }
}

TEST_F(ExportTest, TheVisibleWindowIsExportedAsARecordOfItsOwn) {
    const QString input = file(QStringLiteral("one.cvx"));
    ASSERT_TRUE(MakeRecording(input, 3, 4000, 100000));
    const RecordingRecord record = ReadRecording(input.toStdString()).records[2];
    const RecordingHeader header = ReadRecording(input.toStdString()).header;
    // The frames 1000..2499: the trigger point (frame 2000) moves to frame 1000 of the window.
    const TimeWindow window{1000, 1500};
    QString error;
    ASSERT_TRUE(WriteWindowRecording(file(QStringLiteral("w.cvx")), record, header, window, error))
        << error.toStdString();
    const RecordingReadResult r = ReadRecording(file(QStringLiteral("w.cvx")).toStdString());
    ASSERT_EQ(r.records.size(), 1u);
    const RecordingRecord& w = r.records[0];
    EXPECT_EQ(w.frames, 1500u);
    EXPECT_TRUE(std::equal(w.samples.begin(), w.samples.end(), record.samples.begin() + 2 * 1000));
    EXPECT_EQ(w.acquisition.recordLength, 1500);
    EXPECT_EQ(w.acquisition.postSamples, 500);
    EXPECT_EQ(w.acquisition.channel, record.acquisition.channel);
    EXPECT_EQ(w.timeUs, record.timeUs - 15000);  // its last frame, 1500 frames before the end
    EXPECT_EQ(w.comment, "Log comment 2 (record 2, frames 1000 to 2499)");

    // Through the dialog, as CSV: a header row and the window's 1500 rows.
    ViewerWindow viewer;
    ASSERT_TRUE(viewer.openFile(input));
    ExportDialog dialog(viewer.source(), record, window, viewer.count(), &viewer);
    dialog.choose(ExportDialog::Window, 0, 0, QStringLiteral("csv"),
                  file(QStringLiteral("out/window.csv")));
    dialog.start();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.exportEnded(), 30000);
    EXPECT_EQ(Contents(file(QStringLiteral("out/window.csv"))).count('\n'), 1501);
}

TEST_F(ExportTest, ACancelledExportLeavesNothingBehind) {
    const QString input = file(QStringLiteral("long.cvx"));
    ASSERT_TRUE(MakeRecording(input, 40, 130000, 100000));
    ViewerWindow window;
    ASSERT_TRUE(window.openFile(input));
    // Once into a new file, once over an earlier file, which stays as it was.
    WriteBytes(file(QStringLiteral("out/earlier.csv")).toStdString(), {'o', 'l', 'd'});
    for (const QString& name : {QStringLiteral("new.csv"), QStringLiteral("earlier.csv")}) {
        SCOPED_TRACE(name.toStdString());
        const QStringList before = outputs();
        ExportDialog dialog(window.source(), window.record(), window.view().facts().window,
                            window.count(), &window);
        QSignalSpy progress(&dialog.job(), &ExportJob::progress);
        dialog.choose(ExportDialog::Range, 0, 39, QStringLiteral("csv"),
                      file(QStringLiteral("out/") + name));
        dialog.start();
        ASSERT_TRUE(progress.wait(30000));  // under way
        dialog.reject();                    // Cancel
        QTRY_VERIFY_WITH_TIMEOUT(dialog.exportEnded(), 10000);
        EXPECT_EQ(dialog.message(), QStringLiteral("Cancelled; nothing was written."));
        EXPECT_EQ(outputs(), before);
    }
    EXPECT_EQ(Contents(file(QStringLiteral("out/earlier.csv"))), QByteArray("old"));
}

TEST_F(ExportTest, TheChartIsSavedAsPngAndSvgAndCopied) {
    const QString input = file(QStringLiteral("a.cvx"));
    ASSERT_TRUE(MakeRecording(input, 1, 4096, 100000));
    ViewerWindow window;
    window.resize(1000, 700);
    window.show();
    ASSERT_TRUE(window.openFile(input));
    const QImage picture = window.chart().picture();
    QString error;
    ASSERT_TRUE(window.saveChart(file(QStringLiteral("out/chart.png")), error))
        << error.toStdString();
    const QImage png(file(QStringLiteral("out/chart.png")));
    EXPECT_EQ(png.convertToFormat(QImage::Format_RGB32), picture);
    ASSERT_TRUE(window.saveChart(file(QStringLiteral("out/chart.svg")), error));
    const QByteArray svg = Contents(file(QStringLiteral("out/chart.svg")));
    EXPECT_TRUE(svg.contains("<svg")) << svg.left(200).toStdString();
    EXPECT_TRUE(svg.contains("<image"));
    EXPECT_FALSE(window.saveChart(file(QStringLiteral("no-such-folder/chart.png")), error));
    EXPECT_TRUE(error.contains(QStringLiteral("no-such-folder/chart.png")));
    window.action(QStringLiteral("copy"))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), picture);
}

}  // namespace
}  // namespace rv8::viewer
