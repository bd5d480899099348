#include "app/PreciseTimers.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace rv8 {

void AskForPreciseTimers() {
#if defined(__linux__)
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // 1 ns: 0 would mean the default again
#endif
}

}  // namespace rv8
