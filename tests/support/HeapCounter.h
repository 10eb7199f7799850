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

}  // namespace heap_counter
