/* The entry points of the forwarding fbclient.dll that gen.py cannot forward
 * one to one. Each "export: NAME" comment names one that this file defines as
 * fwd_NAME; gen.py leaves those names to it. Compiled with plain gcc for Linux: the
 * functions the Windows program calls take the Windows x64 calling
 * convention (ms_abi), or in the 32-bit module (gcc -m32) those of the 32-bit
 * client for Windows: __stdcall, and __cdecl for a variable argument list, on a
 * stack realigned for the Linux library. */
#include <ibase.h>
#include <stdarg.h>
#include <string.h>
#include <time.h>

#ifdef __i386__
#define FWD __attribute__((stdcall, force_align_arg_pointer, visibility("default")))
#define FWD_VARARGS __attribute__((cdecl, force_align_arg_pointer, visibility("default")))
/* The Windows and the Linux argument lists are the same on the 32-bit stack. */
#define win_va_list va_list
#define win_va_start va_start
#define win_va_end va_end
#else
#define FWD __attribute__((ms_abi, visibility("default")))
#define FWD_VARARGS FWD
#define win_va_list __builtin_ms_va_list
#define win_va_start __builtin_ms_va_start
#define win_va_end __builtin_ms_va_end
#endif

/* struct tm is nine ints in the Windows runtime (36 bytes) and those nine
 * followed by tm_gmtoff and tm_zone in glibc: the dates go through a Linux one. */
typedef struct {
  int v[9];
} win_tm;

static void to_win(const struct tm* t, void* out) {
  win_tm w = {{t->tm_sec, t->tm_min, t->tm_hour, t->tm_mday, t->tm_mon, t->tm_year, t->tm_wday,
               t->tm_yday, t->tm_isdst}};
  memcpy(out, &w, sizeof w);
}

static struct tm from_win(const void* in) {
  win_tm w;
  memcpy(&w, in, sizeof w);
  struct tm t = {0};
  t.tm_sec = w.v[0], t.tm_min = w.v[1], t.tm_hour = w.v[2], t.tm_mday = w.v[3];
  t.tm_mon = w.v[4], t.tm_year = w.v[5], t.tm_wday = w.v[6], t.tm_yday = w.v[7];
  t.tm_isdst = w.v[8];
  return t;
}

#define DECODE(name, type)                        \
  FWD void fwd_##name(const type* v, void* out) { \
    struct tm t = {0};                            \
    name(v, &t);                                  \
    to_win(&t, out);                              \
  }
#define ENCODE(name, type)                       \
  FWD void fwd_##name(const void* in, type* v) { \
    struct tm t = from_win(in);                  \
    name(&t, v);                                 \
  }
/* export: isc_decode_date */
DECODE(isc_decode_date, ISC_QUAD)
/* export: isc_decode_sql_date */
DECODE(isc_decode_sql_date, ISC_DATE)
/* export: isc_decode_sql_time */
DECODE(isc_decode_sql_time, ISC_TIME)
/* export: isc_decode_timestamp */
DECODE(isc_decode_timestamp, ISC_TIMESTAMP)
/* export: isc_encode_date */
ENCODE(isc_encode_date, ISC_QUAD)
/* export: isc_encode_sql_date */
ENCODE(isc_encode_sql_date, ISC_DATE)
/* export: isc_encode_sql_time */
ENCODE(isc_encode_sql_time, ISC_TIME)
/* export: isc_encode_timestamp */
ENCODE(isc_encode_timestamp, ISC_TIMESTAMP)

/* The variadic ones read their Windows argument list themselves. A
 * transaction over N databases is (handle pointer, TPB length, TPB) N times:
 * it starts through isc_start_multiple with that array. */
/* export: isc_start_transaction */
FWD_VARARGS ISC_STATUS fwd_isc_start_transaction(ISC_STATUS* status, isc_tr_handle* tr, short count,
                                                 ...) {
  enum { kMax = 16 };
  struct {
    isc_db_handle* db;
    int length; /* the library's transaction block: pointer, int, pointer */
    const ISC_SCHAR* tpb;
  } teb[kMax];
  if (count < 0 || count > kMax) count = kMax + 1;
  win_va_list ap;
  win_va_start(ap, count);
  for (int i = 0; i < count && i < kMax; ++i) {
    teb[i].db = __builtin_va_arg(ap, isc_db_handle*);
    teb[i].length = __builtin_va_arg(ap, int);
    teb[i].tpb = __builtin_va_arg(ap, const ISC_SCHAR*);
  }
  win_va_end(ap);
  if (count > kMax) { /* more databases than a test needs: refused, not overrun */
    status[0] = isc_arg_gds, status[1] = isc_max_db_per_trans_allowed, status[2] = isc_arg_end;
    return status[1];
  }
  return isc_start_multiple(status, tr, count, teb);
}

/* export: isc_expand_dpb */
FWD_VARARGS void fwd_isc_expand_dpb(ISC_SCHAR** dpb, short* length, ...) {
  /* (item, string) pairs up to a zero item, into the Linux call. */
  enum { kMax = 16 };
  int item[kMax];
  const char* text[kMax];
  int n = 0;
  win_va_list ap;
  win_va_start(ap, length);
  while (n < kMax && (item[n] = __builtin_va_arg(ap, int)) != 0)
    text[n++] = __builtin_va_arg(ap, const char*);
  win_va_end(ap);
  /* The Linux call takes its own argument list: the pairs are handed on one
   * at a time. */
  for (int i = 0; i < n; ++i) isc_expand_dpb(dpb, length, item[i], text[i], 0);
}

/* Events run the caller's function on a thread Wine does not know: the program
 * uses none, and the test library offers them as unavailable. */
/* export: isc_que_events */
FWD ISC_STATUS fwd_isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* id, short length,
                                  const ISC_UCHAR* events, ISC_EVENT_CALLBACK callback, void* arg) {
  (void)db, (void)id, (void)length, (void)events, (void)callback, (void)arg;
  status[0] = isc_arg_gds, status[1] = isc_unavailable, status[2] = isc_arg_end;
  return status[1];
}

/* export: isc_event_block */
FWD_VARARGS ISC_LONG fwd_isc_event_block(ISC_UCHAR** buffer, ISC_UCHAR** result, ISC_USHORT count,
                                         ...) {
  /* Up to 15 names, as the Linux library takes. The buffers it allocates are
   * freed with isc_free, which this library forwards. */
  const char* n[15] = {0};
  win_va_list ap;
  win_va_start(ap, count);
  if (count > 15) count = 15;
  for (int i = 0; i < count; ++i) n[i] = __builtin_va_arg(ap, const char*);
  win_va_end(ap);
  return isc_event_block(buffer, result, count, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7],
                         n[8], n[9], n[10], n[11], n[12], n[13], n[14]);
}
