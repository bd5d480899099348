#include "logging/WriteVelmarFileII.h"

#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include "logging/Crc32.h"
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

// `name` as an absolute path, taken as the system would read it (no lexical cleaning: a
// ".." after a symbolic link means what the kernel makes of it).
std::string AbsoluteName(const QByteArray& name) {
    if (name.startsWith('/')) return name.toStdString();
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return name.toStdString();
    return std::string(cwd) + "/" + name.toStdString();
}

// What the user is told when the file changed under the writer.
QString FateText(FileFate fate, const QString& path, uint64_t size, uint64_t written) {
    switch (fate) {
        case FileFate::Deleted:
            return QStringLiteral(
                       "\"%1\" was deleted while it was recording (the file or its folder was "
                       "removed); the records written to it are lost")
                .arg(path);
        case FileFate::Moved:
            return QStringLiteral(
                       "\"%1\" was moved or renamed while it was recording: the name no longer "
                       "leads to it; the records written so far are in the file under its new "
                       "name")
                .arg(path);
        case FileFate::Replaced:
            return QStringLiteral(
                       "\"%1\" was replaced by another file while it was recording; that file "
                       "was left untouched")
                .arg(path);
        case FileFate::Shortened:
            return QStringLiteral(
                       "\"%1\" was shortened by another program (to %2 of the %3 bytes "
                       "written); the records beyond that are lost")
                .arg(path)
                .arg(size)
                .arg(written);
        case FileFate::Lengthened:
            return QStringLiteral(
                       "\"%1\" was changed by another program (%2 bytes were added after its "
                       "last record); it was cut back to its last complete record")
                .arg(path)
                .arg(size - written);
        case FileFate::Intact:
            break;
    }
    return {};
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
    std::optional<Acquisition> acquisition;

    void startRecord() {
        comment.clear();
        eventMark = 0;
        acquisition.reset();
    }

    // The open file.
    int fd = -1;
    QString openPath;  // the name the open file (or the failed attempt) was made under
    int fileChannels = 0;
    uint32_t nextNumber = 0;
    // Bytes up to the end of the last complete record; the background check reads it.
    std::atomic<uint64_t> goodSize{0};
    std::string checkName;  // the open file's name, absolute, for the checks
    FileIdentity identity;
    BackgroundSync syncer;
    QString error;

    // What the file must still hold where the writer put it: the header, and the CRC that ends
    // the last record. A file grown past its last record is only cut back when both are still
    // there; otherwise someone wrote a file of their own over it (in place) and it is theirs.
    std::vector<uint8_t> header;
    std::array<uint8_t, kRecordCrcBytes> lastCrc{};

    bool ownsContent() const {
        std::vector<uint8_t> now(header.size());
        if (::pread(fd, now.data(), now.size(), 0) != static_cast<ssize_t>(now.size()) ||
            now != header) {
            return false;
        }
        if (goodSize <= header.size()) return true;
        std::array<uint8_t, kRecordCrcBytes> crc{};
        return ::pread(fd, crc.data(), crc.size(), static_cast<off_t>(goodSize - crc.size())) ==
                   static_cast<ssize_t>(crc.size()) &&
               crc == lastCrc;
    }

    // Ends the recording of a file found longer than the records written: cut back to its last
    // complete record when it is still the writer's file (bytes were appended), left as found
    // when someone wrote another file over it. `extra` bytes of the writer's own (a record just
    // appended to the other file) are taken out again.
    void loseLonger(uint64_t size, uint64_t extra) {
        if (ownsContent()) {
            lose(FileFate::Lengthened, size, goodSize.load());
        } else {
            lose(FileFate::Replaced, size,
                 extra > 0 ? std::optional<uint64_t>(size) : std::nullopt);
        }
    }

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

    // Ends the recording of a file that another program deleted, moved, replaced or changed.
    // `size` is the file's size as found; `cutTo` the size to cut it back to, if any: nothing
    // is cut for a file whose bytes are no longer the writer's to keep.
    void lose(FileFate fate, uint64_t size, std::optional<uint64_t> cutTo) {
        syncer.stop();
        error = FateText(fate, openPath, size, goodSize);
        if (cutTo) {
            if (const int cutErr = CutBack(fd, *cutTo); cutErr != 0) {
                error += QStringLiteral("; cutting it back failed: %1").arg(ErrnoQText(cutErr));
            }
        } else {
            SyncData(fd);  // a moved file keeps its records
        }
        ::close(fd);
        fd = -1;
    }

    // Ends the recording when the background thread found a failed sync or a changed file;
    // returns whether the file is still sound.
    bool takeBackgroundFinding() {
        if (const int err = syncer.error(); err != 0) {
            // The kernel may have dropped written pages: the file is no longer trustworthy
            // beyond what is on disk, so end the recording here.
            abandon(QStringLiteral("Cannot save to disk"), err);
            return false;
        }
        if (const FileFate fate = syncer.fate(); fate != FileFate::Intact) {
            lose(fate, syncer.sizeSeen(), std::nullopt);
            return false;
        }
        return true;
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
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(name)).absolutePath());
    SyncFolder(folder.constData());

    d.fd = fd;
    d.header = header;
    d.fileChannels = d.channels;
    d.nextNumber = 0;
    d.goodSize = header.size();
    d.checkName = AbsoluteName(name);
    if (!IdentityOf(fd, d.identity)) d.identity = {};
    d.syncer.start(fd, d.checkName, d.identity, &d.goodSize);
    d.startRecord();
    d.error.clear();
    return true;
}

void WriteVelmarFileII::AddAcquisition(const Acquisition& acquisition) {
    d_->acquisition = acquisition;
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
    // A failed sync or a changed file found in the background ends the recording before this
    // record is written.
    if (!d.takeBackgroundFinding()) return false;
    const std::size_t commentBytes = static_cast<std::size_t>(d.comment.size());
    const uint16_t channels = static_cast<uint16_t>(d.fileChannels);
    const std::size_t total =
        static_cast<std::size_t>(RecordSize(commentBytes, static_cast<uint64_t>(frames), channels));
    RecordFields fields;
    fields.number = d.nextNumber;
    fields.writtenUs = NowUs();
    fields.timeUs = fields.writtenUs;
    fields.sampleRate = d.sampleRate;
    fields.eventMark = d.eventMark;
    if (d.acquisition) {
        fields.acquisition = *d.acquisition;
        fields.sampleRate = d.acquisition->sampleFrequency;
        if (d.acquisition->endTimeUs != 0) fields.timeUs = d.acquisition->endTimeUs;
    }
    int err = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The samples are stored as they lie in memory: one gathered write of the record's head,
        // the caller's samples and the CRC, with no copy of the samples on the way.
        const std::size_t headBytes = RecordHeadSize(channels) + commentBytes;
        if (headBytes + kRecordCrcBytes > d.bufCapacity) {
            d.buf.reset(new uint8_t[headBytes + kRecordCrcBytes]);
            d.bufCapacity = headBytes + kRecordCrcBytes;
        }
        uint8_t* p = d.buf.get();
        EncodeRecordHead(p, fields, d.comment.constData(), commentBytes,
                         static_cast<uint32_t>(frames), channels);
        const std::size_t sampleBytes = total - headBytes - kRecordCrcBytes;
        PutU32(p + headBytes, Crc32(samples, sampleBytes, Crc32(p, headBytes)));
        iovec pieces[3] = {{p, headBytes},
                           {const_cast<int16_t*>(samples), sampleBytes},
                           {p + headBytes, kRecordCrcBytes}};
        err = WriteAllGathered(d.fd, pieces, 3);
    } else {
        if (total > d.bufCapacity) {
            d.buf.reset(new uint8_t[total]);
            d.bufCapacity = total;
        }
        EncodeRecord(d.buf.get(), fields, d.comment.constData(), commentBytes, samples,
                     static_cast<uint32_t>(frames), channels);
        err = WriteAll(d.fd, d.buf.get(), total);
    }
    if (err != 0) {
        d.abandon(QStringLiteral("Cannot write a record to"), err);
        return false;
    }
    // The file is opened for appending, so the record went to the file's end as it was: an
    // end other than the expected one means another program shortened or lengthened the file.
    const uint64_t expected = d.goodSize + total;
    if (const off_t end = ::lseek(d.fd, 0, SEEK_CUR);
        end >= 0 && static_cast<uint64_t>(end) != expected) {
        const uint64_t before = static_cast<uint64_t>(end) - total;  // size met by the record
        if (before < d.goodSize) {
            d.lose(FileFate::Shortened, before, before);  // takes the record out again
        } else {
            d.loseLonger(before, total);
        }
        return false;
    }
    d.goodSize = expected;
    const uint8_t* crc = d.buf.get() + (std::endian::native == std::endian::little
                                            ? RecordHeadSize(channels) + commentBytes
                                            : total - kRecordCrcBytes);
    std::copy(crc, crc + kRecordCrcBytes, d.lastCrc.begin());
    ++d.nextNumber;
    d.startRecord();
    return true;
}

bool WriteVelmarFileII::CheckOpenFile() {
    Impl& d = *d_;
    return d.fd < 0 || d.takeBackgroundFinding();
}

bool WriteVelmarFileII::CloseFile() {
    Impl& d = *d_;
    if (d.fd < 0) return true;
    if (!d.takeBackgroundFinding()) return false;
    d.syncer.stop();
    uint64_t size = 0;
    const FileFate fate = CheckFile(d.fd, d.checkName.c_str(), d.identity, d.goodSize, false, size);
    if (fate == FileFate::Lengthened) {
        d.loseLonger(size, 0);
        return false;
    }
    if (fate != FileFate::Intact) {
        d.lose(fate, size, std::nullopt);
        return false;
    }
    bool ok = true;
    if (const int err = SyncData(d.fd); err != 0) {
        d.fail(QStringLiteral("Cannot save"), err);
        ok = false;
    }
    if (::close(d.fd) != 0 && errno != EINTR) {
        d.fail(QStringLiteral("Cannot close"), errno);
        ok = false;
    }
    d.fd = -1;
    return ok;
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
