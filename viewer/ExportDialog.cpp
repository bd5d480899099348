#include "viewer/ExportDialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace rv8::viewer {

namespace {

struct Format {
    const char* name;  // rv8rec's --format
    const char* text;
    const char* extension;
};

constexpr Format kFormats[] = {
    {"csv", "CSV, one row per frame (spreadsheets)", "csv"},
    {"sr", "sigrok session (PulseView, sigrok-cli)", "sr"},
    {"wav", "WAV audio, 16-bit samples as recorded", "wav"},
    {"flac", "FLAC audio, lossless", "flac"},
    {"h5", "HDF5, the settings as attributes", "h5"},
};

}  // namespace

ExportDialog::ExportDialog(RecordSource& source, const RecordingRecord& shown,
                           const TimeWindow& window, uint64_t count, QWidget* parent)
    : QDialog(parent), source_(source), shown_(shown), window_(window) {
    setWindowTitle(QStringLiteral("Export"));
    auto* layout = new QVBoxLayout(this);
    scope_ = new QButtonGroup(this);
    auto* thisRecord = new QRadioButton(QStringLiteral("Record %1").arg(shown.number), this);
    auto* range = new QRadioButton(QStringLiteral("Records from"), this);
    auto* visible = new QRadioButton(QStringLiteral("The visible window of record %1: frames "
                                                    "%2 to %3")
                                         .arg(shown.number)
                                         .arg(window.start)
                                         .arg(window.start + window.count - 1),
                                     this);
    scope_->addButton(thisRecord, ThisRecord);
    scope_->addButton(range, Range);
    scope_->addButton(visible, Window);
    thisRecord->setChecked(true);
    layout->addWidget(thisRecord);
    auto* rangeRow = new QHBoxLayout();
    first_ = new QSpinBox(this);
    last_ = new QSpinBox(this);
    for (QSpinBox* box : {first_, last_}) {
        box->setRange(0, static_cast<int>(std::max<uint64_t>(count, 1) - 1));
        box->setValue(static_cast<int>(shown.number));
    }
    last_->setValue(static_cast<int>(std::max<uint64_t>(count, 1) - 1));
    rangeRow->addWidget(range);
    rangeRow->addWidget(first_);
    rangeRow->addWidget(new QLabel(QStringLiteral("to"), this));
    rangeRow->addWidget(last_);
    rangeRow->addStretch(1);
    layout->addLayout(rangeRow);
    layout->addWidget(visible);

    auto* form = new QFormLayout();
    format_ = new QComboBox(this);
    for (const Format& f : kFormats)
        format_->addItem(QString::fromLatin1(f.text), QString::fromLatin1(f.name));
    form->addRow(QStringLiteral("Format"), format_);
    auto* fileRow = new QHBoxLayout();
    output_ = new QLineEdit(this);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    fileRow->addWidget(output_, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("File"), fileRow);
    layout->addLayout(form);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progress_);
    message_ = new QLabel(this);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox(this);
    export_ = buttons->addButton(QStringLiteral("Export"), QDialogButtonBox::AcceptRole);
    cancel_ = buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    const QFileInfo in(source.path());
    output_->setText(in.absolutePath() + QLatin1Char('/') + in.completeBaseName() +
                     QStringLiteral("-%1.csv").arg(shown.number));
    connect(format_, &QComboBox::currentIndexChanged, this, &ExportDialog::formatChanged);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::browse);
    connect(export_, &QPushButton::clicked, this, &ExportDialog::start);
    connect(cancel_, &QPushButton::clicked, this, &ExportDialog::reject);
    connect(first_, &QSpinBox::valueChanged, this, [range] { range->setChecked(true); });
    connect(last_, &QSpinBox::valueChanged, this, [range] { range->setChecked(true); });
    connect(&job_, &ExportJob::progress, this, [this](uint64_t done, uint64_t total) {
        progress_->setRange(0, static_cast<int>(std::max<uint64_t>(total, 1)));
        progress_->setValue(static_cast<int>(std::min(done, total)));
    });
    connect(&job_, &ExportJob::finished, this, &ExportDialog::finish);
}

void ExportDialog::formatChanged() {
    // The file's extension follows the format.
    const QString ext = QString::fromLatin1(kFormats[format_->currentIndex()].extension);
    QFileInfo out(output_->text());
    output_->setText(out.path() + QLatin1Char('/') + out.completeBaseName() + QLatin1Char('.') +
                     ext);
}

void ExportDialog::browse() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export to"), output_->text());
    if (!path.isEmpty()) output_->setText(path);
}

void ExportDialog::choose(Scope scope, uint64_t first, uint64_t last, const QString& format,
                          const QString& output) {
    first_->setValue(static_cast<int>(first));
    last_->setValue(static_cast<int>(last));
    scope_->button(scope)->setChecked(true);
    format_->setCurrentIndex(format_->findData(format));
    output_->setText(output);
}

void ExportDialog::start() {
    if (job_.running()) return;
    ExportRequest r;
    r.input = source_.path();
    r.format = format_->currentData().toString();
    r.output = output_->text();
    r.first = r.last = shown_.number;
    switch (scope_->checkedId()) {
        case Range:
            r.first = static_cast<uint64_t>(std::min(first_->value(), last_->value()));
            r.last = static_cast<uint64_t>(std::max(first_->value(), last_->value()));
            break;
        case Window:
            r.record = &shown_;
            r.header = source_.header();
            r.window = window_;
            break;
        default:
            break;
    }
    if (r.output.trimmed().isEmpty()) {
        message_->setText(QStringLiteral("Name the file to export to."));
        return;
    }
    QString error;
    done_ = false;
    progress_->setRange(0, static_cast<int>(r.last - r.first + 1));
    progress_->setValue(0);
    message_->setText(QStringLiteral("Exporting..."));
    if (!job_.start(r, error)) {
        message_->setText(error);
        return;
    }
    export_->setEnabled(false);
}

void ExportDialog::finish(ExportJob::Outcome outcome, const QString& message) {
    done_ = true;
    export_->setEnabled(true);
    switch (outcome) {
        case ExportJob::Outcome::Done:
            progress_->setValue(progress_->maximum());
            message_->setText(QStringLiteral("Exported to %1.%2")
                                  .arg(output_->text(), message.isEmpty()
                                                            ? QString()
                                                            : QLatin1Char('\n') + message));
            cancel_->setText(QStringLiteral("Close"));
            break;
        case ExportJob::Outcome::Partial:
            message_->setText(QStringLiteral("Exported the intact records only:\n") + message);
            cancel_->setText(QStringLiteral("Close"));
            break;
        case ExportJob::Outcome::Failed:
            message_->setText(QStringLiteral("The export failed:\n") + message);
            break;
        case ExportJob::Outcome::Cancelled:
            progress_->setValue(0);
            message_->setText(message);
            break;
    }
}

QString ExportDialog::message() const {
    return message_->text();
}

void ExportDialog::reject() {
    if (job_.running()) {
        job_.cancel();
        return;  // the dialog stays, saying that nothing was written
    }
    QDialog::reject();
}

}  // namespace rv8::viewer
