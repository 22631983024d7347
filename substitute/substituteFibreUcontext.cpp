// The script fibre on POSIX contexts, with AddressSanitizer told of every switch of stacks.
#include <ucontext.h>

#include <cstddef>
#include <cstdlib>

#include "substitute/fibre.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define NUBILO_FIBRE_ANNOTATIONS 1
#endif

namespace {

struct Fibre {
    ucontext_t hostContext{};
    ucontext_t scriptContext{};
    char* stack = nullptr;
    void (*entry)() = nullptr;
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
constexpr std::size_t stackSize = 1 << 20;

void start() {
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(nullptr, &fibre.hostStackBottom, &fibre.hostStackSize);
#endif
    fibre.entry();
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(nullptr, fibre.hostStackBottom, fibre.hostStackSize);
#endif
    // Returning resumes the host through uc_link.
}

}  // namespace

bool fibreToScript(void (*entry)()) {
    if (!fibre.started) {
        fibre.entry = entry;
        fibre.stack = static_cast<char*>(std::malloc(stackSize));
        getcontext(&fibre.scriptContext);
        fibre.scriptContext.uc_stack.ss_sp = fibre.stack;
        fibre.scriptContext.uc_stack.ss_size = stackSize;
        fibre.scriptContext.uc_link = &fibre.hostContext;
        makecontext(&fibre.scriptContext, start, 0);
        fibre.started = true;
    }
    fibre.inScript = true;
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(&fibre.hostFakeStack, fibre.stack, stackSize);
#endif
    swapcontext(&fibre.hostContext, &fibre.scriptContext);
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(fibre.hostFakeStack, nullptr, nullptr);
#endif
    fibre.inScript = false;
    return true;
}

void fibreToHost() {
    if (!fibre.inScript) return;
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_start_switch_fiber(&fibre.scriptFakeStack, fibre.hostStackBottom, fibre.hostStackSize);
#endif
    swapcontext(&fibre.scriptContext, &fibre.hostContext);
#ifdef NUBILO_FIBRE_ANNOTATIONS
    __sanitizer_finish_switch_fiber(fibre.scriptFakeStack, &fibre.hostStackBottom, &fibre.hostStackSize);
#endif
}

void fibreDrop() {
    std::free(fibre.stack);
    fibre.stack = nullptr;
    fibre.started = false;
}
