#pragma once
// What the Windows programs that load the shipped Nubilo.asi share: the plug-in's clocks put under
// the substitute host's control.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/importHooks.h"
#include "substitute/substituteHost.h"

// The plug-in's calendar clock, once its import of the C library's time is pointed here.
inline __time64_t __cdecl hostTime(__time64_t* out) {
    __time64_t now = substituteState().clock;
    if (out != nullptr) *out = now;
    return now;
}

// Points the module's imports of time functions at hostTime; returns how many it pointed.
inline int redirectClock(HMODULE module) {
    static void* realTime = nullptr;  // not called: the substitute's clock is the only one
    return patchImports(module, {{"_time64", reinterpret_cast<void*>(&hostTime), &realTime},
                                 {"time", reinterpret_cast<void*>(&hostTime), &realTime}});
}

// The plug-in's monotonic clock (QueryUnbiasedInterruptTime, in 100 ns), once its import is
// pointed here: the substitute's, or the system's while realMonotonic is set -- for checks that
// wait for real time, on a fresh load of the plug-in, so that all its waits began on that clock.
inline bool realMonotonic = false;
inline BOOL(WINAPI* systemUnbiasedTime)(PULONGLONG) = nullptr;

inline BOOL WINAPI hostUnbiasedTime(PULONGLONG ticks) {
    if (realMonotonic) return systemUnbiasedTime(ticks);
    *ticks = static_cast<ULONGLONG>(substituteMonotonicMilliseconds()) * 10000;
    return TRUE;
}

// Points the module's import of the monotonic clock at hostUnbiasedTime; returns how many it pointed.
inline int redirectMonotonic(HMODULE module) {
    return patchImports(module, {{"QueryUnbiasedInterruptTime", reinterpret_cast<void*>(&hostUnbiasedTime),
                                  reinterpret_cast<void**>(&systemUnbiasedTime)}});
}

// The plug-in's file work runs on threads it starts (CreateThread), each of which ends in
// FreeLibraryAndExitThread. With both imports counted, a test waits for the work to end instead
// of guessing how long it takes: on a loaded machine no pause is long enough.
inline std::atomic<long> jobsStarted{0}, jobsEnded{0};
inline HANDLE(WINAPI* realCreateThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                        LPDWORD) = nullptr;
inline void(WINAPI* realFreeAndExit)(HMODULE, DWORD) = nullptr;

inline HANDLE WINAPI countedCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                         LPVOID argument, DWORD flags, LPDWORD id) {
    HANDLE thread = realCreateThread(security, stack, start, argument, flags, id);
    if (thread != nullptr) ++jobsStarted;
    return thread;
}

inline void WINAPI countedFreeAndExit(HMODULE module, DWORD code) {
    ++jobsEnded;
    realFreeAndExit(module, code);
}

// Counts the module's job threads from now on; once per load of the module.
inline int watchJobs(HMODULE module) {
    jobsStarted = 0;
    jobsEnded = 0;
    return patchImports(module, {{"CreateThread", reinterpret_cast<void*>(&countedCreateThread),
                                  reinterpret_cast<void**>(&realCreateThread)},
                                 {"FreeLibraryAndExitThread", reinterpret_cast<void*>(&countedFreeAndExit),
                                  reinterpret_cast<void**>(&realFreeAndExit)}});
}

// Waits until every job started so far has ended; false when one is still running after a
// minute (a job that never ends is a fault, not a slow machine).
inline bool awaitJobs() {
    for (int wait = 0; wait < 60000 && jobsEnded.load() < jobsStarted.load(); ++wait) Sleep(1);
    return jobsEnded.load() >= jobsStarted.load();
}
