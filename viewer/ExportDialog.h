// The viewer's export dialog: the record shown, a range of records, or the visible window of
// the record shown, in one of rv8rec's formats (CSV, sigrok session, WAV, FLAC, HDF5), into a
// file the user names; a progress bar while it runs, and Cancel, which leaves nothing behind
// (viewer/ExportJob.h).
#pragma once

#include <QDialog>

#include "viewer/ExportJob.h"
#include "viewer/RecordSource.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace rv8::viewer {

class ExportDialog : public QDialog {
    Q_OBJECT
  public:
    enum Scope { ThisRecord = 0, Range = 1, Window = 2 };

    ExportDialog(RecordSource& source, const RecordingRecord& shown, const TimeWindow& window,
                 uint64_t count, QWidget* parent = nullptr);

    // What the dialog's controls choose, for tests: then start() as the Export button does.
    void choose(Scope scope, uint64_t first, uint64_t last, const QString& format,
                const QString& output);
    void start();
    ExportJob& job() { return job_; }
    QString message() const;
    bool exportEnded() const { return done_; }
    // Cancel (the button, Escape, closing the dialog): cancels a running export first.
    void reject() override;

  private:
    void browse();
    void finish(ExportJob::Outcome outcome, const QString& message);
    void formatChanged();

    RecordSource& source_;
    const RecordingRecord shown_;  // a copy: the window may move on meanwhile (following)
    TimeWindow window_;
    ExportJob job_;
    QButtonGroup* scope_;
    QSpinBox* first_;
    QSpinBox* last_;
    QComboBox* format_;
    QLineEdit* output_;
    QProgressBar* progress_;
    QLabel* message_;
    QPushButton* export_;
    QPushButton* cancel_;
    bool done_ = false;
};

}  // namespace rv8::viewer
