#pragma once
// What the Windows programs that load the shipped Nubilo.asi share: the plug-in's clock put under
// the substitute host's control.
#include <windows.h>

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


// Whether this system renames a file over one held open, with POSIX semantics (FileRenameInfoEx:
// Windows 10 1709 and later, on NTFS): the first road of the plug-in's replace. Tried on two
// scratch files in the current folder.
inline bool posixRenameAvailable() {
    const wchar_t* names[] = {L"probe-from.tmp", L"probe-to.tmp"};
    HANDLE handles[2];
    for (int i = 0; i < 2; ++i)
        handles[i] = CreateFileW(names[i], GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    wchar_t target[MAX_PATH];
    const DWORD length = GetFullPathNameW(names[1], MAX_PATH, target, nullptr);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t), 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    const DWORD flags = 0x1 | 0x2;  // replace if exists, POSIX semantics
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->FileNameLength = length * sizeof(wchar_t);
    std::memcpy(info->FileName, target, info->FileNameLength);
    const bool renamed = SetFileInformationByHandle(handles[0], static_cast<FILE_INFO_BY_HANDLE_CLASS>(22), info,
                                                    static_cast<DWORD>(buffer.size())) != 0;
    for (int i = 0; i < 2; ++i) {
        CloseHandle(handles[i]);
        DeleteFileW(names[i]);
    }
    return renamed;
}
