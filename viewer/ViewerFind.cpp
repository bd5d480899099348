// Finding records by their measurements: rv8rec find, run on the open file in the background
// (the window stays usable while it reads the whole file), its list of records marked under the
// slider.
#include <QAction>
#include <QComboBox>
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

namespace rv8::viewer {

void ViewerWindow::toggleTrend() {
    showTrend(!trend_->isVisible());
}

void ViewerWindow::showTrend(bool shown) {
    action(QStringLiteral("trend"))->setChecked(shown);
    trend_->setVisible(shown);
    trendColumn_->setVisible(shown);
    if (shown && source_->isOpen() && count_ > trendTable_.rows.size()) measureTrend();
}

void ViewerWindow::setTrendColumn(const QString& column) {
    const int i = trendColumn_->findData(column);
    if (i >= 0) trendColumn_->setCurrentIndex(i);
}

void ViewerWindow::measureTrend() {
    if (!source_->isOpen() || measuringTrend() || trendFailed_) return;
    measure_ = std::make_unique<QProcess>();
    connect(measure_.get(), &QProcess::finished, this, &ViewerWindow::trendMeasured);
    QStringList args{QStringLiteral("measure"), source_->path()};
    // Only the records not measured yet (a file that grows while it is followed).
    if (const std::size_t known = trendTable_.rows.size(); known > 0)
        args << QStringLiteral("--records") << QStringLiteral("%1-4294967295").arg(known);
    measure_->setProgram(Rv8recProgram());
    measure_->setArguments(args);
    measure_->start();
}

void ViewerWindow::trendMeasured(int exitCode, QProcess::ExitStatus status) {
    const QString out = QString::fromUtf8(measure_->readAllStandardOutput());
    // 0, or 1 for the intact records before a damaged tail (which the banner names).
    if (status != QProcess::NormalExit || exitCode > 1 || !trendTable_.addCsv(out)) {
        trendFailed_ = true;
        trend_->setValues({}, QStringLiteral("rv8rec measure failed"));
        return;
    }
    if (trendColumn_->count() == 0) {
        const QString keep = QStringLiteral("ch1_vpp_v");
        for (const QString& c : trendTable_.columns) {
            // "ch1_freq_hz" -> "ch1 freq (hz)", "ch1_duty" -> "ch1 duty".
            QStringList words = c.split(QLatin1Char('_'));
            QString unit;
            if (words.size() > 2 &&
                (words.back() == QLatin1String("hz") || words.back() == QLatin1String("s") ||
                 words.back() == QLatin1String("v")))
                unit = QStringLiteral(" (%1)").arg(
                    words.takeLast() == QLatin1String("hz") ? QStringLiteral("Hz")
                    : c.endsWith(QLatin1String("_s"))       ? QStringLiteral("s")
                                                            : QStringLiteral("V"));
            trendColumn_->addItem(words.join(QLatin1Char(' ')) + unit, c);
        }
        setTrendColumn(keep);
    }
    showTrendColumn();
    // Records added meanwhile.
    if (trend_->isVisible() && count_ > trendTable_.rows.size()) measureTrend();
}

void ViewerWindow::showTrendColumn() {
    const int c =
        static_cast<int>(trendTable_.columns.indexOf(trendColumn_->currentData().toString()));
    if (c < 0) return;
    std::vector<double> values(trendTable_.rows.size());
    for (std::size_t r = 0; r < values.size(); ++r)
        values[r] = trendTable_.rows[r][static_cast<std::size_t>(c)];
    trend_->setValues(std::move(values), trendColumn_->currentText());
}

}  // namespace rv8::viewer
