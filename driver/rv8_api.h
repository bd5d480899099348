/* The instrument driver library's exported functions, with C linkage. The window reaches them
 * through Rv8Driver; the simulated instrument in sim/ exports exactly these. Channels are 1 and
 * 2; "ref" arguments are pointers to a variable that the library fills or reads. */
#ifndef RV8_API_H
#define RV8_API_H

#include <stdint.h>

#if defined(_WIN32)
#define RV8_EXPORT __declspec(dllexport)
#else
#define RV8_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

RV8_EXPORT void InitInstrument(int32_t mode);
RV8_EXPORT void ExitInstrument(void);
RV8_EXPORT void GetSerialNumber(int32_t* serial);
RV8_EXPORT void GetCalibrationDate(int32_t* word);
RV8_EXPORT int32_t GetMaxSampleFrequency(void);
RV8_EXPORT int32_t GetMaxRecordLength(void);
RV8_EXPORT int32_t StartMeasurement(void);
RV8_EXPORT void GetMeasurementRaw(uint16_t* ch1, uint16_t* ch2);
RV8_EXPORT void SetMeasureMode(int32_t mode);
RV8_EXPORT int32_t GetMeasureMode(void);
RV8_EXPORT void SetRecordLength(int32_t samples);
RV8_EXPORT int32_t GetRecordLength(void);
RV8_EXPORT void SetPostSamples(int32_t samples);
RV8_EXPORT int32_t GetPostSamples(void);
RV8_EXPORT void SetSampleFrequency(int32_t* frequency);
RV8_EXPORT int32_t GetSampleFrequency(void);
RV8_EXPORT void SetSensitivity(int32_t channel, double* volts);
RV8_EXPORT void GetSensitivity(int32_t channel, double* volts);
RV8_EXPORT void SetCoupling(int32_t channel, uint8_t code);
RV8_EXPORT uint8_t GetCoupling(int32_t channel);
RV8_EXPORT void SetTriggerSource(int32_t code);
RV8_EXPORT int32_t GetTriggerSource(void);
RV8_EXPORT void SetTriggerMode(uint8_t code);
RV8_EXPORT uint8_t GetTriggerMode(void);
RV8_EXPORT void SetTriggerLevel(int32_t channel, double volts);
RV8_EXPORT void GetTriggerLevel(int32_t channel, double* volts);
RV8_EXPORT void SetTriggerHys(int32_t channel, double volts);
RV8_EXPORT void GetTriggerHys(int32_t channel, double* volts);
RV8_EXPORT void SetTriggerTimeOut(int32_t timeout);
RV8_EXPORT int32_t GetTriggerTimeOut(void);

#ifdef __cplusplus
}
#endif

#endif
