// The viewer's way through the records: one, ten, first, last, a chosen one, the slider; playing
// at the recorded pace or as fast as the records render; following a file that is still being
// written.
#include <QAction>
#include <QCursor>
#include <QInputDialog>
#include <QSlider>
#include <QToolTip>

#include <algorithm>

#include "viewer/RecordInfo.h"
#include "viewer/ViewerWindow.h"

namespace rv8::viewer {

namespace {

// The longest wait between two records while playing at their recorded pace, and the wait for
// a record that is not there yet (a file still being written).
constexpr int64_t kLongestPauseMs = 5000;
constexpr int kWaitForRecordMs = 100;
// While following, the newest record is shown at most this often.
constexpr qint64 kFollowMs = 400;

}  // namespace

bool ViewerWindow::load(int64_t k) {
    std::string why;
    const RecordingIndex::Result r = source_->index()->read(static_cast<uint64_t>(k), next_, &why);
    if (r != RecordingIndex::Result::Ok) {
        readError_ = QString::fromStdString(why);
        return false;
    }
    std::swap(record_, next_);
    readError_.clear();
    current_ = k;
    view_->setRecord(&record_, source_->header());
    return true;
}

void ViewerWindow::goTo(int64_t k) {
    if (!source_->isOpen() || count_ == 0) return;
    k = std::clamp<int64_t>(k, 0, static_cast<int64_t>(count_) - 1);
    if (load(k)) {
        refresh();
        updatingBars_ = true;
        slider_->setValue(static_cast<int>(k));
        updatingBars_ = false;
    }
    updateInfo();
    updateBanner();
}

void ViewerWindow::step(int64_t by) {
    action(QStringLiteral("follow"))->setChecked(false);
    goTo(std::max<int64_t>(current_, 0) + by);
}

void ViewerWindow::first() {
    action(QStringLiteral("follow"))->setChecked(false);
    goTo(0);
}

void ViewerWindow::last() {
    goTo(static_cast<int64_t>(count_) - 1);
}

void ViewerWindow::goToDialog() {
    if (count_ == 0) return;
    bool ok = false;
    const int k = QInputDialog::getInt(
        this, QStringLiteral("Go to record"), QStringLiteral("Record (0 to %1):").arg(count_ - 1),
        static_cast<int>(current_), 0, static_cast<int>(count_ - 1), 1, &ok);
    if (!ok) return;
    action(QStringLiteral("follow"))->setChecked(false);
    goTo(k);
}

void ViewerWindow::sliderMoved(int value) {
    if (updatingBars_) return;
    action(QStringLiteral("follow"))->setChecked(false);
    goTo(value);
    if (slider_->isSliderDown()) {
        // While dragged: which record and when, beside the pointer.
        RecordingIndex::Entry e;
        const QString when = source_->isOpen() && source_->index()->entry(value, e)
                                 ? LocalTimeText(e.timeUs)
                                 : QString();
        QToolTip::showText(QCursor::pos(), QStringLiteral("record %1\n%2").arg(value).arg(when),
                           slider_);
    }
}

bool ViewerWindow::following() const {
    return action(QStringLiteral("follow"))->isChecked();
}

void ViewerWindow::setFollowing(bool on) {
    action(QStringLiteral("follow"))->setChecked(on);
    toggleFollow();
}

void ViewerWindow::toggleFollow() {
    if (following()) goTo(static_cast<int64_t>(count_) - 1);
}

void ViewerWindow::togglePlay() {
    playing_ = action(QStringLiteral("play"))->isChecked();
    if (!playing_) {
        play_.stop();
        return;
    }
    // From the first record again when at the last one of a file that is complete.
    const RecordingIndex::Status s =
        source_->isOpen() ? source_->status() : RecordingIndex::Status{};
    if (current_ + 1 >= static_cast<int64_t>(count_) && !s.pending && !s.walking) goTo(0);
    play_.start(0);
}

void ViewerWindow::playNext() {
    if (!playing_ || !source_->isOpen()) return;
    const RecordingIndex::Status s = source_->status();
    if (current_ + 1 >= static_cast<int64_t>(count_)) {
        // The end: wait for more while the file grows, stop otherwise.
        if (s.pending || s.walking || following()) {
            play_.start(kWaitForRecordMs);
        } else {
            playing_ = false;
            action(QStringLiteral("play"))->setChecked(false);
        }
        return;
    }
    const int64_t before = record_.timeUs;
    goTo(current_ + 1);
    if (action(QStringLiteral("fastPlay"))->isChecked()) {
        chart_->repaint();  // drawn now, then on at once
        play_.start(0);
        return;
    }
    // The recorded pace: the time between this record and the next, as the file has it.
    RecordingIndex::Entry e;
    int64_t waitMs = (record_.timeUs - before) / 1000;
    if (source_->index()->entry(static_cast<uint64_t>(current_ + 1), e))
        waitMs = (e.timeUs - record_.timeUs) / 1000;
    play_.start(static_cast<int>(std::clamp<int64_t>(waitMs, 0, kLongestPauseMs)));
}

void ViewerWindow::sourceChanged() {
    if (!source_->isOpen()) return;
    const RecordingIndex::Status s = source_->status();
    count_ = s.count;
    updatingBars_ = true;
    slider_->setRange(0, static_cast<int>(std::max<uint64_t>(count_, 1) - 1));
    slider_->setEnabled(count_ > 1);
    marks_->setCount(count_);
    trend_->setCount(count_);
    if (trend_->isVisible() && count_ > trendTable_.rows.size()) measureTrend();
    updatingBars_ = false;
    const int64_t lastRecord = static_cast<int64_t>(count_) - 1;
    if (following() && current_ != lastRecord) {
        // The newest record, at most every kFollowMs: a recording at full rate adds one every
        // 20 ms, and drawing each would take the recording's machine time for nothing.
        const qint64 since = followed_.isValid() ? followed_.elapsed() : kFollowMs;
        if (since >= kFollowMs) {
            followed_.start();
            goTo(lastRecord);  // the panels with it
        } else if (!followLater_.isActive()) {
            followLater_.start(static_cast<int>(kFollowMs - since));
        }
        return;
    }
    if (current_ > lastRecord || (current_ < 0 && count_ > 0)) {
        // The damage was found before the record shown, or the first record can be read now.
        goTo(current_ < 0 ? 0 : lastRecord);
        return;
    }
    updateInfo();
    updateBanner();
}

}  // namespace rv8::viewer
