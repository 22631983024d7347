#include "substitute/substituteHost.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "substitute/fibre.h"
#include "weather/applyWeather.h"

SubstituteHost substituteHost;

SubstituteHost& substituteState() { return substituteHost; }

namespace {

// The script's fibre is abandoned, not unwound, when the host is reset: the script's loop holds
// nothing of its own between passes.
void runScript() {
    substituteHost.script();
    substituteHost.scriptReturned = true;
}

void switchToScript() {
    if (!fibreToScript(runScript)) substituteHost.scriptReturned = true;  // no fibres here
}

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
    fibreDrop();
    substituteHost = SubstituteHost{};
    substituteHost.clock = clock;
    substituteHost.clockFollowed = clock;
}

std::int64_t substituteMonotonicMilliseconds() {
    SubstituteHost& host = substituteHost;
    if (host.clock > host.clockFollowed) host.monotonicMilliseconds += (host.clock - host.clockFollowed) * 1000;
    host.clockFollowed = host.clock;
    return host.monotonicMilliseconds;
}

void substituteJumpClock(std::int64_t seconds) {
    substituteMonotonicMilliseconds();  // the time that passed before the jump counts
    substituteHost.clock += seconds;
    substituteHost.clockFollowed = substituteHost.clock;
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
        fibreDrop();
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
    fibreToHost();
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
