// Jobs on threads of their own. Each thread holds a reference on the plug-in's module, so an
// unload by the host while the job still runs waits for its end instead of pulling the code away.
// The stack is the process's default reservation (the game executable's, 1 MiB unless it asks
// for more), as every other thread of the game gets: the thread-attach code of every loaded DLL
// and any injected hook (overlays, capture tools) runs on it too, and is written for that size.
// Only the pages used are committed.
#include <windows.h>

#include "host/worker.h"

namespace {

struct Start {
    void (*job)(void*) noexcept;
    void* argument;
    HMODULE module;
};

// One job at a time is all the plug-in starts; its record outlives the thread's start.
Start pending;

DWORD WINAPI runJob(void* start) {
    const Start copy = *static_cast<Start*>(start);
    copy.job(copy.argument);
    FreeLibraryAndExitThread(copy.module, 0);
}

}  // namespace

bool runOffFibre(void (*job)(void*) noexcept, void* argument) noexcept {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runJob), &module))
        return false;
    pending = {job, argument, module};
    HANDLE thread = CreateThread(nullptr, 0, runJob, &pending, 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    return true;
}
