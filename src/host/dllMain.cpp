// The Windows library entry point. It runs under the loader lock: register, nothing more.
#include <windows.h>

#include "host/entry.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) { return libraryEntry(instance, reason); }
