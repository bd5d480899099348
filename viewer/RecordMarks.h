// RecordMarks: a thin strip under the record slider marking the records a search found (rv8rec
// find run on the open file), one tick per record or per pixel column holding one; a click goes
// to the marked record nearest to it. The marks are kept as the runs rv8rec prints ("3-7,12").
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QString>
#include <QWidget>

namespace rv8::viewer {

using RecordRuns = std::vector<std::pair<uint64_t, uint64_t>>;  // first, last; ascending

// Where record `record` of `count` lies across widget `w`: over the span the record slider's
// handle travels, so that the marks and the trend strip line up with the slider. RecordAtX is
// its inverse (a fractional record, within 0..count-1).
double RecordX(const QWidget& w, double record, uint64_t count);
double RecordAtX(const QWidget& w, double x, uint64_t count);

// "3-7,12,20-25" (as rv8rec find prints it; blanks and a line end around it allowed) into its
// runs. False for anything else; an empty text is no runs.
bool ParseRecordRuns(const QString& text, RecordRuns& out);

class RecordMarks : public QWidget {
    Q_OBJECT
  public:
    explicit RecordMarks(QWidget* parent = nullptr);

    void setCount(uint64_t count);  // records on the slider
    void setRuns(RecordRuns runs);
    const RecordRuns& runs() const { return runs_; }
    uint64_t marked() const;  // how many records are marked
    // The first marked record after k, or before k; -1 when there is none.
    int64_t nextAfter(int64_t k) const;
    int64_t previousBefore(int64_t k) const;
    QSize sizeHint() const override { return {100, 7}; }

  signals:
    void clicked(int64_t record);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    double xOf(uint64_t record) const {
        return RecordX(*this, static_cast<double>(record), count_);
    }

    RecordRuns runs_;
    uint64_t count_ = 0;
};

}  // namespace rv8::viewer
