// RecordSource: the recording the viewer shows, as a Qt object. Opens it through the random-
// access index (logging/RecordingIndex.h), whose thread walks and checks the records in the
// background and looks for new ones while the file grows; each change reaches the window as one
// changed() signal on its own thread (changes that come quicker than the window takes them are
// merged into one).
#pragma once

#include <atomic>
#include <memory>

#include <QObject>
#include <QString>

#include "logging/RecordingIndex.h"

namespace rv8::viewer {

class RecordSource : public QObject {
    Q_OBJECT
  public:
    explicit RecordSource(QObject* parent = nullptr);
    ~RecordSource() override;

    // Opens `path` in place of the file open now. False (and the file open now kept) when it is
    // not a readable recording: `error` says why, naming the file.
    bool open(const QString& path, QString& error);
    bool isOpen() const { return index_ != nullptr; }
    QString path() const { return path_; }
    RecordingIndex* index() { return index_.get(); }
    const RecordingHeader& header() const { return index_->header(); }
    RecordingIndex::Status status() const { return index_->status(); }

  signals:
    void changed();

  private:
    std::unique_ptr<RecordingIndex> index_;
    QString path_;
    std::shared_ptr<std::atomic<bool>> queued_;  // a changed() is on its way
};

}  // namespace rv8::viewer
