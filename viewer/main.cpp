// rv8view: opens a recording (.cvx) and shows its records on the scope's chart.
//
//   rv8view [--follow] [FILE]
#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QStringList>
#include <QStyleFactory>

#include "viewer/ViewerWindow.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::puts(
                "usage: rv8view [FILE]\n"
                "Shows the records of an RV8 recording (.cvx) one at a time: time and\n"
                "spectrum views, zoom, cursors, play, follow a file being written, export.\n"
                "Keys and mouse: Help > Keys and mouse (F1), or docs/viewer.md.");
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("rv8view %s\n", RV8_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QStringLiteral("rv8view"));
    QApplication::setDesktopFileName(QStringLiteral("rv8view"));
    QStringList args = QApplication::arguments().mid(1);
    const bool follow = args.removeAll(QStringLiteral("--follow")) > 0;
    if (args.size() > 1 || (!args.isEmpty() && args.front().startsWith(QLatin1Char('-')))) {
        std::fputs("usage: rv8view [--follow] [FILE]\n", stderr);
        return 2;
    }
    rv8::viewer::ViewerWindow window;
    window.show();
    if (follow) window.setFollowing(true);
    if (!args.isEmpty()) window.openFile(args.front());
    return app.exec();
}
