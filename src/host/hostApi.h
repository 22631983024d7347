#pragma once
// The eight calls of the host library ScriptHookRDR2 that the plug-in imports, with the types
// that give their exported (MSVC-decorated) names. Declared here once, nowhere else.

#include <cstdint>

struct HINSTANCE__;
using HostModule = HINSTANCE__*;
#ifdef _WIN32
using HostDword = unsigned long;  // DWORD
#else
using HostDword = std::uint32_t;
#endif
using HostWord = unsigned short;  // WORD
using HostByte = unsigned char;   // BYTE
using HostBool = int;             // BOOL

using ScriptEntry = void (*)();
using KeyboardHandler = void (*)(HostDword key, HostWord repeats, HostByte scanCode, HostBool isExtended,
                                 HostBool isWithAlt, HostBool wasDownBefore, HostBool isUpNow);

// MSVC decorates these declarations into the host's export names by itself; GCC and Clang
// targeting Windows are told the names through an assembler label.
#if defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define NUBILO_HOST_EXPORT(decorated) __asm__("\"" decorated "\"")
#else
#define NUBILO_HOST_EXPORT(decorated)
#endif

void scriptRegister(HostModule module, ScriptEntry entry)
    NUBILO_HOST_EXPORT("?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z");
void scriptUnregister(HostModule module) NUBILO_HOST_EXPORT("?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z");
void keyboardHandlerRegister(KeyboardHandler handler) NUBILO_HOST_EXPORT("?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z");
void keyboardHandlerUnregister(KeyboardHandler handler)
    NUBILO_HOST_EXPORT("?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z");
void scriptWait(HostDword milliseconds) NUBILO_HOST_EXPORT("?scriptWait@@YAXK@Z");
void nativeInit(std::uint64_t hash) NUBILO_HOST_EXPORT("?nativeInit@@YAX_K@Z");
void nativePush64(std::uint64_t value) NUBILO_HOST_EXPORT("?nativePush64@@YAX_K@Z");
std::uint64_t* nativeCall() NUBILO_HOST_EXPORT("?nativeCall@@YAPEA_KXZ");
