// POSIX names for the Windows build of the tests: mkdtemp (the tests create
// scratch folders the POSIX way) and malloc_usable_size (the heap counter of
// tests/support sizes the blocks it counts).
#pragma once

#include <direct.h>
#include <io.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

inline char* mkdtemp(char* tmpl) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    char* x = tmpl + strlen(tmpl) - 6;
    for (int i = 0; i < 6; ++i) x[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[rand() % 36];
    if (_mkdir(tmpl) == 0) return tmpl;
  }
  return nullptr;
}

inline size_t malloc_usable_size(void* p) { return _msize(p); }
