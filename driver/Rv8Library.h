// The driver library loaded by name ("rv8": librv8.so here, rv8.dll on Windows). The folder of
// the executable is searched first, then the system's library search path. Each function is
// resolved on its first call; a missing library or function throws DriverUnavailable with a
// message that names what was tried.
#pragma once

#include <QLibrary>
#include <QStringList>

#include "driver/Rv8Driver.h"
#include "driver/rv8_api.h"

namespace rv8 {

class Rv8Library final : public Rv8Driver {
  public:
    // Loads the library; `candidates` are tried in order (each a path or a bare name that the
    // loader completes with the platform's prefix and suffix). Throws DriverUnavailable.
    explicit Rv8Library(const QStringList& candidates = DefaultCandidates());
    ~Rv8Library() override;

    static QStringList DefaultCandidates();
    QString fileName() const { return lib_.fileName(); }

    void InitInstrument(int32_t mode) override;
    void ExitInstrument() override;
    void GetSerialNumber(int32_t& serial) override;
    void GetCalibrationDate(int32_t& word) override;
    int32_t GetMaxSampleFrequency() override;
    int32_t GetMaxRecordLength() override;
    int32_t StartMeasurement() override;
    void GetMeasurementRaw(uint16_t& ch1First, uint16_t& ch2First) override;
    void SetMeasureMode(int32_t mode) override;
    int32_t GetMeasureMode() override;
    void SetRecordLength(int32_t samples) override;
    int32_t GetRecordLength() override;
    void SetPostSamples(int32_t samples) override;
    int32_t GetPostSamples() override;
    void SetSampleFrequency(int32_t& frequency) override;
    int32_t GetSampleFrequency() override;
    void SetSensitivity(int32_t channel, double& volts) override;
    void GetSensitivity(int32_t channel, double& volts) override;
    void SetCoupling(int32_t channel, uint8_t code) override;
    uint8_t GetCoupling(int32_t channel) override;
    void SetTriggerSource(int32_t code) override;
    int32_t GetTriggerSource() override;
    void SetTriggerMode(uint8_t code) override;
    uint8_t GetTriggerMode() override;
    void SetTriggerLevel(int32_t channel, double volts) override;
    void GetTriggerLevel(int32_t channel, double& volts) override;
    void SetTriggerHys(int32_t channel, double volts) override;
    void GetTriggerHys(int32_t channel, double& volts) override;
    void SetTriggerTimeOut(int32_t timeout) override;
    int32_t GetTriggerTimeOut() override;

  private:
    template <typename Fn>
    Fn* resolve(Fn*& slot, const char* name);

    QLibrary lib_;
    struct Table;  // resolved function pointers, null until first use
    Table* fns_;
};

}  // namespace rv8
