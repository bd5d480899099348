/* The instrument driver library's functions, in one list. Everything in this program that names
 * them all is made from it: the C API (rv8_api.h), the window's interface Rv8Driver, the loader's
 * table of resolved functions (Rv8Library), the simulated library's exports and its link script
 * (sim/Rv8Sim.cpp, sim/rv8.map.in), the simulated instrument's members and the tests' mock.
 *
 * RV8_FUNCTIONS(X) expands X once per function, in the library's order:
 *
 *     X(Result, Name, Parameter...)
 *
 * Result is the function's result type, Name its exported name, and each Parameter (none, one or
 * two) is written (kind, Type, name):
 *
 *     (val, Type, name)   passed by value: Type in the C API and in Rv8Driver
 *     (ref, Type, name)   a "ref" argument, a variable the library reads, fills or both:
 *                         Type* in the C API, Type& in Rv8Driver
 *
 * Channels are 1 and 2. For X, the helpers at the end turn the parameters into a list:
 *
 *     RV8_C_PARAMS(Parameter...)    int32_t channel, double* volts   ("void" when there are none)
 *     RV8_CPP_PARAMS(Parameter...)  int32_t channel, double& volts
 *     RV8_ARGS(Parameter...)        channel, volts                   (each passed on as it came)
 *     RV8_C_ARGS(Parameter...)      channel, &volts                  (Rv8Driver's to the C API's)
 *
 * For example, the C API's declarations are
 *
 *     #define RV8_DECLARE(Result, Name, ...) RV8_EXPORT Result Name(RV8_C_PARAMS(__VA_ARGS__));
 *     RV8_FUNCTIONS(RV8_DECLARE)
 *     #undef RV8_DECLARE
 *
 * Plain preprocessor text without includes, read by C, C++ and the C preprocessor alone. */
#ifndef RV8_FUNCTIONS_H
#define RV8_FUNCTIONS_H

/* clang-format off */
#define RV8_FUNCTIONS(X)                                                                        \
    X(void,    InitInstrument,        (val, int32_t, mode))                                     \
    X(void,    ExitInstrument)                                                                  \
    X(void,    GetSerialNumber,       (ref, int32_t, serial))                                   \
    X(void,    GetCalibrationDate,    (ref, int32_t, word))                                     \
    X(int32_t, GetMaxSampleFrequency)                                                           \
    X(int32_t, GetMaxRecordLength)                                                              \
    X(int32_t, StartMeasurement)                                                                \
    /* Fills the first record-length samples of each buffer, given by its first sample. */      \
    X(void,    GetMeasurementRaw,     (ref, uint16_t, ch1First), (ref, uint16_t, ch2First))     \
    X(void,    SetMeasureMode,        (val, int32_t, mode))                                     \
    X(int32_t, GetMeasureMode)                                                                  \
    X(void,    SetRecordLength,       (val, int32_t, samples))                                  \
    X(int32_t, GetRecordLength)                                                                 \
    X(void,    SetPostSamples,        (val, int32_t, samples))                                  \
    X(int32_t, GetPostSamples)                                                                  \
    X(void,    SetSampleFrequency,    (ref, int32_t, frequency))                                \
    X(int32_t, GetSampleFrequency)                                                              \
    X(void,    SetSensitivity,        (val, int32_t, channel), (ref, double, volts))            \
    X(void,    GetSensitivity,        (val, int32_t, channel), (ref, double, volts))            \
    X(void,    SetCoupling,           (val, int32_t, channel), (val, uint8_t, code))            \
    X(uint8_t, GetCoupling,           (val, int32_t, channel))                                  \
    X(void,    SetTriggerSource,      (val, int32_t, code))                                     \
    X(int32_t, GetTriggerSource)                                                                \
    X(void,    SetTriggerMode,        (val, uint8_t, code))                                     \
    X(uint8_t, GetTriggerMode)                                                                  \
    X(void,    SetTriggerLevel,       (val, int32_t, channel), (val, double, volts))            \
    X(void,    GetTriggerLevel,       (val, int32_t, channel), (ref, double, volts))            \
    X(void,    SetTriggerHys,         (val, int32_t, channel), (val, double, volts))            \
    X(void,    GetTriggerHys,         (val, int32_t, channel), (ref, double, volts))            \
    X(void,    SetTriggerTimeOut,     (val, int32_t, timeout))                                  \
    X(int32_t, GetTriggerTimeOut)

/* The helpers. RV8_EACH_ applies F to each parameter, separated by commas; with no parameters
 * it gives NONE(). */
#define RV8_C_PARAMS(...)   RV8_EACH_(RV8_C_PARAM_, RV8_VOID_, __VA_ARGS__)
#define RV8_CPP_PARAMS(...) RV8_EACH_(RV8_CPP_PARAM_, RV8_NOTHING_, __VA_ARGS__)
#define RV8_ARGS(...)       RV8_EACH_(RV8_ARG_, RV8_NOTHING_, __VA_ARGS__)
#define RV8_C_ARGS(...)     RV8_EACH_(RV8_C_ARG_, RV8_NOTHING_, __VA_ARGS__)

#define RV8_C_PARAM_(kind, Type, name)   RV8_C_PARAM_##kind(Type, name)
#define RV8_C_PARAM_val(Type, name)      Type name
#define RV8_C_PARAM_ref(Type, name)      Type* name
#define RV8_CPP_PARAM_(kind, Type, name) RV8_CPP_PARAM_##kind(Type, name)
#define RV8_CPP_PARAM_val(Type, name)    Type name
#define RV8_CPP_PARAM_ref(Type, name)    Type& name
#define RV8_ARG_(kind, Type, name)       name
#define RV8_C_ARG_(kind, Type, name)     RV8_C_ARG_##kind(name)
#define RV8_C_ARG_val(name)              name
#define RV8_C_ARG_ref(name)              &name

#define RV8_EACH_(F, NONE, ...) \
    RV8_PICK_(__VA_ARGS__ __VA_OPT__(,) RV8_EACH2_, RV8_EACH1_, NONE, )(F, __VA_ARGS__)
#define RV8_PICK_(a, b, which, ...) which
#define RV8_EACH1_(F, p)    F p
#define RV8_EACH2_(F, p, q) F p, F q
#define RV8_VOID_(...)      void
#define RV8_NOTHING_(...)
/* clang-format on */

#endif
