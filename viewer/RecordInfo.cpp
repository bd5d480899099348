#include "viewer/RecordInfo.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>

#include "core/Numbers.h"
#include "display/KurvoText.h"
#include "viewer/RecordView.h"

namespace rv8::viewer {

namespace {

const QString kUnknown = QStringLiteral("unknown");

QDateTime At(int64_t us, const QTimeZone& zone) {
    const int64_t ms = us >= 0 ? us / 1000 : -((-us + 999) / 1000);
    return QDateTime::fromMSecsSinceEpoch(ms, zone);
}

QString Micro(int64_t us) {
    return QStringLiteral("%1").arg(((us % 1000) + 1000) % 1000, 3, 10, QLatin1Char('0'));
}

QString Volts(double v) {
    return std::isfinite(v) ? FormatPlain(v) + QStringLiteral(" V") : kUnknown;
}

QString Coupling(int8_t c) {
    return c == acq::kAC ? QStringLiteral("AC") : c == acq::kDC ? QStringLiteral("DC") : kUnknown;
}

QString MeasureMode(int8_t m) {
    switch (m) {
        case acq::kModeChannel1:
            return QStringLiteral("CH1 only");
        case acq::kModeChannel2:
            return QStringLiteral("CH2 only");
        case acq::kModeChop:
            return QStringLiteral("CH1 and CH2 (chop)");
        default:
            return kUnknown;
    }
}

QString Trigger(const Acquisition& a) {
    if (a.triggerSource == acq::kSourceNone) return QStringLiteral("none (free running)");
    const int c = a.triggerChannel();
    if (c < 0) return kUnknown;
    const QString slope = a.triggerSlope == acq::kRising    ? QStringLiteral("rising")
                          : a.triggerSlope == acq::kFalling ? QStringLiteral("falling")
                                                            : QStringLiteral("slope unknown");
    return QStringLiteral("CH%1 %2 at %3, hysteresis %4")
        .arg(c + 1)
        .arg(slope, Volts(a.channel[c].triggerLevel), Volts(a.channel[c].triggerHysteresis));
}

}  // namespace

QString LocalTimeText(int64_t us) {
    return At(us, QTimeZone::systemTimeZone()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
           QLatin1Char(' ') + Micro(us);
}

QString UtcTimeText(int64_t us) {
    return At(us, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
           Micro(us) + QStringLiteral(" UTC");
}

RecordText DescribeRecord(const RecordingRecord& r, const RecordingHeader& header, uint64_t count,
                          bool more) {
    RecordText t;
    t.title = QStringLiteral("record %1 of %2%3")
                  .arg(r.number)
                  .arg(count)
                  .arg(more ? QStringLiteral("+") : QString());
    t.local = LocalTimeText(r.timeUs);
    t.utc = UtcTimeText(r.timeUs);
    const Acquisition a = SettingsOf(r, header);
    auto& rows = t.details;
    const auto Row = [&rows](const QString& label, const QString& value) {
        rows.emplace_back(label, value);
    };
    Row(QStringLiteral("Comment"),
        QString::fromUtf8(r.comment.data(), static_cast<qsizetype>(r.comment.size())));
    Row(QStringLiteral("Event mark"), QString::number(r.eventMark));
    Row(QStringLiteral("Sample rate"), kurvo::SampleRateText(r.sampleRate));
    Row(QStringLiteral("Frames"), QString::number(r.frames));
    for (int c = 0; c < 2; ++c) {
        const QString name = QStringLiteral("CH%1").arg(c + 1);
        if (c >= header.channelCount) {
            Row(name, QStringLiteral("not in the file"));
            continue;
        }
        const double s = a.channel[c].sensitivity;
        const QString range = std::isfinite(s) ? QStringLiteral("\u00B1") + Volts(s) : kUnknown;
        Row(name, range + QStringLiteral(", coupling ") + Coupling(a.channel[c].coupling));
    }
    if (!r.hasSettings) {
        Row(QStringLiteral("Settings"),
            QStringLiteral("not recorded (format version 1): coupling, measure mode, "
                           "trigger and post-trigger samples unknown"));
    }
    Row(QStringLiteral("Measure mode"), MeasureMode(a.measureMode));
    Row(QStringLiteral("Trigger"), Trigger(a));
    Row(QStringLiteral("Post-trigger"),
        a.postSamples >= 0 ? QStringLiteral("%1 samples").arg(a.postSamples) : kUnknown);
    if (r.hasSettings && a.number != 0)
        Row(QStringLiteral("Acquisition"), QString::number(a.number));
    return t;
}

}  // namespace rv8::viewer
