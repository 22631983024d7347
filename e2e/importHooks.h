#pragma once
// A loaded module's imports pointed at wrappers of our own, as redirectClock points its clock: the
// crash test counts the plug-in's file calls this way, and can end the process after any of them.
#include <windows.h>

#include <cstring>
#include <vector>

// An import by name, the wrapper it is pointed at, and where the real function is kept.
struct Hook {
    const char* name;
    void* wrapper;
    void** real;
};

// Called after each counted call has returned, with the import's name.
inline void (*afterCountedCall)(const char* name) = nullptr;

template <int key, typename Function>
struct Counted;

// Calls the real function, then afterCountedCall; the result and the last error pass unchanged.
template <int key, typename Result, typename... Args>
struct Counted<key, Result (*)(Args...)> {
    static inline Result (*real)(Args...) = nullptr;
    static inline const char* name = nullptr;
    static Result call(Args... args) {
        const Result result = real(args...);
        afterCountedCall(name);
        return result;
    }
    static Hook hook(const char* importName) {
        name = importName;
        return {importName, reinterpret_cast<void*>(&call), reinterpret_cast<void**>(&real)};
    }
};

// The plain pointer type, without the attributes some C library declarations carry.
template <typename Result, typename... Args>
auto plainPointer(Result (*)(Args...)) -> Result (*)(Args...);

// Each use its own key: DeleteFileA and remove, say, have one type.
#define COUNTED(function) Counted<__COUNTER__, decltype(plainPointer(&function))>::hook(#function)

// Points the module's imports named in `hooks` at their wrappers, keeping the real addresses;
// returns how many import slots it pointed.
inline int patchImports(HMODULE module, const std::vector<Hook>& hooks) {
    int pointed = 0;
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); desc->Name != 0; ++desc) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Hook& hook : hooks) {
                if (std::strcmp(name, hook.name) != 0) continue;
                *hook.real = reinterpret_cast<void*>(slots->u1.Function);
                DWORD protection = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
                slots->u1.Function = reinterpret_cast<ULONGLONG>(hook.wrapper);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
                ++pointed;
            }
        }
    }
    return pointed;
}
