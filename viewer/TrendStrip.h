// TrendStrip: one measurement of every record (rv8rec measure run on the open file in the
// background) drawn along the records under the slider: a line through the records' values, or
// each pixel column's smallest to largest value when there are more records than columns, so
// that no single record's excursion disappears. The record shown is marked; a click goes to the
// record under the pointer.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

namespace rv8::viewer {

// The values of rv8rec measure's CSV output: its columns, and per record (by number) the value
// of every column (NaN where it has none).
struct TrendTable {
    QStringList columns;                    // the numeric columns: "ch1_freq_hz", ...
    std::vector<std::vector<double>> rows;  // rows[record][column]
    // Adds the rows of a CSV text from rv8rec measure (its header first). False when it is not
    // such a text.
    bool addCsv(const QString& csv);
    void clear() {
        columns.clear();
        rows.clear();
    }
};

class TrendStrip : public QWidget {
    Q_OBJECT
  public:
    explicit TrendStrip(QWidget* parent = nullptr);

    // The values to draw, one per record (NaN: none), named `what` ("ch1 vpp V").
    void setValues(std::vector<double> values, const QString& what);
    void setCount(uint64_t count);
    void setCurrent(int64_t record);
    const std::vector<double>& values() const { return values_; }
    // Pixel column k's smallest and largest value (NaN when its records have none), as drawn.
    std::pair<double, double> columnRange(int column) const;
    QSize sizeHint() const override { return {100, 64}; }

  signals:
    void clicked(int64_t record);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    double xOf(double record) const;
    double recordAt(double x) const;

    std::vector<double> values_;
    QString what_;
    uint64_t count_ = 0;
    int64_t current_ = -1;
};

}  // namespace rv8::viewer
