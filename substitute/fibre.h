#pragma once
// The substitute host's script fibre: one at a time. substituteFibreUcontext.cpp (POSIX),
// substituteFibreWindows.cpp and substituteFibreNone.cpp (the browser) each implement every
// call; CMake builds the one that fits.

// Runs the script: the first call starts a fibre at `entry`, later calls resume it. Returns when
// the script yields (fibreToHost) or `entry` returns. False where there are no fibres: nothing ran.
bool fibreToScript(void (*entry)());

// From inside the script: back to the host, which resumes it with the next fibreToScript.
// Outside the script: nothing.
void fibreToHost();

// Abandons the fibre without unwinding it; the next fibreToScript starts afresh.
void fibreDrop();
