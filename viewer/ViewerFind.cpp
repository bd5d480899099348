// Finding records by their measurements: rv8rec find, run on the open file in the background
// (the window stays usable while it reads the whole file), its list of records marked under the
// slider.
#include <QAction>
#include <QInputDialog>
#include <QLabel>

#include "viewer/ExportJob.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {

void ViewerWindow::findDialog() {
    if (!source_->isOpen()) return;
    bool ok = false;
    const QString expression = QInputDialog::getText(
        this, QStringLiteral("Find records"),
        QStringLiteral("Records whose measurements match (for example: ch1.vpp > 2 and "
                       "ch1.freq < 990;\nch1/ch2 . freq period vpp min max mean rms duty rise "
                       "fall over_range measured, record, rate, event):"),
        QLineEdit::Normal, findExpression_, &ok);
    if (ok && !expression.trimmed().isEmpty()) find(expression.trimmed());
}

void ViewerWindow::find(const QString& expression) {
    if (!source_->isOpen()) return;
    if (find_) find_->disconnect(this);
    find_ = std::make_unique<QProcess>();
    findExpression_ = expression;
    findText_ = QStringLiteral("Finding the records where %1 ...").arg(expression);
    updateInfo();
    connect(find_.get(), &QProcess::finished, this, &ViewerWindow::findEnded);
    find_->setProgram(Rv8recProgram());
    find_->setArguments(
        {QStringLiteral("find"), source_->path(), QStringLiteral("--where"), expression});
    find_->start();
}

void ViewerWindow::findEnded(int exitCode, QProcess::ExitStatus status) {
    const QString out = QString::fromUtf8(find_->readAllStandardOutput());
    QString err = QString::fromUtf8(find_->readAllStandardError()).trimmed();
    RecordRuns runs;
    // 0: done; 1: done on the intact records before a damaged tail (the banner names it).
    if (status == QProcess::NormalExit && (exitCode == 0 || exitCode == 1) &&
        ParseRecordRuns(out, runs)) {
        marks_->setRuns(runs);
        findText_ =
            QStringLiteral("%1 record(s) where %2%3")
                .arg(marks_->marked())
                .arg(findExpression_, runs.empty() ? QString() : QStringLiteral(" (N: the next)"));
    } else {
        marks_->setRuns({});
        if (err.isEmpty()) err = find_->errorString();
        findText_ = QStringLiteral("Find failed: ") + err.remove(QStringLiteral("rv8rec: "));
    }
    updateInfo();
}

void ViewerWindow::clearFind() {
    if (find_) find_->disconnect(this);
    find_.reset();
    marks_->setRuns({});
    findText_.clear();
}

void ViewerWindow::nextMark() {
    if (const int64_t k = marks_->nextAfter(current_); k >= 0) goTo(k);
}

void ViewerWindow::previousMark() {
    if (const int64_t k = marks_->previousBefore(current_); k >= 0) goTo(k);
}

}  // namespace rv8::viewer
