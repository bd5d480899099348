#include "logging/WriteVelmarFileII.h"

#include <cerrno>
#include <chrono>
#include <vector>

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include "logging/DurableFile.h"
#include "logging/RecordingFile.h"
#include "logging/RecordingPath.h"

namespace rv8 {

namespace {

using namespace recfile;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QString ErrnoQText(int err) {
    return QString::fromStdString(ErrnoText(err));
}

}  // namespace

struct WriteVelmarFileII::Impl {
    // Settings, taken by OpenFile (the sample rate also by each record).
    int16_t channels = 2;
    QString path = QStringLiteral("C:\\Sample.cvx");
    double sampleRate = 0.0;
    std::vector<ChannelRange> ranges;  // by channel index; unset channels stay 0 V .. 0 V

    // The record being assembled.
    QByteArray comment;  // UTF-8, already cut to kMaxCommentBytes
    int32_t eventMark = 0;

    // The open file.
    int fd = -1;
    QString openPath;  // the name the open file (or the failed attempt) was made under
    int fileChannels = 0;
    uint32_t nextNumber = 0;
    uint64_t goodSize = 0;  // bytes up to the end of the last complete record
    BackgroundSync syncer;
    QString error;

    // Record buffer, grown as needed and reused: no allocation per record once warm.
    std::unique_ptr<uint8_t[]> buf;
    std::size_t bufCapacity = 0;

    void fail(const QString& what, int err) {
        error = QStringLiteral("%1 \"%2\": %3").arg(what, openPath, ErrnoQText(err));
    }

    // Cuts the file back to its last complete record and closes it after a failed write.
    void abandon(const QString& what, int err) {
        syncer.stop();
        fail(what, err);
        if (const int cutErr = CutBack(fd, goodSize); cutErr != 0) {
            error += QStringLiteral("; cutting it back to the last complete record failed: %1")
                         .arg(ErrnoQText(cutErr));
        }
        ::close(fd);
        fd = -1;
    }
};

WriteVelmarFileII::WriteVelmarFileII() : d_(std::make_unique<Impl>()) {}

WriteVelmarFileII::~WriteVelmarFileII() {
    CloseFile();
}

void WriteVelmarFileII::ChannelCount(int16_t channels) {
    d_->channels = channels;
}

void WriteVelmarFileII::FileName(const QString& path) {
    d_->path = path;
}

void WriteVelmarFileII::SampleRate(double hertz) {
    d_->sampleRate = hertz;
}

void WriteVelmarFileII::SetChannelRange(double upper, double lower, int16_t channel) {
    if (channel < 0) return;
    const std::size_t c = static_cast<std::size_t>(channel);
    if (d_->ranges.size() <= c) d_->ranges.resize(c + 1);
    d_->ranges[c] = ChannelRange{upper, lower};
}

bool WriteVelmarFileII::OpenFile() {
    Impl& d = *d_;
    if (d.fd >= 0) {
        d.error = QStringLiteral("Cannot create \"%1\": a file is already open").arg(d.path);
        return false;
    }
    if (d.channels < 1) {
        d.error = QStringLiteral("Cannot create \"%1\": the channel count %2 is not 1 or more")
                      .arg(d.path)
                      .arg(d.channels);
        return false;
    }
    if (d.path.isEmpty()) {
        d.error = QStringLiteral("Cannot create a file: the file name is empty");
        return false;
    }
    const QByteArray name = QFile::encodeName(LocalRecordingPath(d.path));
    if (name.contains('\0')) {
        d.error =
            QStringLiteral("Cannot create \"%1\": the name contains a NUL character").arg(d.path);
        return false;
    }
    d.openPath = d.path;
    IgnoreFileSizeSignalOnce();
    // O_EXCL: the file is created here or not at all, even if it appeared after the window
    // looked for it.
    const int fd = CreateExclusive(name.constData());
    if (fd < 0) {
        d.fail(QStringLiteral("Cannot create"), errno);
        return false;
    }

    RecordingHeader h;
    h.channelCount = static_cast<uint16_t>(d.channels);
    h.sampleFormat = kSampleFormatInt16;
    h.sampleRate = d.sampleRate;
    h.ranges = d.ranges;
    h.ranges.resize(h.channelCount);
    h.creationTimeUs = NowUs();
    const std::vector<uint8_t> header = EncodeRecordingHeader(h);
    int err = WriteAll(fd, header.data(), header.size());
    if (err == 0) err = SyncData(fd);
    if (err != 0) {
        // Nothing of value is in the file yet; it was created by us, so remove it again.
        d.fail(QStringLiteral("Cannot write the header of"), err);
        ::close(fd);
        ::unlink(name.constData());
        return false;
    }
    // Make the new name itself survive a power loss.
    const QByteArray folder = QFile::encodeName(QFileInfo(d.path).absolutePath());
    SyncFolder(folder.constData());

    d.fd = fd;
    d.fileChannels = d.channels;
    d.nextNumber = 0;
    d.goodSize = header.size();
    d.syncer.start(fd);
    d.comment.clear();
    d.eventMark = 0;
    d.error.clear();
    return true;
}

void WriteVelmarFileII::AddComment(const QString& comment) {
    QByteArray utf8 = comment.toUtf8();
    const std::size_t keep =
        Utf8CutLength(utf8.constData(), static_cast<std::size_t>(utf8.size()), kMaxCommentBytes);
    utf8.truncate(static_cast<qsizetype>(keep));
    d_->comment = std::move(utf8);
}

void WriteVelmarFileII::AddEventMark(int32_t mark) {
    d_->eventMark = mark;
}

bool WriteVelmarFileII::WriteBlock(const int16_t* samples, int32_t frames) {
    Impl& d = *d_;
    if (d.fd < 0) {
        // Keep the reason the file is not open (a failed OpenFile or write): the window keeps
        // calling WriteBlock after such a failure, and that first reason is the useful one.
        if (d.error.isEmpty()) d.error = QStringLiteral("Cannot write a record: no file is open");
        return false;
    }
    if (frames < 0 || (frames > 0 && samples == nullptr)) {
        d.error =
            QStringLiteral("Cannot write a record to \"%1\": %2")
                .arg(d.openPath, frames < 0 ? QStringLiteral("negative frame count %1").arg(frames)
                                            : QStringLiteral("no samples given"));
        return false;
    }
    const std::size_t commentBytes = static_cast<std::size_t>(d.comment.size());
    const std::size_t total = static_cast<std::size_t>(RecordSize(
        commentBytes, static_cast<uint64_t>(frames), static_cast<uint64_t>(d.fileChannels)));
    if (total > d.bufCapacity) {
        d.buf.reset(new uint8_t[total]);
        d.bufCapacity = total;
    }
    uint8_t* p = d.buf.get();
    EncodeRecord(p, RecordFields{d.nextNumber, NowUs(), d.sampleRate, d.eventMark},
                 d.comment.constData(), commentBytes, samples, static_cast<uint32_t>(frames),
                 static_cast<uint16_t>(d.fileChannels));

    if (const int err = WriteAll(d.fd, p, total); err != 0) {
        d.abandon(QStringLiteral("Cannot write a record to"), err);
        return false;
    }
    if (const int err = d.syncer.error(); err != 0) {
        // The kernel may have dropped written pages: the file is no longer trustworthy
        // beyond what is on disk, so end the recording here.
        d.abandon(QStringLiteral("Cannot save to disk"), err);
        return false;
    }
    d.goodSize += total;
    ++d.nextNumber;
    d.comment.clear();
    d.eventMark = 0;
    return true;
}

void WriteVelmarFileII::CloseFile() {
    Impl& d = *d_;
    if (d.fd < 0) return;
    d.syncer.stop();
    if (const int err = SyncData(d.fd); err != 0) d.fail(QStringLiteral("Cannot save"), err);
    if (::close(d.fd) != 0 && errno != EINTR) d.fail(QStringLiteral("Cannot close"), errno);
    d.fd = -1;
}

bool WriteVelmarFileII::isOpen() const {
    return d_->fd >= 0;
}

QString WriteVelmarFileII::fileName() const {
    return d_->path;
}

QString WriteVelmarFileII::errorString() const {
    return d_->error;
}

}  // namespace rv8
