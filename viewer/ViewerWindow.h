// The viewer's window: one recording, one record at a time on the scope's chart, with the
// record's details beside it, a scroll bar for the time axis and a slider over all records
// below, and a status line. Every key and mouse action is listed in docs/viewer.md.
//
// Files: ViewerWindow.cpp (the window, its actions and menus, the view), ViewerNavigation.cpp
// (moving between records, playing, following a growing file), ViewerPanels.cpp (the banner, the
// record's details, the status line), ViewerFiles.cpp (opening, exporting, saving the chart),
// ViewerFind.cpp (finding records by their measurements, marked under the slider; the trend of
// a measurement over the records).
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QTimer>

#include "logging/RecordingFile.h"
#include "viewer/ChartInput.h"
#include "viewer/Cursors.h"
#include "viewer/RecordMarks.h"
#include "viewer/RecordSource.h"
#include "viewer/RecordView.h"
#include "viewer/TrendStrip.h"

class QAction;
class QActionGroup;
class QComboBox;
class QGridLayout;
class QLabel;
class QScrollBar;
class QSlider;

namespace rv8::viewer {

class ViewerWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit ViewerWindow(QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Opens a recording; on failure the banner says why (naming the file) and the file shown
    // before stays.
    bool openFile(const QString& path);

    // For tests and tools.
    Kurvo& chart() { return *chart_; }
    RecordView& view() { return *view_; }
    Cursors& cursors() { return cursors_; }
    RecordSource& source() { return *source_; }
    int64_t current() const { return current_; }
    uint64_t count() const { return count_; }
    const RecordingRecord& record() const { return record_; }
    QString bannerText() const;
    QString titleText() const;
    QString statusText() const;
    // The record's details as the panel shows them, "Label: value" a line.
    QString detailsText() const;
    QAction* action(const QString& name) const;
    bool playing() const { return play_.isActive() || playing_; }
    bool following() const;
    // Follow (L): keep the newest record in view as records are added.
    void setFollowing(bool on);

    // Shows record k (limited to the records there are).
    void goTo(int64_t k);
    // Saves the chart's picture as PNG or SVG (by the name's extension); false with `error`.
    bool saveChart(const QString& path, QString& error);

    // Find (Ctrl+F): runs `rv8rec find FILE --where EXPRESSION` on the open file in the
    // background and marks the records it names under the slider (N / Shift+N step through
    // them). findText() says how it went: how many records match, or rv8rec's message.
    void find(const QString& expression);
    bool finding() const { return find_ && find_->state() != QProcess::NotRunning; }
    const RecordMarks& marks() const { return *marks_; }
    QString findText() const { return findText_; }
    // The trend strip (T): one measurement of every record, from `rv8rec measure` run on the
    // open file in the background (again for the records added while a file grows). `column`
    // names one of its columns ("ch1_vpp_v").
    void showTrend(bool shown);
    void setTrendColumn(const QString& column);
    bool measuringTrend() const { return measure_ && measure_->state() != QProcess::NotRunning; }
    const TrendStrip& trend() const { return *trend_; }

  protected:
    void dragEnterEvent(class QDragEnterEvent* event) override;
    void dropEvent(class QDropEvent* event) override;

  private:
    void buildWidgets();
    void buildActions();
    QAction* addAction(QMenu* menu, const QString& name, const QString& text,
                       const QKeySequence& key, void (ViewerWindow::*slot)());
    // Navigation (ViewerNavigation.cpp).
    void step(int64_t by);
    void first();
    void last();
    void previous() { step(-1); }
    void next() { step(1); }
    void back10() { step(-10); }
    void forward10() { step(10); }
    void goToDialog();
    void togglePlay();
    void playNext();
    void toggleFollow();
    void sourceChanged();
    void sliderMoved(int value);
    bool load(int64_t k);
    // The view (ViewerWindow.cpp).
    void refresh();
    void timeChanged();
    void fit();
    void zoomIn();
    void zoomOut();
    void zoomBy(double factor);
    void toggleSpectrum();
    void toggleChannel1();
    void toggleChannel2();
    void toggleMeasureWindow();
    void toggleCursors();
    void clearCursors();
    void defaultRanges();
    void updateTimeBar();
    // Finding records (ViewerFind.cpp).
    void findDialog();
    void nextMark();
    void previousMark();
    void findEnded(int exitCode, QProcess::ExitStatus status);
    void clearFind();
    void toggleTrend();
    void measureTrend();
    void trendMeasured(int exitCode, QProcess::ExitStatus status);
    void showTrendColumn();
    // Files (ViewerFiles.cpp).
    static QSettings settings();  // the viewer's own: the last folder
    void openDialog();
    void exportDialog();
    void saveDialog();
    void copyChart();
    void showHelp();
    void quit() { close(); }
    // The panels (ViewerPanels.cpp).
    void updateBanner();
    void updateInfo();
    void updateStatus();
    void setBanner(const QString& text, bool error);
    void setDetails(const std::vector<std::pair<QString, QString>>& rows);
    QImage chartPicture();

    RecordSource* source_;
    Kurvo* chart_;
    RecordView* view_;
    ChartInput* input_;
    Cursors cursors_;
    RecordingRecord record_;
    RecordingRecord next_;  // read into first, so a failed read leaves record_ whole
    int64_t current_ = -1;  // the record shown, -1 none
    uint64_t count_ = 0;    // records offered
    QString openError_;     // why the last file could not be opened
    QString readError_;     // why the record asked for could not be read
    QLabel* banner_;
    QLabel* title_;
    QLabel* time_;
    QWidget* details_;
    QGridLayout* detailRows_;
    std::vector<std::pair<QLabel*, QLabel*>> detailLabels_;  // label, value per row
    QLabel* hint_;
    QLabel* progress_;
    QLabel* status_;
    QLabel* recordLabel_;
    QScrollBar* timeBar_;
    QSlider* slider_;
    RecordMarks* marks_;
    std::unique_ptr<QProcess> find_;
    QString findExpression_, findText_;
    TrendStrip* trend_;
    QComboBox* trendColumn_;
    std::unique_ptr<QProcess> measure_;
    TrendTable trendTable_;
    bool trendFailed_ = false;  // rv8rec measure failed on this file: not tried again
    QTimer play_;
    QTimer followLater_;      // shows the newest record when following was waiting
    QElapsedTimer followed_;  // since the newest record was last shown by following
    bool playing_ = false;    // as fast as they render: stepping from the event loop
    bool updatingBars_ = false;
};

}  // namespace rv8::viewer
