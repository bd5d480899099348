// The viewer's panels: the banner above the chart (a file that could not be opened, a damaged
// tail, a record that could not be read), the record's details beside it, the status line.
#include <QAction>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

#include "viewer/RecordInfo.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {

namespace {

const char* kHints =
    "Wheel: zoom  \u00B7  drag: move  \u00B7  Ctrl: vertical  \u00B7  Shift+drag: time cursors  "
    "\u00B7  Shift+right drag: level cursors  \u00B7  \u2190 \u2192 PgUp PgDn Home End: records  "
    "\u00B7  Space: play  \u00B7  L: follow  \u00B7  F1: help";

const char* kHelp =
    "<h3>Records</h3>"
    "<p>Left / Right: one record &nbsp; Page Up / Page Down: ten &nbsp; Home / End: first / "
    "last<br>Ctrl+G: go to a record &nbsp; the slider: any record<br>Ctrl+F: find records by "
    "their measurements (ch1.vpp &gt; 2 and ch1.freq &lt; 990), marked under the slider; N / "
    "Shift+N: the next / previous one<br>T: the trend of a measurement over the records (click: "
    "go to that record)<br>Space: play / pause (at "
    "the recorded pace, or as fast as they render: Go menu)<br>L: follow the newest record of "
    "a file that is still being written</p>"
    "<h3>Time axis</h3>"
    "<p>Wheel: zoom about the pointer &nbsp; drag: move &nbsp; + / -: zoom in / out &nbsp; F: "
    "the whole record<br>the scroll bar below the chart: move</p>"
    "<h3>Vertical</h3>"
    "<p>Ctrl+wheel: zoom &nbsp; Ctrl+drag: move (the channels chosen in View &gt; Vertical) "
    "&nbsp; D: full scale<br>In the spectrum view the wheel and a drag are vertical.</p>"
    "<h3>Cursors</h3>"
    "<p>Shift+drag: time cursors T1 and T2 (on samples; in the spectrum view on bins)<br>"
    "Shift+right drag: level cursors V1 and V2 &nbsp; a Shift+drag that starts on a cursor "
    "moves it<br>C: cursors on / off &nbsp; Esc: clear them</p>"
    "<h3>View</h3>"
    "<p>V: time / spectrum &nbsp; 1, 2: channels &nbsp; M: measure the visible window or the "
    "whole record</p>"
    "<h3>Files</h3>"
    "<p>Ctrl+O: open (or drop a file on the window) &nbsp; Ctrl+E: export &nbsp; Ctrl+S: save "
    "the chart (PNG, SVG) &nbsp; Ctrl+C: copy the chart</p>";

}  // namespace

void ViewerWindow::setBanner(const QString& text, bool error) {
    banner_->setVisible(!text.isEmpty());
    banner_->setText(text);
    banner_->setStyleSheet(error ? QStringLiteral("QLabel { background: #b21313; color: white; "
                                                  "padding: 6px; font-weight: bold; }")
                                 : QStringLiteral("QLabel { background: #f2c14e; color: black; "
                                                  "padding: 6px; font-weight: bold; }"));
}

QString ViewerWindow::bannerText() const {
    return banner_->isVisible() ? banner_->text() : QString();
}

QString ViewerWindow::titleText() const {
    return title_->text();
}

void ViewerWindow::setDetails(const std::vector<std::pair<QString, QString>>& rows) {
    while (detailLabels_.size() < rows.size()) {
        auto* label = new QLabel(details_);
        label->setStyleSheet(QStringLiteral("color: #666"));
        label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        auto* value = new QLabel(details_);
        value->setWordWrap(true);
        value->setTextFormat(Qt::PlainText);
        const int row = static_cast<int>(detailLabels_.size());
        detailRows_->addWidget(label, row, 0);
        detailRows_->addWidget(value, row, 1);
        detailLabels_.emplace_back(label, value);
    }
    for (std::size_t i = 0; i < detailLabels_.size(); ++i) {
        const bool shown = i < rows.size();
        // Unchanged texts cost nothing (QLabel keeps them).
        detailLabels_[i].first->setText(shown ? rows[i].first : QString());
        detailLabels_[i].second->setText(shown ? rows[i].second : QString());
        detailLabels_[i].first->setVisible(shown);
        detailLabels_[i].second->setVisible(shown);
    }
}

QString ViewerWindow::detailsText() const {
    QStringList lines;
    for (const auto& [label, value] : detailLabels_) {
        if (label->isVisibleTo(details_))
            lines << label->text() + QStringLiteral(": ") + value->text();
    }
    return lines.join(QLatin1Char('\n'));
}

QString ViewerWindow::statusText() const {
    return status_->text();
}

void ViewerWindow::updateBanner() {
    if (!openError_.isEmpty()) {
        setBanner(openError_, true);
        return;
    }
    if (source_->isOpen()) {
        const RecordingIndex::Status s = source_->status();
        if (s.damaged) {
            const QString name = QFileInfo(source_->path()).fileName();
            setBanner(QStringLiteral("%1 is damaged: %2. %3 intact record%4 before the damage "
                                     "%5 shown.")
                          .arg(name, QString::fromStdString(s.damage))
                          .arg(s.intact)
                          .arg(s.intact == 1 ? QString() : QStringLiteral("s"))
                          .arg(s.intact == 1 ? QStringLiteral("is") : QStringLiteral("are")),
                      !s.ioError);
            return;
        }
        if (!readError_.isEmpty()) {
            setBanner(readError_, false);
            return;
        }
    }
    setBanner(QString(), false);
}

void ViewerWindow::updateInfo() {
    if (!source_->isOpen() || !view_->hasRecord()) {
        title_->setText(source_->isOpen() ? QStringLiteral("no record yet")
                                          : QStringLiteral("no recording open"));
        time_->clear();
        setDetails({});
        hint_->setText(source_->isOpen() ? QString()
                                         : QStringLiteral("Open a recording with File > Open "
                                                          "(Ctrl+O), or drop one on this window."));
        progress_->clear();
        recordLabel_->clear();
        return;
    }
    const RecordingIndex::Status s = source_->status();
    const RecordText t = DescribeRecord(record_, source_->header(), count_, s.walking);
    title_->setText(t.title);
    time_->setText(t.local);
    time_->setToolTip(t.utc);
    setDetails(t.details);
    hint_->clear();
    recordLabel_->setText(QStringLiteral("%1 / %2").arg(current_).arg(count_));
    trend_->setCurrent(current_);
    QStringList notes;
    if (s.walking) notes << QStringLiteral("Finding the records: %1 so far").arg(s.indexed);
    if (s.growing) {
        notes << QStringLiteral(
            "The file is still being written: its records are checked once "
            "it rests (each one shown is checked now).");
    } else if (s.verifying) {
        notes << QStringLiteral("Checking the records: %1 of %2 intact so far")
                     .arg(s.verified)
                     .arg(s.indexed);
    }
    if (following()) notes << QStringLiteral("Following the newest record.");
    if (!findText_.isEmpty()) notes << findText_;
    progress_->setText(notes.join(QLatin1Char('\n')));
}

void ViewerWindow::updateStatus() {
    if (!cursors_.on() || !view_->hasRecord()) {
        status_->setText(QString::fromUtf8(kHints));
        return;
    }
    QStringList parts;
    for (const kurvo::MarkLine& l :
         cursors_.readings(view_->facts(), {chart_->YMin(0), chart_->YMin(1)},
                           {chart_->YMax(0), chart_->YMax(1)}))
        parts << l.text.trimmed();
    status_->setText(parts.isEmpty() ? QStringLiteral("Cursors: Shift+drag places T1 and T2, "
                                                      "Shift+right drag V1 and V2")
                                     : parts.join(QStringLiteral("   ")));
}

void ViewerWindow::showHelp() {
    QMessageBox::information(this, QStringLiteral("Keys and mouse"), QString::fromUtf8(kHelp));
}

}  // namespace rv8::viewer
