/* The instrument driver library's exported functions, with C linkage: those of the list in
 * Rv8Functions.h. The window reaches them through Rv8Driver; the simulated instrument in sim/
 * exports exactly these. Channels are 1 and 2; "ref" arguments are pointers to a variable that
 * the library fills or reads. */
#ifndef RV8_API_H
#define RV8_API_H

#include <stdint.h>

#include "driver/Rv8Functions.h"

#if defined(_WIN32)
#define RV8_EXPORT __declspec(dllexport)
#else
#define RV8_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One declaration per function of driver/Rv8Functions.h, e.g.
 * RV8_EXPORT void GetSensitivity(int32_t channel, double* volts); */
#define RV8_DECLARE(Result, Name, ...) RV8_EXPORT Result Name(RV8_C_PARAMS(__VA_ARGS__));
RV8_FUNCTIONS(RV8_DECLARE)
#undef RV8_DECLARE

#ifdef __cplusplus
}
#endif

#endif
