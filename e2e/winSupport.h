#pragma once
// What the Windows programs that load the shipped Nubilo.asi share: the plug-in's clock put under
// the substitute host's control.
#include <windows.h>

#include <cstring>

#include "substitute/substituteHost.h"

// The plug-in's calendar clock, once its import of the C library's time is pointed here.
inline __time64_t __cdecl hostTime(__time64_t* out) {
    __time64_t now = substituteState().clock;
    if (out != nullptr) *out = now;
    return now;
}

// Points the module's imports of time functions at hostTime; returns how many it pointed.
inline int redirectClock(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int pointed = 0;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); desc->Name != 0; ++desc) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            if (std::strcmp(name, "_time64") != 0 && std::strcmp(name, "time") != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            slots->u1.Function = reinterpret_cast<ULONGLONG>(&hostTime);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            ++pointed;
        }
    }
    return pointed;
}

