// WINMM for Linux: the timer functions. timeBeginPeriod and timeEndPeriod are counted; between them the
// calling thread's timers run without slack (see below). timeGetTime counts milliseconds of a monotonic
// clock.
#ifndef __EMSCRIPTEN__
#include <sys/prctl.h>
#endif

#include "platform/win32/winmm_internal.h"

namespace {

std::atomic<int> time_begin_calls{0};
std::atomic<int> time_end_calls{0};
// Linux timers are fine-grained already, but a sleeping thread may wake up to its timer slack (50 us by
// default) late: 5 % on every 1 ms pause. Raising the resolution takes the slack of the calling thread
// away until its matching timeEndPeriod.
thread_local int raised_periods = 0;

}  // namespace

// The browser's Workers have no such setting: their
// timed waits are as precise as they get.
void set_timer_slack(unsigned long ns) {
#ifdef __EMSCRIPTEN__
  (void)ns;
#else
  prctl(PR_SET_TIMERSLACK, ns, 0UL, 0UL, 0UL);
#endif
}

int winmm_time_begin_calls() { return time_begin_calls.load(); }
int winmm_time_end_calls() { return time_end_calls.load(); }

MMRESULT WINAPI timeBeginPeriod(UINT) {
  log_call("timeBeginPeriod");
  ++time_begin_calls;
  if (raised_periods++ == 0) set_timer_slack(1);
  return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod(UINT) {
  log_call("timeEndPeriod");
  ++time_end_calls;
  if (raised_periods > 0 && --raised_periods == 0) set_timer_slack(0);
  return TIMERR_NOERROR;
}

DWORD WINAPI timeGetTime(void) {
  log_call("timeGetTime");
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
  return static_cast<DWORD>(ms);
}
