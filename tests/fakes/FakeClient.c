/* A stand-in for the database client library, for the cases no real library
 * produces: missing entry points and scripted failures. Built in several variants:
 *   FAKE_NO_SQLCODE             without isc_sqlcode (a required entry)
 *   FAKE_NO_ROLLBACK_RETAINING  without isc_rollback_retaining
 *   FAKE_NO_CLIENT_VERSION      without isc_get_client_version
 * Every entry point the binding looks for is exported (unless left out above). The
 * test drives the library through the fake_... functions. */
#include <ibase.h>
#include <stdarg.h>
#include <string.h>

#include "FakeInfo.h"

/* Windows exports only what is marked once any entry of a DLL is (FakeStubs.c's are). */
#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

/* ---- script ---------------------------------------------------------------- */

static ISC_STATUS g_attach_code; /* non-zero: attach fails with it */
static ISC_STATUS g_commit_code; /* non-zero: commit fails with it */
static int g_sqlcode = -902;
static int g_next_line;
static char g_sql_text[1024];
static const char* g_lines[16];
static int g_line_count;
static char g_dpb[4096];
static int g_dpb_length;
static char g_tpb[4096];
static int g_tpb_length;
static int g_start_count;
static int g_rollback_count;
static int g_commit_count;
static int g_detach_count;

EXPORT void fake_reset(void) {
  g_attach_code = 0;
  g_commit_code = 0;
  g_sqlcode = -902;
  g_sql_text[0] = 0;
  g_line_count = 0;
  g_dpb_length = g_tpb_length = 0;
  g_start_count = g_rollback_count = g_commit_count = g_detach_count = 0;
}

EXPORT void fake_fail_attach(long code) { g_attach_code = code; }
EXPORT void fake_fail_commit(long code) { g_commit_code = code; }

/* The texts the error routines will find: the SQL-code text and the status lines
 * (kept by pointer; the caller keeps them alive). */
EXPORT void fake_set_texts(int sqlcode, const char* sql_text, const char** lines, int count) {
  g_sqlcode = sqlcode;
  strncpy(g_sql_text, sql_text, sizeof g_sql_text - 1);
  if (count > 16) count = 16;
  for (int i = 0; i < count; ++i) g_lines[i] = lines[i];
  g_line_count = count;
}

EXPORT int fake_last_dpb(char* out) {
  memcpy(out, g_dpb, (size_t)g_dpb_length);
  return g_dpb_length;
}
EXPORT int fake_last_tpb(char* out) {
  memcpy(out, g_tpb, (size_t)g_tpb_length);
  return g_tpb_length;
}
EXPORT int fake_start_count(void) { return g_start_count; }
EXPORT int fake_commit_count(void) { return g_commit_count; }
EXPORT int fake_rollback_count(void) { return g_rollback_count; }
EXPORT int fake_detach_count(void) { return g_detach_count; }

static ISC_STATUS fail(ISC_STATUS* status, ISC_STATUS code) {
  status[0] = 1;
  status[1] = code;
  status[2] = 0;
  return code;
}

static ISC_STATUS ok(ISC_STATUS* status) {
  status[0] = 1;
  status[1] = 0;
  status[2] = 0;
  return 0;
}

/* ---- entry points with behaviour ---------------------------------------------- */

EXPORT ISC_STATUS isc_attach_database(ISC_STATUS* status, short name_length, const ISC_SCHAR* name,
                                      isc_db_handle* handle, short dpb_length,
                                      const ISC_SCHAR* dpb) {
  (void)name_length;
  (void)name;
  g_dpb_length = dpb_length;
  memcpy(g_dpb, dpb, (size_t)dpb_length);
  if (g_attach_code) return fail(status, g_attach_code);
  *handle = 7;
  return ok(status);
}

EXPORT ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* handle) {
  ++g_detach_count;
  *handle = 0;
  return ok(status);
}

EXPORT ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* handle, short item_length,
                                    const ISC_SCHAR* items, short result_length,
                                    ISC_SCHAR* result) {
  (void)handle;
  (void)item_length;
  fake_database_info(items, result_length, result, "LI-V3.0.11.33703 Fake 3.0");
  return ok(status);
}

EXPORT ISC_LONG isc_vax_integer(const ISC_SCHAR* p, short length) {
  ISC_LONG value = 0;
  for (int i = length - 1; i >= 0; --i) value = (value << 8) | (unsigned char)p[i];
  return value;
}

/* The block layout the binding passes: database handle address, TPB length, TPB. */
struct teb {
  isc_db_handle* database;
  int tpb_length;
  const char* tpb;
};

EXPORT ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* handle, short count,
                                     void* blocks) {
  const struct teb* t = (const struct teb*)blocks;
  ++g_start_count;
  g_tpb_length = count > 0 ? t[0].tpb_length : 0;
  memcpy(g_tpb, t[0].tpb, (size_t)g_tpb_length);
  *handle = 9;
  return ok(status);
}

EXPORT ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* handle) {
  ++g_commit_count;
  if (g_commit_code) return fail(status, g_commit_code);
  *handle = 0;
  return ok(status);
}

EXPORT ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* handle) {
  ++g_rollback_count;
  *handle = 0;
  return ok(status);
}

#ifndef FAKE_NO_SQLCODE
EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
  (void)status;
  g_next_line = 0;
  return g_sqlcode;
}
#endif

EXPORT void isc_sql_interprete(short code, ISC_SCHAR* buffer, short length) {
  (void)code;
  strncpy(buffer, g_sql_text, (size_t)length - 1);
  buffer[length - 1] = 0;
}

/* Yields the scripted lines one by one; isc_sqlcode, which the error routines
 * call first, starts the walk again. */

EXPORT ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
  if (g_next_line >= g_line_count) return 0;
  strcpy(buffer, g_lines[g_next_line++]);
  ++*cursor;
  return (ISC_LONG)strlen(buffer) + 1;
}

#ifndef FAKE_NO_ROLLBACK_RETAINING
EXPORT ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* handle) {
  (void)handle;
  return ok(status);
}
#endif

#ifndef FAKE_NO_CLIENT_VERSION
EXPORT void isc_get_client_version(ISC_SCHAR* text) { strcpy(text, "Fake 3.7"); }
#endif
EXPORT int isc_get_client_major_version(void) { return 3; }
EXPORT int isc_get_client_minor_version(void) { return 7; }
