#include "viewer/ExportJob.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

#include "logging/WriteVelmarFileII.h"

namespace rv8::viewer {

namespace {

constexpr int kTermWaitMs = 3000;  // for the child to end after SIGTERM, before SIGKILL

}  // namespace

QString Rv8recProgram() {
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/rv8rec");
    if (QFileInfo(beside).isExecutable()) return beside;
    const QString installed = QStringLiteral(RV8_INSTALL_BINDIR "/rv8rec");
    if (QFileInfo(installed).isExecutable()) return installed;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("rv8rec"));
    return onPath.isEmpty() ? beside : onPath;
}

bool WriteWindowRecording(const QString& path, const RecordingRecord& record,
                          const RecordingHeader& header, const TimeWindow& window, QString& error) {
    const int channels = header.channelCount;
    const int64_t frames = record.frames;
    if (window.count <= 0 || window.start < 0 || window.start + window.count > frames ||
        channels < 1) {
        error = QStringLiteral("no frames to export");
        return false;
    }
    WriteVelmarFileII w;
    w.ChannelCount(static_cast<int16_t>(channels));
    w.SampleRate(record.sampleRate);
    for (int c = 0; c < channels && c < static_cast<int>(header.ranges.size()); ++c)
        w.SetChannelRange(header.ranges[c].upper, header.ranges[c].lower, static_cast<int16_t>(c));
    w.FileName(path);
    if (!w.OpenFile()) {
        error = w.errorString();
        return false;
    }
    // The record's settings, for a record of the window's frames.
    Acquisition a = record.hasSettings ? record.acquisition : Acquisition{};
    a.sampleFrequency = record.sampleRate;
    const int64_t end = window.start + window.count;
    // The record's time is that of its last frame; the window ends earlier.
    const double fs = record.sampleRate;
    a.endTimeUs = record.timeUs;
    if (fs > 0 && std::isfinite(fs))
        a.endTimeUs -= static_cast<int64_t>(std::llround((frames - end) * 1e6 / fs));
    if (record.hasSettings) {
        const int64_t length = a.recordLength >= 0 ? a.recordLength : frames;
        const int64_t trigger = a.postSamples >= 0 ? length - a.postSamples - window.start : -1;
        a.recordLength = static_cast<int32_t>(window.count);
        a.postSamples = trigger >= 0 && trigger <= window.count
                            ? static_cast<int32_t>(window.count - trigger)
                            : -1;
    }
    w.AddAcquisition(a);
    w.AddComment(
        QString::fromUtf8(record.comment.data(), static_cast<qsizetype>(record.comment.size())) +
        QStringLiteral(" (record %1, frames %2 to %3)")
            .arg(record.number)
            .arg(window.start)
            .arg(end - 1));
    w.AddEventMark(record.eventMark);
    const bool written = w.WriteBlock(record.samples.data() + window.start * channels,
                                      static_cast<int32_t>(window.count));
    if (!written || !w.CloseFile()) {
        error = w.errorString();
        return false;
    }
    return true;
}

ExportJob::ExportJob(QObject* parent) : QObject(parent) {}

ExportJob::~ExportJob() {
    if (running()) {
        disconnect(process_.get(), nullptr, this, nullptr);
        process_->terminate();
        if (!process_->waitForFinished(kTermWaitMs)) {
            process_->kill();
            process_->waitForFinished(kTermWaitMs);
        }
        removeLeftovers();
    }
}

bool ExportJob::start(const ExportRequest& r, QString& error) {
    if (running()) {
        error = QStringLiteral("An export is running.");
        return false;
    }
    QString input = r.input;
    QString records = r.first == r.last ? QString::number(r.first)
                                        : QStringLiteral("%1-%2").arg(r.first).arg(r.last);
    temp_.reset();
    if (r.record != nullptr) {
        temp_ = std::make_unique<QTemporaryDir>();
        if (!temp_->isValid()) {
            error = QStringLiteral("Cannot make a temporary folder: %1").arg(temp_->errorString());
            return false;
        }
        input = temp_->filePath(QStringLiteral("window.cvx"));
        if (!WriteWindowRecording(input, *r.record, r.header, r.window, error)) return false;
        records = QStringLiteral("0");
    }
    output_ = QFileInfo(r.output).absoluteFilePath();
    outputExisted_ = QFileInfo::exists(output_);
    cancelled_ = false;
    messages_.clear();
    pending_.clear();
    process_ = std::make_unique<QProcess>();
    connect(process_.get(), &QProcess::readyReadStandardError, this, &ExportJob::readMessages);
    connect(process_.get(), &QProcess::finished, this, &ExportJob::ended);
    process_->setProgram(Rv8recProgram());
    process_->setArguments({QStringLiteral("export"), input, QStringLiteral("--records"), records,
                            QStringLiteral("--format"), r.format, QStringLiteral("-o"), output_,
                            QStringLiteral("--progress")});
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->start();
    if (!process_->waitForStarted()) {
        error =
            QStringLiteral("Cannot run %1: %2").arg(process_->program(), process_->errorString());
        process_.reset();
        return false;
    }
    pid_ = process_->processId();
    return true;
}

void ExportJob::cancel() {
    if (!running()) return;
    cancelled_ = true;
    process_->terminate();
    if (!process_->waitForFinished(kTermWaitMs)) process_->kill();
}

void ExportJob::readMessages() {
    pending_ += process_->readAllStandardError();
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(pending_.left(end));
        pending_.remove(0, end + 1);
        // "rv8rec: progress N/T"
        static const QString kProgress = QStringLiteral("rv8rec: progress ");
        if (line.startsWith(kProgress)) {
            const QStringList parts = line.mid(kProgress.size()).split(QLatin1Char('/'));
            emit progress(parts.value(0).toULongLong(), parts.value(1).toULongLong());
            continue;
        }
        messages_ += (messages_.isEmpty() ? QString() : QStringLiteral("\n")) + line;
    }
}

void ExportJob::removeLeftovers() {
    // rv8rec's temporary files of that process, beside OUT: ".rv8rec-PID-N-NAME" (and the
    // older ".NAME.rv8rec-PID-N").
    const QFileInfo out(output_);
    QDir dir = out.absoluteDir();
    const QString pid = QString::number(pid_);
    for (const QString& name :
         dir.entryList({QStringLiteral(".rv8rec-%1-*").arg(pid),
                        QStringLiteral(".%1.rv8rec-%2-*").arg(out.fileName(), pid)},
                       QDir::Files | QDir::Hidden | QDir::System))
        dir.remove(name);
    // An OUT that was not there before belongs to this export alone.
    if (!outputExisted_ && QFileInfo::exists(output_)) QFile::remove(output_);
}

void ExportJob::ended(int exitCode, QProcess::ExitStatus status) {
    readMessages();
    if (!pending_.isEmpty()) messages_ += QString::fromLocal8Bit(pending_);
    temp_.reset();
    if (cancelled_) {
        removeLeftovers();
        emit finished(Outcome::Cancelled, QStringLiteral("Cancelled; nothing was written."));
        return;
    }
    if (status != QProcess::NormalExit) {
        removeLeftovers();
        emit finished(Outcome::Failed, QStringLiteral("rv8rec ended unexpectedly.\n") + messages_);
        return;
    }
    // rv8rec's exit status: 0 done, 1 the intact records before a damage, 2 nothing written.
    const Outcome outcome = exitCode == 0   ? Outcome::Done
                            : exitCode == 1 ? Outcome::Partial
                                            : Outcome::Failed;
    emit finished(outcome, messages_);
}

}  // namespace rv8::viewer
