// Allocation failures on demand: malloc, calloc, realloc and free of the code linked into a test
// binary are wrapped at link time, counted, and the chosen one made to fail.
#ifndef PARKHAUS_FAILALLOC_H
#define PARKHAUS_FAILALLOC_H

#include <cstddef>

extern long failIn;          // allocations left before the failing one; below zero none fails
extern size_t failedSize;    // the size asked for by the allocation that failed; set to 0 to watch
extern size_t largestAsked;  // the largest block asked for; set to 0 to watch
extern long liveBlocks;      // blocks allocated through the wrappers and not yet freed

#endif
