// Where the substitute host is linked into one program with the plug-in, it answers the
// plug-in's host calls and its clocks directly, and stands in for the platform's attach/detach.
#include "host/clock.h"
#include "host/hostApi.h"
#include "host/worker.h"
#include "plugin/entry.h"
#include "substitute/substituteHost.h"

void scriptRegister(HostModule module, ScriptEntry entry) { substituteScriptRegister(module, entry); }
void scriptUnregister(HostModule module) { substituteScriptUnregister(module); }
void keyboardHandlerRegister(KeyboardHandler handler) { substituteKeyboardHandlerRegister(handler); }
void keyboardHandlerUnregister(KeyboardHandler handler) { substituteKeyboardHandlerUnregister(handler); }
void scriptWait(HostDword milliseconds) { substituteScriptWait(milliseconds); }
void nativeInit(std::uint64_t hash) { substituteNativeInit(hash); }
void nativePush64(std::uint64_t value) { substituteNativePush64(value); }
std::uint64_t* nativeCall() { return substituteNativeCall(); }

std::int64_t currentTime() noexcept { return substituteHost.clock; }
std::int64_t monotonicMilliseconds() noexcept { return substituteMonotonicMilliseconds(); }

// At once, so that a pass that starts a job also sees it finished; or held for a test to finish.
bool runOffFibre(void (*job)(void*) noexcept, void* argument) noexcept {
    if (substituteHost.holdJobs) {
        substituteHost.heldJob = job;
        substituteHost.heldJobArgument = argument;
        return true;
    }
    job(argument);
    return true;
}

void substituteFinishHeldJob() {
    if (substituteHost.heldJob == nullptr) return;
    void (*job)(void*) noexcept = substituteHost.heldJob;
    substituteHost.heldJob = nullptr;
    job(substituteHost.heldJobArgument);
}

void substituteAttach(HostModule module) { libraryEntry(module, 1); }
void substituteDetach(HostModule module) { libraryEntry(module, 0); }
