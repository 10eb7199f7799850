// mkdtemp for the Windows build of the tests, which create scratch folders the
// POSIX way.
#pragma once

#include <direct.h>
#include <io.h>
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
