// The few POSIX names the Linux-minded tests use, for their Windows build. Windows
// has no file size limit: setrlimit fails, and the test that needs it is left out
// of the Windows pass (tests/windows/run.sh).
#pragma once

#include <signal.h>

#define RLIMIT_FSIZE 1
#ifndef SIGXFSZ
#define SIGXFSZ 25
#endif
typedef unsigned long long rlim_t;
struct rlimit {
  rlim_t rlim_cur;
  rlim_t rlim_max;
};
inline int setrlimit(int, const struct rlimit*) { return -1; }
