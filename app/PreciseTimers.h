// The acquisition loop's timing on the window's thread.
#pragma once

namespace rv8 {

// Asks the system to wake the calling thread exactly when its timers end. By default Linux may
// defer a thread's wake-up by up to 50 µs to group it with others ("timer slack"); each cycle
// of the acquisition loop waits for its 20 ms timer, so that slack would add to every cycle.
// Call it on the window's thread before the event loop starts. Does nothing elsewhere.
void AskForPreciseTimers();

}  // namespace rv8
