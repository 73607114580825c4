/* A preload library for the end-to-end tests only: with TALVENOOK_E2E_CLOCK set to
 * "<seconds since 1970>.<milliseconds>", every reading of the wall clock (CLOCK_REALTIME and its
 * coarse twin) gives that moment, so the local time a program stamps into what it sends is known
 * beforehand. Wine's programs read the wall clock through the same call, so this pins Windows
 * programs run under Wine too. The monotonic clocks, which time-outs use, are left alone. Without
 * the variable the library changes nothing. */
#define _GNU_SOURCE
/* dlsym() hands back the real clock_gettime() as an object pointer: what a preload library is
 * made of, which ISO C calls a conversion it does not define. */
#pragma GCC diagnostic ignored "-Wpedantic"
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

typedef int (*clock_gettime_fn)(clockid_t, struct timespec*);

int clock_gettime(clockid_t clock, struct timespec* time) {
  static clock_gettime_fn real = NULL;
  if (real == NULL) real = (clock_gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
  const char* pinned = getenv("TALVENOOK_E2E_CLOCK");
  if (pinned == NULL || (clock != CLOCK_REALTIME && clock != CLOCK_REALTIME_COARSE))
    return real(clock, time);
  char* fraction = NULL;
  time->tv_sec = (time_t)strtoll(pinned, &fraction, 10);
  time->tv_nsec = (*fraction == '.') ? strtol(fraction + 1, NULL, 10) * 1000000L : 0;
  return 0;
}
