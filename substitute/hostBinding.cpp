// Where the substitute host is linked into one program with the plug-in, it answers the
// plug-in's host calls and its clock directly, and stands in for the platform's attach/detach.
#include "host/clock.h"
#include "host/entry.h"
#include "host/hostApi.h"
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

void substituteAttach(HostModule module) { libraryEntry(module, 1); }
void substituteDetach(HostModule module) { libraryEntry(module, 0); }
