#pragma once
// The cycle step, and the star's life in the settings file.

#include <cstdint>
#include <string>
#include <vector>

#include "fileAccess/fileAccess.h"
#include "settings/catalogue.h"

// The cycle step, once per pass while no step is under way. When the current weather's interval
// is up it starts the step's file work (runStarStep) off the fibre, and the first pass that finds
// it finished collects its result (collectStarStep) -- at once where the work ran at once. The
// star road moves the star in the file to the weather after it, which the reload on the next pass
// applies; the custom road steps the custom cycle in memory and applies its weather; the default
// road writes a lone "*" onto the weather showing and applies that weather again. `settling`: the
// loaded file is unusable and left alone for now, so the step does not write over it.
void advanceCycle(bool settling);

// Whether a step's file work has been started and its result not yet collected: while it has,
// nothing else touches the settings file.
bool starStepUnderWay();

// Collects the finished step's result on the fibre: its log lines, then its effect on the cycle.
// While the work still runs it only says, once, that it is late. Only while starStepUnderWay.
void collectStarStep();

// A new load starts a new wait: a busy rewrite before it is no hold of the next step's.
void endStarStepHold();

// Forgets the step's bookkeeping, as at module load. Never while its work runs.
void resetStarStep();

// One due step: what the file work is given, what it finds, and its log lines in the order the
// step makes them, for the fibre to write.
struct StarStep {
    // Given by the fibre.
    IntervalMap intervals;
    std::vector<WeatherEntry> weathers;
    std::int32_t position = 0;  // the weather showing; the star road makes it the star's next
    bool customActive = false;
    bool settling = false;      // the loaded file is unusable and settling: it is not written over
    FileIdentity expected;      // the file the last load read: only that file is rewritten, and
                                // nothing where no load read one (no content hash)
    // Found by the file work.
    std::int32_t star = -1;     // the single starred setting line's weather; -1 for none
    bool attempted = false;     // a rewrite was tried, and `outcome` says how it went
    ReplaceOutcome outcome = ReplaceOutcome::failed;
    bool unseenSave = false;    // the file changed without a new time or size, or no load has
                                // read it: reload it
    bool thrown = false;        // the work itself failed (out of memory, say)
    std::vector<std::string> messages;
};

// The step's file work: the star lookup, then on the star road and the default road the
// validation and the rewrite, each opening the file anew. Logs nothing and throws nothing.
void runStarStep(StarStep& step) noexcept;
std::int32_t findStarIndex(StarStep& step);
bool validateSettings(StarStep& step);
// Moves the file's single star to step.position, writing the loaded minutes.
void updateSettingsStar(const IntervalMap& intervals, const std::vector<WeatherEntry>& weathers, StarStep& step);
