// SIGINT and SIGTERM (termination.cpp): from the first top-level window on,
// they post WM_QUIT to the threads with top-level windows and close what the
// desktop shows. Inside the stand-in, long waits also give up when one came.
#pragma once

namespace platform::detail {

void watchTerminationSignals();
// A termination signal arrived: boxes no longer wait for an answer, and
// effect compiles stop.
bool terminationRequested();
// For tests that raise the signals themselves: what follows in the same
// process goes on as before the signal.
void forgetTerminationRequest();

} // namespace platform::detail
