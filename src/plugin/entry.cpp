#include "plugin/entry.h"

#include "cycle/mainLoop.h"

HostBool libraryEntry(HostModule module, HostDword reason) noexcept {
    constexpr HostDword processDetach = 0;
    constexpr HostDword processAttach = 1;
    if (reason == processAttach) {
        scriptRegister(module, scriptMain);
        keyboardHandlerRegister(handleKeyboardMessage);
    } else if (reason == processDetach) {
        scriptUnregister(module);
        keyboardHandlerUnregister(handleKeyboardMessage);
    }
    return 1;
}

void scriptMain() noexcept { runCycleLoop(); }

// The cycle is driven by the settings file and the clock alone; keys change nothing.
void handleKeyboardMessage(HostDword, HostWord, HostByte, HostBool, HostBool, HostBool, HostBool) noexcept {}
