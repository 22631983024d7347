// The browser has no fibres: the designer page drives the loop's halves itself, so there is no
// registered script to run.
#include "substitute/fibre.h"

bool fibreToScript(void (*)()) { return false; }
void fibreToHost() {}
void fibreDrop() {}
