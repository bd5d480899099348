#include "logging/RecordingPath.h"

#include <QDir>
#include <QtGlobal>

namespace rv8 {

QString LocalRecordingPath(const QString& typed) {
#ifdef Q_OS_WIN
    return typed;
#else
    const bool driveLetter = typed.size() >= 3 && typed[0].isLetter() && typed[0].unicode() < 128 &&
                             typed[1] == QLatin1Char(':') && typed[2] == QLatin1Char('\\');
    if (!driveLetter) return typed;
    QString rest = typed.mid(3);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::homePath() + QLatin1Char('/') + rest;
#endif
}

}  // namespace rv8
