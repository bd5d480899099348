#include "driver/Rv8Library.h"

#include <QCoreApplication>
#include <QDir>

namespace rv8 {

struct Rv8Library::Table {
    decltype(&::InitInstrument) InitInstrument = nullptr;
    decltype(&::ExitInstrument) ExitInstrument = nullptr;
    decltype(&::GetSerialNumber) GetSerialNumber = nullptr;
    decltype(&::GetCalibrationDate) GetCalibrationDate = nullptr;
    decltype(&::GetMaxSampleFrequency) GetMaxSampleFrequency = nullptr;
    decltype(&::GetMaxRecordLength) GetMaxRecordLength = nullptr;
    decltype(&::StartMeasurement) StartMeasurement = nullptr;
    decltype(&::GetMeasurementRaw) GetMeasurementRaw = nullptr;
    decltype(&::SetMeasureMode) SetMeasureMode = nullptr;
    decltype(&::GetMeasureMode) GetMeasureMode = nullptr;
    decltype(&::SetRecordLength) SetRecordLength = nullptr;
    decltype(&::GetRecordLength) GetRecordLength = nullptr;
    decltype(&::SetPostSamples) SetPostSamples = nullptr;
    decltype(&::GetPostSamples) GetPostSamples = nullptr;
    decltype(&::SetSampleFrequency) SetSampleFrequency = nullptr;
    decltype(&::GetSampleFrequency) GetSampleFrequency = nullptr;
    decltype(&::SetSensitivity) SetSensitivity = nullptr;
    decltype(&::GetSensitivity) GetSensitivity = nullptr;
    decltype(&::SetCoupling) SetCoupling = nullptr;
    decltype(&::GetCoupling) GetCoupling = nullptr;
    decltype(&::SetTriggerSource) SetTriggerSource = nullptr;
    decltype(&::GetTriggerSource) GetTriggerSource = nullptr;
    decltype(&::SetTriggerMode) SetTriggerMode = nullptr;
    decltype(&::GetTriggerMode) GetTriggerMode = nullptr;
    decltype(&::SetTriggerLevel) SetTriggerLevel = nullptr;
    decltype(&::GetTriggerLevel) GetTriggerLevel = nullptr;
    decltype(&::SetTriggerHys) SetTriggerHys = nullptr;
    decltype(&::GetTriggerHys) GetTriggerHys = nullptr;
    decltype(&::SetTriggerTimeOut) SetTriggerTimeOut = nullptr;
    decltype(&::GetTriggerTimeOut) GetTriggerTimeOut = nullptr;
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

#define RV8_FN(name) resolve(fns_->name, #name)

void Rv8Library::InitInstrument(int32_t mode) {
    RV8_FN(InitInstrument)(mode);
}
void Rv8Library::ExitInstrument() {
    RV8_FN(ExitInstrument)();
}
void Rv8Library::GetSerialNumber(int32_t& serial) {
    RV8_FN(GetSerialNumber)(&serial);
}
void Rv8Library::GetCalibrationDate(int32_t& word) {
    RV8_FN(GetCalibrationDate)(&word);
}
int32_t Rv8Library::GetMaxSampleFrequency() {
    return RV8_FN(GetMaxSampleFrequency)();
}
int32_t Rv8Library::GetMaxRecordLength() {
    return RV8_FN(GetMaxRecordLength)();
}
int32_t Rv8Library::StartMeasurement() {
    return RV8_FN(StartMeasurement)();
}
void Rv8Library::GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) {
    RV8_FN(GetMeasurementRaw)(&ch1First, &ch2First);
}
void Rv8Library::SetMeasureMode(int32_t mode) {
    RV8_FN(SetMeasureMode)(mode);
}
int32_t Rv8Library::GetMeasureMode() {
    return RV8_FN(GetMeasureMode)();
}
void Rv8Library::SetRecordLength(int32_t samples) {
    RV8_FN(SetRecordLength)(samples);
}
int32_t Rv8Library::GetRecordLength() {
    return RV8_FN(GetRecordLength)();
}
void Rv8Library::SetPostSamples(int32_t samples) {
    RV8_FN(SetPostSamples)(samples);
}
int32_t Rv8Library::GetPostSamples() {
    return RV8_FN(GetPostSamples)();
}
void Rv8Library::SetSampleFrequency(int32_t& frequency) {
    RV8_FN(SetSampleFrequency)(&frequency);
}
int32_t Rv8Library::GetSampleFrequency() {
    return RV8_FN(GetSampleFrequency)();
}
void Rv8Library::SetSensitivity(int32_t channel, double& volts) {
    RV8_FN(SetSensitivity)(channel, &volts);
}
void Rv8Library::GetSensitivity(int32_t channel, double& volts) {
    RV8_FN(GetSensitivity)(channel, &volts);
}
void Rv8Library::SetCoupling(int32_t channel, uint8_t code) {
    RV8_FN(SetCoupling)(channel, code);
}
uint8_t Rv8Library::GetCoupling(int32_t channel) {
    return RV8_FN(GetCoupling)(channel);
}
void Rv8Library::SetTriggerSource(int32_t code) {
    RV8_FN(SetTriggerSource)(code);
}
int32_t Rv8Library::GetTriggerSource() {
    return RV8_FN(GetTriggerSource)();
}
void Rv8Library::SetTriggerMode(uint8_t code) {
    RV8_FN(SetTriggerMode)(code);
}
uint8_t Rv8Library::GetTriggerMode() {
    return RV8_FN(GetTriggerMode)();
}
void Rv8Library::SetTriggerLevel(int32_t channel, double volts) {
    RV8_FN(SetTriggerLevel)(channel, volts);
}
void Rv8Library::GetTriggerLevel(int32_t channel, double& volts) {
    RV8_FN(GetTriggerLevel)(channel, &volts);
}
void Rv8Library::SetTriggerHys(int32_t channel, double volts) {
    RV8_FN(SetTriggerHys)(channel, volts);
}
void Rv8Library::GetTriggerHys(int32_t channel, double& volts) {
    RV8_FN(GetTriggerHys)(channel, &volts);
}
void Rv8Library::SetTriggerTimeOut(int32_t timeout) {
    RV8_FN(SetTriggerTimeOut)(timeout);
}
int32_t Rv8Library::GetTriggerTimeOut() {
    return RV8_FN(GetTriggerTimeOut)();
}

#undef RV8_FN

}  // namespace rv8
