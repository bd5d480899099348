// RV8 Scope/Recorder: one window that drives one instrument through its driver library.
#include <cstdio>

#include <QApplication>
#include <QStyleFactory>

#include "app/Form1.h"
#include "app/PreciseTimers.h"
#include "app/QtMessages.h"
#include "driver/Rv8Library.h"

int main(int argc, char** argv) {
    rv8::AskForPreciseTimers();
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    rv8::QtMessages messages;
    const QString title = QStringLiteral("RV8 Scope/Recorder");

    std::unique_ptr<rv8::Rv8Library> driver;
    try {
        driver = std::make_unique<rv8::Rv8Library>();
    } catch (const rv8::DriverUnavailable& e) {
        std::fprintf(stderr, "%s\n", e.what());
        messages.show(title, QString::fromStdString(e.what()), rv8::MessageIcon::Critical);
        return 3;
    }

    rv8::Form1 form(*driver, messages);
    bool instrumentFound = false;
    try {
        instrumentFound = form.Form_Load();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Start-up failed: %s\n", e.what());
        messages.show(title, QStringLiteral("Start-up failed: %1").arg(QString::fromUtf8(e.what())),
                      rv8::MessageIcon::Critical);
        return 3;
    } catch (...) {
        std::fprintf(stderr, "Start-up failed.\n");
        messages.show(title, QStringLiteral("Start-up failed."), rv8::MessageIcon::Critical);
        return 3;
    }
    // A handler run during start-up (a box's change) that met an unusable driver: the event
    // loop would forget the request to end, so end here, in the same order.
    if (!form.fatalError().isEmpty()) return form.Shutdown(3);
    if (!instrumentFound) {
        std::fprintf(stderr, "No instrument answered (serial number 0).\n");
        return 2;
    }
    messages.setParent(&form);
    form.show();
    // The event loop ends when the window is closed, or with status 3 when the driver became
    // unusable; either way the recording is closed and synced before the program ends.
    return form.Shutdown(app.exec());
}
