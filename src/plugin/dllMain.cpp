// The Windows library entry point. It runs under the loader lock: register, nothing more.
#include <windows.h>

#include "plugin/entry.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) { return libraryEntry(instance, reason); }
