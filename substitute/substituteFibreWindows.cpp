// The script fibre on Windows fibres, as the real host runs its scripts.
#include <windows.h>

#include <cstddef>

#include "substitute/fibre.h"

namespace {

struct Fibre {
    void* host = nullptr;
    void* script = nullptr;
    void (*entry)() = nullptr;
    bool inScript = false;
};

Fibre fibre;
constexpr std::size_t stackSize = 1 << 20;

void CALLBACK start(void*) {
    fibre.entry();
    for (;;) SwitchToFiber(fibre.host);
}

}  // namespace

bool fibreToScript(void (*entry)()) {
    if (fibre.host == nullptr) {
        fibre.host = ConvertThreadToFiber(nullptr);
#ifdef __GNUC__
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"  // MinGW's inline reading of the fibre pointer
#endif
        if (fibre.host == nullptr) fibre.host = GetCurrentFiber();
#ifdef __GNUC__
#pragma GCC diagnostic pop
#endif
    }
    if (fibre.script == nullptr) {
        fibre.entry = entry;
        fibre.script = CreateFiber(stackSize, start, nullptr);
    }
    fibre.inScript = true;
    SwitchToFiber(fibre.script);
    fibre.inScript = false;
    return true;
}

void fibreToHost() {
    if (fibre.inScript) SwitchToFiber(fibre.host);
}

void fibreDrop() {
    if (fibre.script != nullptr) DeleteFiber(fibre.script);
    fibre.script = nullptr;
}
