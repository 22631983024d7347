#pragma once
// Work that must not hold the game's frame while it waits for the disk (the star's rewrite).
// The shipped plug-in runs it on a thread of its own (workerWindows.cpp); builds driven by the
// substitute host link the substitute's worker instead, which runs it at once on the caller's
// thread, or when a test says so.

// Starts job(argument) and returns without waiting for it; the plug-in's module stays loaded
// until the job has returned. The job catches whatever it throws: off the fibre an escaping
// exception would end the game. False when it could not be started: the caller runs it itself.
bool runOffFibre(void (*job)(void*) noexcept, void* argument) noexcept;
