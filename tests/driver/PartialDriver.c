/* A driver library that offers only some of the functions, to check how a missing one is met. */
#include <stdint.h>

__attribute__((visibility("default"))) void InitInstrument(int32_t mode) { (void)mode; }
__attribute__((visibility("default"))) int32_t GetMaxSampleFrequency(void) { return 4321; }
