#pragma once
// The plug-in's door to the platform and the host.

#include "host/hostApi.h"

// Attach (reason 1) registers the script then the keyboard callback; detach (reason 0)
// unregisters them in the same order; every reason reports success. DllMain forwards here, and
// the substitute host calls it directly where there is no DllMain.
HostBool libraryEntry(HostModule module, HostDword reason) noexcept;

void scriptMain() noexcept;
void handleKeyboardMessage(HostDword key, HostWord repeats, HostByte scanCode, HostBool isExtended, HostBool isWithAlt,
                           HostBool wasDownBefore, HostBool isUpNow) noexcept;
