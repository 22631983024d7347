#include "substitute/substituteHost.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "weather/applyWeather.h"

#ifdef _WIN32
#include <windows.h>
#elif !defined(__EMSCRIPTEN__)
#include <ucontext.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define NUBILO_FIBRE_ANNOTATIONS 1
#endif

SubstituteHost substituteHost;

SubstituteHost& substituteState() { return substituteHost; }

namespace {

#ifdef __EMSCRIPTEN__
// The browser has no fibres: the designer page drives the loop's halves itself, so there is no
// registered script to run here.
void switchToHost() {}
void dropFibre() {}
void switchToScript() { substituteHost.scriptReturned = true; }
struct {
    bool inScript = false;
} fibre;
#else
// The script fibre. One at a time; it is abandoned, not unwound, when the host is reset, as the
// script's loop holds nothing of its own between passes.
struct Fibre {
#ifdef _WIN32
    void* hostFibre = nullptr;
    void* scriptFibre = nullptr;
#else
    ucontext_t hostContext{};
    ucontext_t scriptContext{};
    char* stack = nullptr;
#endif
    bool started = false;
    bool inScript = false;
#ifdef NUBILO_FIBRE_ANNOTATIONS
    void* hostFakeStack = nullptr;
    void* scriptFakeStack = nullptr;
    const void* hostStackBottom = nullptr;
    std::size_t hostStackSize = 0;
#endif
};

Fibre fibre;
constexpr std::size_t scriptStackSize = 1 << 20;

void switchToHost() {
#ifdef _WIN32
    SwitchToFiber(fibre.hostFibre);
#else
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(&fibre.scriptFakeStack, fibre.hostStackBottom, fibre.hostStackSize);
#endif
    swapcontext(&fibre.scriptContext, &fibre.hostContext);
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(fibre.scriptFakeStack, &fibre.hostStackBottom, &fibre.hostStackSize);
#endif
#endif
}

void runScript() {
    substituteHost.script();
    substituteHost.scriptReturned = true;
}

#ifdef _WIN32
void CALLBACK scriptFibreStart(void*) {
    runScript();
    for (;;) SwitchToFiber(fibre.hostFibre);
}
#else
void scriptFibreStart() {
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(nullptr, &fibre.hostStackBottom, &fibre.hostStackSize);
#endif
    runScript();
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(nullptr, fibre.hostStackBottom, fibre.hostStackSize);
#endif
    // Returning resumes the host through uc_link.
}
#endif

void dropFibre() {
#ifdef _WIN32
    if (fibre.scriptFibre != nullptr) DeleteFiber(fibre.scriptFibre);
    fibre.scriptFibre = nullptr;
#else
    std::free(fibre.stack);
    fibre.stack = nullptr;
#endif
    fibre.started = false;
}

void switchToScript() {
#ifdef _WIN32
    if (fibre.hostFibre == nullptr) {
        fibre.hostFibre = ConvertThreadToFiber(nullptr);
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"  // MinGW's inline reading of the fibre pointer
#endif
        if (fibre.hostFibre == nullptr) fibre.hostFibre = GetCurrentFiber();
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
    }
    if (!fibre.started) {
        fibre.scriptFibre = CreateFiber(scriptStackSize, scriptFibreStart, nullptr);
        fibre.started = true;
    }
    fibre.inScript = true;
    SwitchToFiber(fibre.scriptFibre);
    fibre.inScript = false;
#else
    if (!fibre.started) {
        fibre.stack = static_cast<char*>(std::malloc(scriptStackSize));
        getcontext(&fibre.scriptContext);
        fibre.scriptContext.uc_stack.ss_sp = fibre.stack;
        fibre.scriptContext.uc_stack.ss_size = scriptStackSize;
        fibre.scriptContext.uc_link = &fibre.hostContext;
        makecontext(&fibre.scriptContext, scriptFibreStart, 0);
        fibre.started = true;
    }
    fibre.inScript = true;
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(&fibre.hostFakeStack, fibre.stack, scriptStackSize);
#endif
    swapcontext(&fibre.hostContext, &fibre.scriptContext);
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(fibre.hostFakeStack, nullptr, nullptr);
#endif
    fibre.inScript = false;
#endif
}

#endif

}  // namespace

std::uint32_t oneAtATimeHash(const char* name) {
    std::uint32_t hash = 0;
    for (const char* at = name; *at != '\0'; ++at) {
        hash += static_cast<std::uint32_t>(std::tolower(static_cast<unsigned char>(*at)));
        hash += hash << 10;
        hash ^= hash >> 6;
    }
    hash += hash << 3;
    hash ^= hash >> 11;
    hash += hash << 15;
    return hash;
}

void substituteReset(std::int64_t clock) {
    dropFibre();
    substituteHost = SubstituteHost{};
    substituteHost.clock = clock;
}

bool substituteRunPasses(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) {
        if (substituteHost.script == nullptr || substituteHost.scriptReturned) return false;
        switchToScript();
    }
    return substituteHost.script != nullptr && !substituteHost.scriptReturned;
}

void substituteDeliverKey(HostDword key, HostWord repeats, HostByte scanCode, HostBool isExtended, HostBool isWithAlt,
                          HostBool wasDownBefore, HostBool isUpNow) {
    if (substituteHost.keyboard != nullptr)
        substituteHost.keyboard(key, repeats, scanCode, isExtended, isWithAlt, wasDownBefore, isUpNow);
}

extern "C" {

void substituteScriptRegister(HostModule module, ScriptEntry entry) {
    substituteHost.events.push_back({HostEventKind::scriptRegistered, module, nullptr, entry});
    substituteHost.script = entry;
    substituteHost.scriptModule = module;
}

void substituteScriptUnregister(HostModule module) {
    substituteHost.events.push_back({HostEventKind::scriptUnregistered, module, nullptr, nullptr});
    if (module == substituteHost.scriptModule) {
        substituteHost.script = nullptr;
        dropFibre();
    }
}

void substituteKeyboardHandlerRegister(KeyboardHandler handler) {
    substituteHost.events.push_back({HostEventKind::keyboardRegistered, nullptr, handler, nullptr});
    substituteHost.keyboard = handler;
}

void substituteKeyboardHandlerUnregister(KeyboardHandler handler) {
    substituteHost.events.push_back({HostEventKind::keyboardUnregistered, nullptr, handler, nullptr});
    if (handler == substituteHost.keyboard) substituteHost.keyboard = nullptr;
}

void substituteScriptWait(HostDword milliseconds) {
    substituteHost.lastWaitMilliseconds = static_cast<std::uint32_t>(milliseconds);
    ++substituteHost.passes;
    substituteHost.clock += static_cast<std::int64_t>(substituteHost.advancePerPass);
    if (fibre.inScript) switchToHost();
}

void substituteNativeInit(std::uint64_t hash) {
    substituteHost.pendingHash = hash;
    substituteHost.pendingArgs = 0;
    if (substituteHost.recordNatives) substituteHost.nativeCalls.push_back({hash, {}, {}, substituteHost.clock});
}

void substituteNativePush64(std::uint64_t value) {
    if (substituteHost.pendingArgs++ == 0) substituteHost.pendingFirstArg = value;
    if (substituteHost.recordNatives && !substituteHost.nativeCalls.empty())
        substituteHost.nativeCalls.back().args.push_back(value);
}

std::uint64_t* substituteNativeCall() {
    if (substituteHost.failNativeCalls) throw std::runtime_error("substitute host: native call refused");
    substituteHost.resultSlot = 0xFFFFFFFFFFFFFFFFull;  // only the hash native has a result worth reading
    if (substituteHost.pendingHash == nativeGetHashKey && substituteHost.pendingArgs > 0) {
        const char* name = reinterpret_cast<const char*>(substituteHost.pendingFirstArg);
        substituteHost.resultSlot = hashResultUpperHalf | oneAtATimeHash(name);
        if (substituteHost.recordNatives && !substituteHost.nativeCalls.empty())
            substituteHost.nativeCalls.back().hashedName = name;
    }
    return &substituteHost.resultSlot;
}

}  // extern "C"
