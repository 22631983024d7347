#include "cycle/cycleState.h"

#include "host/clock.h"

CycleState initialCycleState() {
    CycleState state;
    state.lastChangeTime = currentTime();
    return state;
}

CycleState cycleState = initialCycleState();

std::int32_t currentCatalogueIndex(const CycleState& state) {
    const auto size = static_cast<std::int64_t>(state.workingCatalogue.size());
    if (size == 0) return -1;
    std::int64_t index = state.currentPosition;
    if (state.customActive && !state.customCycle.empty()) {
        const auto length = static_cast<std::int64_t>(state.customCycle.size());
        index = state.customCycle[static_cast<std::size_t>(((index % length) + length) % length)];
    }
    return static_cast<std::int32_t>(((index % size) + size) % size);
}
