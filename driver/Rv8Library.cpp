#include "driver/Rv8Library.h"

#include <QCoreApplication>
#include <QDir>

namespace rv8 {

struct Rv8Library::Table {
#define RV8_SLOT(Result, Name, ...) decltype(&::Name) Name = nullptr;
    RV8_FUNCTIONS(RV8_SLOT)
#undef RV8_SLOT
};

namespace {

// The last line of the message for a library that cannot be loaded: how to go on.
QString WhatToDo() {
#ifdef Q_OS_WIN
    const QString file = QStringLiteral("rv8.dll");
#else
    const QString file = QStringLiteral("librv8.so");
#endif
    return QStringLiteral(
               "To start with the simulated instrument, use scripts/run (or the installed "
               "launcher rv8scope-simulator); a real driver library %1 must lie next to the "
               "program or on the library search path.")
        .arg(file);
}

}  // namespace

QStringList Rv8Library::DefaultCandidates() {
    QStringList list;
    if (QCoreApplication::instance()) {
        list << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("rv8"));
    }
    list << QStringLiteral("rv8");
    return list;
}

Rv8Library::Rv8Library(const QStringList& candidates) : fns_(new Table) {
    QStringList tried;
    for (const QString& name : candidates) {
        lib_.setFileName(name);
        if (lib_.load()) return;
        tried << QStringLiteral("  %1: %2").arg(name, lib_.errorString());
    }
    delete fns_;
    fns_ = nullptr;
    throw DriverUnavailable(
        (QStringLiteral("The instrument driver library \"rv8\" could not be loaded. Tried:\n%1")
             .arg(tried.join(QLatin1Char('\n'))) +
         QLatin1Char('\n') + WhatToDo())
            .toStdString());
}

Rv8Library::~Rv8Library() {
    delete fns_;
    // The library stays mapped until the process ends: a driver may still hold threads or
    // callbacks, and unloading it buys nothing.
}

template <typename Fn>
Fn* Rv8Library::resolve(Fn*& slot, const char* name) {
    if (!slot) {
        slot = reinterpret_cast<Fn*>(lib_.resolve(name));
        if (!slot) {
            throw DriverUnavailable(
                QStringLiteral("The instrument driver library %1 has no function %2 (%3).")
                    .arg(lib_.fileName(), QString::fromLatin1(name), lib_.errorString())
                    .toStdString());
        }
    }
    return slot;
}

// Each member resolves its function on the first call and calls it, "ref" arguments by address:
//   void Rv8Library::GetSensitivity(int32_t channel, double& volts) {
//       return resolve(fns_->GetSensitivity, "GetSensitivity")(channel, &volts);
//   }
#define RV8_CALL(Result, Name, ...)                                 \
    Result Rv8Library::Name(RV8_CPP_PARAMS(__VA_ARGS__)) {          \
        return resolve(fns_->Name, #Name)(RV8_C_ARGS(__VA_ARGS__)); \
    }
RV8_FUNCTIONS(RV8_CALL)
#undef RV8_CALL

}  // namespace rv8
