#pragma once

// Step times of a start and of opening a site window, for the benchmarks: a benchmark build
// (KESTRUNE_STEP_TIMES) writes "kestrune-step <name> <wall-clock ms>" to standard error when the
// environment variable KESTRUNE_STEP_TIMES is set, so that the steps of several processes and of
// the page itself (performance.timeOrigin) line up on one clock. Other builds compile it to nothing.

#ifdef KESTRUNE_STEP_TIMES
#include <cstdio>
#include <cstdlib>
#include <ctime>
#endif

inline void NoteStep([[maybe_unused]] const char *Name)
{
#ifdef KESTRUNE_STEP_TIMES
    if (!std::getenv("KESTRUNE_STEP_TIMES"))
        return;
    timespec Now{};
    ::clock_gettime(CLOCK_REALTIME, &Now);
    std::fprintf(stderr, "kestrune-step %s %.3f\n", Name,
                 double(Now.tv_sec) * 1e3 + double(Now.tv_nsec) / 1e6);
    std::fflush(stderr);
#endif
}
