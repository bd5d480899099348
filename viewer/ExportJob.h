// ExportJob: one export of the viewer, through the same exporters as `rv8rec export`: it runs
// rv8rec as a child process (`rv8rec export FILE --records A-B --format F -o OUT --progress`)
// and reports its progress. The visible window of a record is exported as a recording of its
// own: one record holding just those frames, with the record's settings, written into a
// temporary folder with the project's writer and exported from there.
//
// Cancel ends the child (SIGTERM, then SIGKILL) and leaves nothing behind: rv8rec builds its
// output under a temporary name and renames it into place only when complete; what a child that
// was killed left of those temporary files is removed here, and an OUT that did not exist
// before is removed if the child got that far.
#pragma once

#include <cstdint>
#include <memory>

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "logging/RecordingFile.h"
#include "viewer/TimeAxis.h"

namespace rv8::viewer {

struct ExportRequest {
    QString input;  // the recording
    uint64_t first = 0;
    uint64_t last = 0;  // records first..last, inclusive
    QString format;     // an rv8rec format name: csv, sr, wav, flac, h5
    QString output;
    // Set: the visible window of this record (frames window.start .. + window.count) instead.
    const RecordingRecord* record = nullptr;
    RecordingHeader header;
    TimeWindow window;
};

// The recording that holds the window of `record` as its one record (number 0): the frames
// shown, the record's settings with its record length the window's and the trigger point moved
// with it (unknown when outside), its time that of the window's last frame. False with `error`.
bool WriteWindowRecording(const QString& path, const RecordingRecord& record,
                          const RecordingHeader& header, const TimeWindow& window, QString& error);

// Where the viewer finds rv8rec: beside its own executable, then where the package installs it,
// then on the PATH.
QString Rv8recProgram();

class ExportJob : public QObject {
    Q_OBJECT
  public:
    enum class Outcome { Done, Partial, Failed, Cancelled };

    explicit ExportJob(QObject* parent = nullptr);
    ~ExportJob() override;  // cancels a running export

    // Starts the export; false (and `error`) when it could not be started.
    bool start(const ExportRequest& request, QString& error);
    bool running() const { return process_ && process_->state() != QProcess::NotRunning; }
    // Ends a running export; finished() follows with Cancelled.
    void cancel();

  signals:
    void progress(uint64_t done, uint64_t total);
    // `message`: what rv8rec said (its messages, or why it failed).
    void finished(rv8::viewer::ExportJob::Outcome outcome, const QString& message);

  private:
    void readMessages();
    void ended(int exitCode, QProcess::ExitStatus status);
    void removeLeftovers();

    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QTemporaryDir> temp_;
    QString output_;
    bool outputExisted_ = false;
    bool cancelled_ = false;
    qint64 pid_ = 0;
    QString messages_;
    QByteArray pending_;  // stderr not yet split into lines
};

}  // namespace rv8::viewer
