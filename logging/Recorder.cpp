#include "logging/Recorder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "core/Numbers.h"
#include "core/Samples.h"
#include "logging/RecordingPath.h"

namespace rv8 {

namespace {
const QString kLogTitle = QStringLiteral("Log file");
constexpr int kWatchIntervalMs = 100;
}  // namespace

QString Recorder::CapacityText(int number) {
    return QString::number(number) + QLatin1Char('/') + QString::number(kCapacity);
}

Recorder::Recorder(RecorderControls controls, WriteVelmarFileII& writer, Messages& messages)
    : c_(controls), writer_(writer), messages_(messages) {
    watch_.setInterval(kWatchIntervalMs);
    QObject::connect(&watch_, &QTimer::timeout, [this] { Watch(); });
}

QString Recorder::FirstListedFile(const QString& pattern) {
    if (pattern.isEmpty()) return {};
    const QFileInfo info(pattern);
    const QString name = info.fileName();
    if (name.isEmpty()) return {};
    QDir dir = info.dir();
    if (!dir.exists()) return {};
    const bool wildcards = name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
    if (!wildcards) {
        const QFileInfo exact(dir, name);
        return exact.isFile() && !exact.isHidden() ? name : QString();
    }
    // Only * and ? are wildcards: every other character, brackets included, stands for itself.
    QString regex = QRegularExpression::escape(name);
    regex.replace(QStringLiteral("\\*"), QStringLiteral(".*"));
    regex.replace(QStringLiteral("\\?"), QStringLiteral("."));
    const QRegularExpression match(QRegularExpression::anchoredPattern(regex));
    for (const QString& file : dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (match.match(file).hasMatch()) return file;
    }
    return {};
}

void Recorder::Check1_Click() {
    if (c_.Check1.isChecked()) {
        StartSteps();
    } else {
        StopSteps();
    }
}

void Recorder::StartSteps() {
    // Any existing ordinary file that the listing finds counts as taken, however short its
    // name: starting on it would overwrite someone's data. The name is looked for where the
    // writer will create it (LocalRecordingPath); the box and the message keep it as typed.
    if (!FirstListedFile(LocalRecordingPath(c_.Text1.text())).isEmpty()) {
        messages_.show(kLogTitle,
                       c_.Text1.text() + QStringLiteral(" exists, please specify a new name"),
                       MessageIcon::None);
        c_.Check1.setChecked(false);
        return;
    }
    for (QPushButton* b : c_.steppers)
        b->setEnabled(false);
    LoggedRecordCount = 0;
    writer_.ChannelCount(2);
    writer_.SampleRate(TextToNumber(c_.SetSampleFreqTextBox.text()));
    writer_.FileName(c_.Text1.text());
    const double s1 = TextToNumber(c_.SetSenseCh1TextBox.text());
    writer_.SetChannelRange(s1, -s1, 0);
    const double s2 = TextToNumber(c_.SetSenseCh2TextBox.text());
    writer_.SetChannelRange(s2, -s2, 1);
    if (!writer_.OpenFile()) {
        // Answers the user's own click: shown modally.
        Fail(QStringLiteral("The recording could not be started.\n%1").arg(writer_.errorString()),
             true);
        return;
    }
    c_.eventcount.setText(CapacityText(0));
    ShowFull(false);
    watch_.start();
}

void Recorder::StopSteps() {
    watch_.stop();
    const bool wasOpen = writer_.isOpen();
    if (!writer_.CloseFile() && wasOpen) {
        messages_.notify(kLogTitle,
                         QStringLiteral("The recording was ended with a problem.\n%1")
                             .arg(writer_.errorString()),
                         MessageIcon::Warning);
    }
    for (QPushButton* b : c_.steppers)
        b->setEnabled(true);
    ShowFull(false);
}

bool Recorder::full() const {
    return writer_.isOpen() && LoggedRecordCount >= kCapacity;
}

void Recorder::ShowFull(bool full) {
    if (full) {
        c_.eventcount.setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
        c_.eventcount.setToolTip(
            QStringLiteral("The recording is full: %1 records, the most a file holds. No more "
                           "records are written; clear \"Log to Corvex file!\" to close it.")
                .arg(kCapacity));
    } else {
        c_.eventcount.setStyleSheet(QString());
        c_.eventcount.setToolTip(QString());
    }
}

void Recorder::Watch() {
    if (!writer_.isOpen()) {
        watch_.stop();
        return;
    }
    if (!writer_.CheckOpenFile()) {
        Fail(QStringLiteral("The recording was ended.\n%1").arg(writer_.errorString()));
    }
}

void Recorder::Fail(const QString& text, bool modal) {
    if (modal) {
        messages_.show(kLogTitle, text, MessageIcon::Warning);
    } else {
        messages_.notify(kLogTitle, text, MessageIcon::Warning);
    }
    if (c_.Check1.isChecked()) {
        c_.Check1.setChecked(false);  // runs the stop steps
    } else {
        StopSteps();
    }
}

void Recorder::LoggingStep(int16_t* block, int32_t frames, const Acquisition& acquisition) {
    // A ticked box without an open file (a refused name whose message is still up, or a
    // recording that failed) writes nothing.
    if (!c_.Check1.isChecked() || LoggedRecordCount >= kCapacity || !writer_.isOpen()) return;
    MaskLowBits(block, 2 * static_cast<std::size_t>(frames));
    const QString number = QString::number(LoggedRecordCount);
    writer_.AddAcquisition(acquisition);
    writer_.AddComment(c_.Text2.text() + QLatin1Char(' ') + number);
    writer_.AddEventMark(1);
    if (!writer_.WriteBlock(block, frames)) {
        Fail(QStringLiteral("The recording was ended: record %1 could not be written.\n%2")
                 .arg(number, writer_.errorString()));
        return;
    }
    c_.eventcount.setText(CapacityText(LoggedRecordCount));
    ++LoggedRecordCount;
    if (LoggedRecordCount >= kCapacity) ShowFull(true);
}

}  // namespace rv8
