/* The benchmark's order: ten rows for card 5001 at station HALL-1, the same
   document the wrk script (bench/wrk/addorder.lua) posts. Items run through
   1001..3000, skipping those on the stop list (numbers ending in 50). */
#ifndef BENCH_ORDER_H
#define BENCH_ORDER_H

#include <stdio.h>
#include <stdlib.h>

static char* make_order(const char* guid, unsigned long long n, size_t* len) {
  size_t cap = 4096, o = 0;
  char* p = malloc(cap);
  o += (size_t)snprintf(p + o, cap - o,
                        "<order><GUID>%s</GUID><DEVICEID>HALL-1</DEVICEID><PIN>5001</PIN>"
                        "<TABLE>%llu</TABLE><FOODS>",
                        guid, n % 20 + 1);
  for (int j = 0; j < 10; ++j) {
    unsigned id = 1001 + (unsigned)((n * 37 + (unsigned long long)j * 191) % 2000);
    if (id % 100 == 50) ++id;
    o += (size_t)snprintf(
        p + o, cap - o,
        "<f>%u<count>%d</count><weight>0</weight><isModificator>%s</isModificator></f>", id,
        j % 3 + 1, j == 3 ? "yes" : "no");
  }
  o += (size_t)snprintf(p + o, cap - o, "</FOODS></order>");
  *len = o;
  return p;
}

#endif
