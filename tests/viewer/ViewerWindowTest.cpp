// The viewer's window driven as a user drives it, by keys, the wheel and the mouse, on
// recordings made in the test with the project's writer.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "display/KurvoMarks.h"
#include "logging/RecordingFile.h"
#include "tests/logging/RecordingTestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {
namespace {

using namespace rv8::testing;

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);  // the last folder goes to a test location
        window = std::make_unique<ViewerWindow>();
        window->resize(1100, 700);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QString file(const QString& name) const { return dir.filePath(name); }
    Kurvo* chart() { return &window->chart(); }
    const RecordView::Facts& facts() { return window->view().facts(); }
    void key(int k, Qt::KeyboardModifiers mods = {}) {
        QTest::keyClick(window.get(), static_cast<Qt::Key>(k), mods);
    }
    // The chart's logical x of frame `frame` of the time view (of bin `frame` in the spectrum
    // view), as the chart places its points.
    double xOf(int64_t frame) {
        const double r = chart()->devicePixelRatioF();
        const int width = static_cast<int>(std::lround(chart()->width() * r));
        const RecordView::Facts& f = facts();
        const int points = f.spectrum ? 513 : static_cast<int>(f.window.count);
        const double at = f.spectrum ? frame : frame - f.window.start;
        return kurvo::ColumnForPoint(at, points, width) / r;
    }
    int64_t frameAt(double x) {
        const double r = chart()->devicePixelRatioF();
        const int width = static_cast<int>(std::lround(chart()->width() * r));
        return facts().window.start + std::llround(kurvo::PointForColumn(
                                          x * r, static_cast<int>(facts().window.count), width));
    }
    QTemporaryDir dir;
    std::unique_ptr<ViewerWindow> window;
};

TEST_F(ViewerTest, KeysAndTheSliderStepThroughTheRecords) {
    ASSERT_TRUE(MakeRecording(file("a.cvx"), 30, 2000, 100000));
    const RecordingReadResult all = ReadRecording(file("a.cvx").toStdString());
    ASSERT_TRUE(window->openFile(file("a.cvx")));
    EXPECT_EQ(window->current(), 0);
    struct Step {
        int key;
        int64_t shown;
    };
    for (const Step& s : {Step{Qt::Key_Right, 1},
                          {Qt::Key_Right, 2},
                          {Qt::Key_PageDown, 12},
                          {Qt::Key_PageUp, 2},
                          {Qt::Key_PageUp, 0},
                          {Qt::Key_End, 29},
                          {Qt::Key_PageDown, 29},
                          {Qt::Key_Left, 28},
                          {Qt::Key_Home, 0}}) {
        key(s.key);
        ASSERT_EQ(window->current(), s.shown) << "key " << s.key;
        EXPECT_EQ(window->titleText(), QStringLiteral("record %1 of 30").arg(s.shown));
        EXPECT_EQ(window->record().samples, all.records[s.shown].samples);
        EXPECT_EQ(window->record().comment, all.records[s.shown].comment);
    }
    window->findChild<QSlider*>(QStringLiteral("recordSlider"))->setValue(17);
    EXPECT_EQ(window->current(), 17);
    // Playing as fast as the records render reaches the last record and stops there.
    window->action(QStringLiteral("fastPlay"))->setChecked(true);
    key(Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(!window->action(QStringLiteral("play"))->isChecked(), 5000);
    EXPECT_EQ(window->current(), 29);
}

// Find (Ctrl+F) runs rv8rec find on the open file: the records it names are marked under the
// slider, N and Shift+N step through them, a click on the marks goes to the nearest one.
TEST_F(ViewerTest, FindMarksTheMatchingRecordsAndNStepsThroughThem) {
    ASSERT_TRUE(MakeRecording(file("f.cvx"), 30, 2000, 100000));
    ASSERT_TRUE(window->openFile(file("f.cvx")));
    const auto found = [&](const QString& expression) {
        window->find(expression);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->finding(); }, 10000));
        return window->marks().runs();
    };
    EXPECT_EQ(found(QStringLiteral("ch1.freq > 990 and ch1.freq < 1010")), (RecordRuns{{0, 29}}));
    EXPECT_EQ(found(QStringLiteral("record >= 4 and record <= 6 or record == 20")),
              (RecordRuns{{4, 6}, {20, 20}}));
    EXPECT_TRUE(window->findText().startsWith(QStringLiteral("4 record(s) where")))
        << window->findText().toStdString();
    for (const auto& [k, shown] : {std::pair{Qt::Key_N, 4},
                                   {Qt::Key_N, 5},
                                   {Qt::Key_N, 6},
                                   {Qt::Key_N, 20},
                                   {Qt::Key_N, 20}}) {
        key(k);
        EXPECT_EQ(window->current(), shown);
    }
    key(Qt::Key_N, Qt::ShiftModifier);
    EXPECT_EQ(window->current(), 6);
    QWidget* marks = window->findChild<QWidget*>(QStringLiteral("recordMarks"));
    ASSERT_NE(marks, nullptr);
    QTest::mouseClick(marks, Qt::LeftButton, {}, QPoint(marks->width() - 2, marks->height() / 2));
    EXPECT_EQ(window->current(), 20);
    // A malformed expression: rv8rec's message, and nothing marked.
    EXPECT_TRUE(found(QStringLiteral("ch1.vpp >> 2")).empty());
    EXPECT_TRUE(window->findText().contains(QStringLiteral("at character 10")))
        << window->findText().toStdString();
}

// The trend strip (T): channel 1's Vpp of every record, from rv8rec measure, every other record
// at twice the amplitude; with more records than pixel columns each column spans its records'
// smallest to largest value; a click goes to the record under the pointer.
TEST_F(ViewerTest, TheTrendStripShowsAMeasurementOfEveryRecord) {
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenRecording(w, file("t.cvx"), 100000));
    constexpr int kRecords = 40, kFrames = 2000;
    for (int r = 0; r < kRecords; ++r) {
        std::vector<int16_t> block(2 * kFrames);
        for (int32_t i = 0; i < kFrames; ++i)
            for (int c = 0; c < 2; ++c)
                block[2 * i + c] =
                    static_cast<int16_t>(SignalSample(r, i, c, 100000) * (r % 2 + 1));
        w.AddAcquisition(ViewerAcquisition(kFrames, 100000, static_cast<uint32_t>(r + 1)));
        ASSERT_TRUE(w.WriteBlock(block.data(), kFrames));
    }
    ASSERT_TRUE(w.CloseFile());
    ASSERT_TRUE(window->openFile(file("t.cvx")));
    key(Qt::Key_T);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->trend().values().size() == kRecords; }, 10000));
    for (int r = 0; r < kRecords; ++r)
        EXPECT_NEAR(window->trend().values()[r], r % 2 ? 6.0 : 3.0, 0.01) << r;
    window->setTrendColumn(QStringLiteral("ch1_freq_hz"));
    EXPECT_NEAR(window->trend().values()[7], 1000, 1);
    window->setTrendColumn(QStringLiteral("ch1_vpp_v"));
    // 40 records on fewer columns: every column holds both amplitudes.
    QWidget* strip = window->findChild<QWidget*>(QStringLiteral("trendStrip"));
    ASSERT_NE(strip, nullptr);
    strip->parentWidget()->setMinimumWidth(0);
    strip->setFixedWidth(30);
    QApplication::processEvents();
    const auto [lo, hi] = window->trend().columnRange(strip->width() / 2);
    EXPECT_NEAR(lo, 3.0, 0.01);
    EXPECT_NEAR(hi, 6.0, 0.01);
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->width() - 1, strip->height() / 2));
    EXPECT_EQ(window->current(), kRecords - 1);
}

TEST_F(ViewerTest, TheWheelZoomsAboutThePointerAndTheZoomStaysWhileStepping) {
    ASSERT_TRUE(MakeRecording(file("long.cvx"), 3, 130000, 100000));
    ASSERT_TRUE(window->openFile(file("long.cvx")));
    EXPECT_EQ(facts().window, (TimeWindow{0, 130000}));  // the whole record, as an envelope
    EXPECT_EQ(chart()->lastPlotValues().size(), 2u * 130000);
    const QPointF at(chart()->width() * 0.75, chart()->height() / 2.0);
    const int64_t before = frameAt(at.x());
    Wheel(chart(), at, 10);
    EXPECT_LT(facts().window.count, 14000);
    EXPECT_NEAR(frameAt(at.x()), before, facts().window.count / chart()->width() + 1);
    const TimeWindow zoomed = facts().window;
    key(Qt::Key_Right);
    EXPECT_EQ(window->current(), 1);
    EXPECT_EQ(facts().window, zoomed);
    // A drag to the left brings later frames into view; the scroll bar follows.
    Drag(chart(), at, at - QPointF(100, 0));
    EXPECT_NEAR(static_cast<double>(facts().window.start - zoomed.start),
                100.0 * zoomed.count / chart()->width(), zoomed.count / chart()->width() + 2.0);
    // Down to single samples, with dots on them, and back to the whole record.
    Wheel(chart(), at, 60);
    EXPECT_EQ(facts().window.count, TimeAxis::kMinFrames);
    EXPECT_GT(chart()->marks().sampleDots, 0.0);
    key(Qt::Key_F);
    EXPECT_EQ(facts().window, (TimeWindow{0, 130000}));
    // Ctrl+wheel zooms vertically instead, the time axis staying.
    Wheel(chart(), at, 1, Qt::ControlModifier);
    EXPECT_EQ(chart()->YMax(0) - chart()->YMin(0), 32767);
    EXPECT_EQ(facts().window, (TimeWindow{0, 130000}));
    key(Qt::Key_D);
    EXPECT_EQ(chart()->YMax(0), 32767);
}

TEST_F(ViewerTest, CursorsReadTheRecordedSamples) {
    ASSERT_TRUE(MakeRecording(file("sine.cvx"), 1, 4096, 100000));
    ASSERT_TRUE(window->openFile(file("sine.cvx")));
    const QPointF middle(chart()->width() / 2.0, chart()->height() / 2.0);
    Wheel(chart(), middle, 5);  // about 1300 frames: under a column's width apart
    Wheel(chart(), middle, 7);  // about 280 frames: a few pixels apart
    ASSERT_LT(facts().window.count, 400);
    // Two rising edges of the 1 kHz sine 100 samples apart; the pointer a little off each
    // sample, never nearer another.
    const int64_t first = facts().window.start + 50;
    const double y = chart()->height() / 2.0;
    Drag(chart(), QPointF(xOf(first) + 0.6, y), QPointF(xOf(first + 100) - 0.6, y), Qt::LeftButton,
         Qt::ShiftModifier);
    EXPECT_TRUE(window->cursors().on());
    EXPECT_EQ(window->cursors().time(0, false), first);
    EXPECT_EQ(window->cursors().time(1, false), first + 100);
    const QString status = window->statusText();
    EXPECT_TRUE(status.contains(QStringLiteral("\u0394T 1.000 ms   1/\u0394T 1.000 kHz")))
        << status.toStdString();
    for (int64_t at : {first, first + 100}) {
        const double volts = window->record().samples[2 * at] * 4.0 / 32768;
        EXPECT_TRUE(status.contains(QStringLiteral("CH1  ") + CursorVolts(volts)))
            << status.toStdString();
    }
    // Level cursors: each channel's voltage at the two heights, and the difference.
    Drag(chart(), QPointF(100, chart()->height() * 0.25), QPointF(100, chart()->height() * 0.75),
         Qt::RightButton, Qt::ShiftModifier);
    const double v1 = window->cursors().level(0), v2 = window->cursors().level(1);
    EXPECT_NEAR(v1, 0.25, 0.01);
    EXPECT_NEAR(v2, 0.75, 0.01);
    const auto volts = [&](double level, int c) {
        const double raw = chart()->YMax(c) - level * (chart()->YMax(c) - chart()->YMin(c));
        return raw * (c == 0 ? 4.0 : 0.8) / 32768;
    };
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("\u0394V  CH1 %1  CH2 %2")
                                                  .arg(CursorVolts(volts(v2, 0) - volts(v1, 0)),
                                                       CursorVolts(volts(v2, 1) - volts(v1, 1)))))
        << window->statusText().toStdString();
    // The spectrum view: frequency cursors on bins, 1 kHz at bin 10.24 of 100 kS/s / 1024.
    key(Qt::Key_V);
    ASSERT_TRUE(facts().spectrum);
    Drag(chart(), QPointF(xOf(10), y), QPointF(xOf(20), y), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(window->cursors().time(0, true), 10);
    EXPECT_EQ(window->cursors().time(1, true), 20);
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("\u0394F 976.6 Hz")))
        << window->statusText().toStdString();
    key(Qt::Key_Escape);
    EXPECT_FALSE(window->cursors().placed());
}

TEST_F(ViewerTest, FollowsARecordingTheWriterIsStillWriting) {
    WriteVelmarFileII w;
    ASSERT_TRUE(OpenRecording(w, file("live.cvx"), 100000));
    ASSERT_TRUE(AppendRecord(w, 0, 1000, 100000));
    ASSERT_TRUE(window->openFile(file("live.cvx")));
    key(Qt::Key_L);
    EXPECT_TRUE(window->following());
    for (int r = 1; r <= 4; ++r) {
        ASSERT_TRUE(AppendRecord(w, r, 1000, 100000));
        const auto landed = std::chrono::steady_clock::now();
        QTRY_COMPARE_WITH_TIMEOUT(window->current(), r, 1000);  // within a second
        EXPECT_LT(std::chrono::steady_clock::now() - landed, std::chrono::seconds(1));
        EXPECT_EQ(window->count(), static_cast<uint64_t>(r + 1));
        EXPECT_EQ(window->record().comment, QStringLiteral("Log comment %1").arg(r).toStdString());
    }
    // Stepping back ends following; new records still arrive in the count.
    key(Qt::Key_Left);
    EXPECT_FALSE(window->following());
    ASSERT_TRUE(AppendRecord(w, 5, 1000, 100000));
    QTRY_COMPARE_WITH_TIMEOUT(window->count(), 6u, 1000);
    EXPECT_EQ(window->current(), 3);
    EXPECT_TRUE(window->bannerText().isEmpty());
    w.CloseFile();
}

TEST_F(ViewerTest, ADamagedTailShowsTheIntactRecordsUnderABanner) {
    ASSERT_TRUE(MakeRecording(file("whole.cvx"), 10, 500, 100000));
    std::vector<uint8_t> bytes = FileBytes(file("whole.cvx").toStdString());
    const std::size_t record = recfile::RecordSize(14, 500, 2);  // "Log comment N"
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    const std::size_t header = recfile::HeaderSize(2);
    for (const Case& c :
         {Case{"cut in record 7",
               [&](std::vector<uint8_t>& b) { b.resize(header + 7 * record + 99); }},
          Case{"a flipped sample in record 4",
               [&](std::vector<uint8_t>& b) { b[header + 4 * record + 300] ^= 1; }}}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> damaged = bytes;
        c.damage(damaged);
        const QString path = file(QStringLiteral("damaged-%1.cvx").arg(c.name[0] == 'c'));
        WriteBytes(path.toStdString(), damaged);
        // An old file: an incomplete last record is damage at once, not a record on its way.
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::ReadOnly));
        ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                    QFileDevice::FileModificationTime));
        const RecordingReadResult r = ScanRecording(path.toStdString(), nullptr);
        ASSERT_TRUE(window->openFile(path));
        QTRY_COMPARE_WITH_TIMEOUT(window->count(), r.recordCount, 5000);
        EXPECT_TRUE(window->bannerText().contains(QString::fromStdString(r.error)))
            << window->bannerText().toStdString();
        EXPECT_TRUE(window->bannerText().contains(
            QStringLiteral("%1 intact records before the damage are shown").arg(r.recordCount)))
            << window->bannerText().toStdString();
        key(Qt::Key_End);
        EXPECT_EQ(window->current(), static_cast<int64_t>(r.recordCount) - 1);
    }
}

TEST_F(ViewerTest, AVersion1FileShowsItsMissingSettingsAsUnknown) {
    const QString example = QString::fromLocal8Bit(qgetenv("RV8_SOURCE_DIR")) +
                            QStringLiteral("/tests/data/example-v1.cvx");
    ASSERT_TRUE(window->openFile(example));
    EXPECT_EQ(window->titleText(), QStringLiteral("record 0 of 1"));
    const QString details = window->detailsText();
    EXPECT_TRUE(details.contains(QStringLiteral("not recorded (format version 1)")))
        << details.toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("CH1: \u00B12.5 V, coupling unknown")));
    EXPECT_TRUE(details.contains(QStringLiteral("Measure mode: unknown")));
    EXPECT_TRUE(details.contains(QStringLiteral("Trigger: unknown")));
    EXPECT_TRUE(details.contains(QStringLiteral("Comment: ab")));
    EXPECT_EQ(chart()->lastPlotKind(), Kurvo::PlotKind::Buffer);
    EXPECT_TRUE(window->bannerText().isEmpty());
}

TEST_F(ViewerTest, WhatIsNotARecordingGetsOneMessageAndTheViewerStaysUsable) {
    WriteBytes(file("empty.cvx").toStdString(), {});
    WriteBytes(file("notes.cvx").toStdString(), std::vector<uint8_t>(300, 'x'));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.cvx")));
    ASSERT_TRUE(MakeRecording(file("good.cvx"), 2, 100, 1000));
    struct Case {
        QString name;
        const char* why;
    };
    for (const Case& c : {Case{QStringLiteral("empty.cvx"), "the file is empty"},
                          Case{QStringLiteral("notes.cvx"), "not a recording file"},
                          Case{QStringLiteral("folder.cvx"), "it is a folder"},
                          Case{QStringLiteral("missing.cvx"), "No such file or directory"}}) {
        EXPECT_FALSE(window->openFile(file(c.name)));
        const QString banner = window->bannerText();
        EXPECT_TRUE(banner.contains(c.name)) << banner.toStdString();
        EXPECT_TRUE(banner.contains(QString::fromLatin1(c.why))) << banner.toStdString();
    }
    // A recording dropped on the window opens.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file("good.cvx"))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(window->source().path(), file("good.cvx"));
    EXPECT_TRUE(window->bannerText().isEmpty());
    key(Qt::Key_Right);
    EXPECT_EQ(window->current(), 1);
}

}  // namespace
}  // namespace rv8::viewer
