// Counts what the global operator new holds, so a test can bound the memory a
// structure costs against the size of its input. Linked into a test program
// through tests/support/HeapCounter.cpp, which replaces operator new and delete.
#pragma once

#include <cstddef>

namespace heap_counter {

// Bytes allocated through operator new and not yet freed.
size_t Live();
// The most Live() has been since the last ResetPeak().
size_t Peak();
void ResetPeak();

// Counted stand-ins for malloc, free, realloc and strdup, for a C library that
// takes its allocator (a block it frees may come from before they were set).
void* Malloc(size_t size);
void Free(void* p);
void* Realloc(void* p, size_t size);
char* Strdup(const char* s);

}  // namespace heap_counter
