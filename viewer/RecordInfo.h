// What the viewer says about a record beside the chart: its number and the file's count, its
// time (local, and UTC for the tooltip), comment, event mark, and the settings it was taken with
// (format version 2); a version 1 record's settings that the file does not hold read "unknown".
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QString>

#include "logging/RecordingFile.h"

namespace rv8::viewer {

struct RecordText {
    QString title;  // "record 4711 of 8000" (records count from 0, as in the file and rv8rec)
    QString local;  // "2026-12-07 14:03:12.345 678" in the local time zone
    QString utc;    // "2026-12-07 13:03:12.345678 UTC"
    // The rest, one (label, value) pair a line: "Comment", "Log comment 4711"; ...
    std::vector<std::pair<QString, QString>> details;
};

// `count` records are known; `more` while the file may hold more than that (still being read).
RecordText DescribeRecord(const RecordingRecord& record, const RecordingHeader& header,
                          uint64_t count, bool more);

// A time of the file (microseconds since 1970 UTC) in the local time zone and in UTC.
QString LocalTimeText(int64_t us);
QString UtcTimeText(int64_t us);

}  // namespace rv8::viewer
