#pragma once
// A stand-in for the host library where there is no game: it keeps the registrations, records
// every native call with its exact argument slots, runs the registered script on a fibre of its
// own, pass by pass, and owns the clocks the plug-in reads.

#include <cstdint>
#include <string>
#include <vector>

#include "host/hostApi.h"

// Built as the Windows DLL "ScriptHookRDR2.dll", the substitute also exports its controls to
// the end-to-end runner.
#if defined(_WIN32) && defined(NUBILO_SUBSTITUTE_DLL)
#define NUBILO_SUBSTITUTE_API __declspec(dllexport)
#else
#define NUBILO_SUBSTITUTE_API
#endif

enum class HostEventKind { scriptRegistered, scriptUnregistered, keyboardRegistered, keyboardUnregistered };

struct HostEvent {
    HostEventKind kind;
    HostModule module = nullptr;           // for the script events
    KeyboardHandler keyboard = nullptr;    // for the keyboard events
    ScriptEntry script = nullptr;
};

struct NativeCall {
    std::uint64_t hash = 0;
    std::vector<std::uint64_t> args;
    std::string hashedName;  // GET_HASH_KEY: the string its first slot pointed at
    std::int64_t clock = 0;  // the substitute's clock when the call began
};

struct SubstituteHost {
    std::vector<HostEvent> events;
    std::vector<NativeCall> nativeCalls;
    ScriptEntry script = nullptr;
    HostModule scriptModule = nullptr;
    KeyboardHandler keyboard = nullptr;
    std::int64_t clock = 1700000000;  // 2023-11-14 22:13:20 UTC
    // The monotonic clock, in milliseconds. It moves on with every forward move of `clock` (time
    // passing) but not with a move back (the clock set back); substituteJumpClock moves `clock`
    // without it (a time sync), and a test may add to it alone (less than a second, say).
    std::int64_t monotonicMilliseconds = 3600000;
    std::int64_t clockFollowed = 1700000000;  // `clock` as the monotonic clock last followed it
    std::uint64_t resultSlot = 0;
    std::uint64_t passes = 0;           // scriptWait calls so far
    std::uint32_t lastWaitMilliseconds = 0;
    bool scriptReturned = false;        // the script entry came back, which it never should
    bool recordNatives = true;
    bool failNativeCalls = false;       // make nativeCall throw, to test the plug-in's containment
    std::uint64_t advancePerPass = 0;   // seconds the clock moves at every scriptWait
    // Work the plug-in starts off its fibre: run at once, or held until substituteFinishHeldJob
    // while holdJobs is set (a test of the passes that run while a rewrite is under way).
    bool holdJobs = false;
    void (*heldJob)(void*) noexcept = nullptr;
    void* heldJobArgument = nullptr;
    // The native call being put together.
    std::uint64_t pendingHash = 0;
    std::uint64_t pendingFirstArg = 0;
    std::uint64_t pendingArgs = 0;
};

extern SubstituteHost substituteHost;

// The record itself, for a program that reaches the substitute across a DLL boundary.
NUBILO_SUBSTITUTE_API SubstituteHost& substituteState();

// Jenkins' one-at-a-time hash of the lower-cased name, as the game's GET_HASH_KEY computes it.
NUBILO_SUBSTITUTE_API std::uint32_t oneAtATimeHash(const char* name);

// The GET_HASH_KEY answer: the hash in the low half, a non-zero upper half to catch a caller
// that forgets to drop it.
constexpr std::uint64_t hashResultUpperHalf = 0xA5A5A5A500000000ull;

// Drops the registrations, the recorded calls and any script fibre, and sets the clock.
NUBILO_SUBSTITUTE_API void substituteReset(std::int64_t clock = 1700000000);

// The monotonic clock the plug-in reads, caught up with the calendar clock's forward moves.
NUBILO_SUBSTITUTE_API std::int64_t substituteMonotonicMilliseconds();

// Moves the calendar clock by `seconds` while no time passes: a time sync, a zone change.
NUBILO_SUBSTITUTE_API void substituteJumpClock(std::int64_t seconds);

// Runs the registered script until it has yielded `count` more times. False when no script is
// registered or it returned.
NUBILO_SUBSTITUTE_API bool substituteRunPasses(std::uint64_t count);

NUBILO_SUBSTITUTE_API void substituteDeliverKey(HostDword key, HostWord repeats, HostByte scanCode, HostBool isExtended, HostBool isWithAlt,
                          HostBool wasDownBefore, HostBool isUpNow);

// Runs the job the plug-in started while holdJobs was set, if any.
void substituteFinishHeldJob();

// The module's attach and detach, where the platform has no DllMain to call.
void substituteAttach(HostModule module);
void substituteDetach(HostModule module);

// The host calls under plain C names, so that a Windows build of this host can export them
// under the host's decorated names.
extern "C" {
void substituteScriptRegister(HostModule module, ScriptEntry entry);
void substituteScriptUnregister(HostModule module);
void substituteKeyboardHandlerRegister(KeyboardHandler handler);
void substituteKeyboardHandlerUnregister(KeyboardHandler handler);
void substituteScriptWait(HostDword milliseconds);
void substituteNativeInit(std::uint64_t hash);
void substituteNativePush64(std::uint64_t value);
std::uint64_t* substituteNativeCall();
}
