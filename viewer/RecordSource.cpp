#include "viewer/RecordSource.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

namespace rv8::viewer {

RecordSource::RecordSource(QObject* parent) : QObject(parent) {}

RecordSource::~RecordSource() {
    index_.reset();  // its thread ends before anything of this object goes
}

bool RecordSource::open(const QString& path, QString& error) {
    std::string why;
    bool ioError = false;
    auto index = RecordingIndex::Open(QFile::encodeName(path).toStdString(), why, &ioError);
    if (!index) {
        const QString reason = QString::fromStdString(why);
        // The readers' words name the file where the file system refused it; otherwise say
        // which file is not a recording.
        error = ioError ? reason
                        : QStringLiteral("%1 is not a recording that can be read: %2")
                              .arg(QFileInfo(path).fileName(), reason);
        return false;
    }
    index_ = std::move(index);
    path_ = path;
    // A new flag per file: a signal still on its way from the old file's thread finds its own.
    queued_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<RecordSource> self(this);
    auto queued = queued_;
    index_->startBackground([self, queued] {
        if (queued->exchange(true)) return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, queued] {
                queued->store(false);
                if (self) emit self->changed();
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace rv8::viewer
