// Where a recording-file name typed into the window lies on this system.
#pragma once

#include <QString>

namespace rv8 {

// The path a typed recording-file name stands for. Off Windows, a name that starts with a drive
// letter, a colon and a backslash ("c:\Rv8Capture.cvx", the window's default) lies in the user's
// home folder, its backslashes read as folder separators: "c:\data\run1.cvx" is
// <home>/data/run1.cvx. Every other name, and every name on Windows, is used as it stands.
QString LocalRecordingPath(const QString& typed);

}  // namespace rv8
