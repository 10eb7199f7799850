/* A stand-in for the database client library whose statements answer from a
 * script: a test writes what each statement describes and returns, and which
 * calls fail with which status code, and then runs the program's own code
 * against it. Plain C, for the Windows build too.
 *
 * The script is the file named by the environment variable
 * DORVANA_SCRIPTED_CLIENT (else scripted_client.txt in the working folder),
 * read again at every attach. One directive a line; blank lines and lines
 * starting with '#' are skipped:
 *
 *   attach CODE          attach fails with status code CODE
 *   commit CODE          every commit fails with CODE
 *   delay N MS           the Nth commit (from 1) takes MS milliseconds, then
 *                        answers as any other (fb_cancel_operation, which logs
 *                        "cancel N", does not cut it short)
 *   sqlcode N            the SQL code the error routines report (default -901)
 *   line TEXT            one line of the error text (as many as needed)
 *   log FILE             appends every call to FILE, one line each: "attach",
 *                        "detach", "start wait" or "start nowait" (the
 *                        transaction's wait mode), "commit", "rollback",
 *                        "execute N" and "execute N failed" (N: the index of
 *                        the statement in the script, from 0)
 *
 *   on TEXT              a statement: its text contains TEXT. The lines after
 *                        it, up to the next "on", describe it:
 *   type KIND              select (default), insert, update, delete or exec
 *   param TYPE             one input parameter
 *   column NAME TYPE       one output column (NULL allowed)
 *   row V1|V2|...          one row that fetch returns; \N is NULL
 *   execute CODE           executing it fails with status code CODE
 *
 * TYPE is int, bigint, double, char N, varchar N, date or timestamp; a date is
 * written as its day number (days since 17 November 1858), a timestamp as the
 * day number and the ten-thousandths of a second into the day ("60000 0").
 *
 * Statements with the same TEXT are used in the order written, one per
 * execution; the last one of a TEXT serves every execution after that. A
 * statement that matches no "on" fails to prepare. The program asks the
 * server's date first; a script answers it with
 *   on CAST('NOW'
 *   column CAST timestamp
 *   row 60000 0 */
#include <ibase.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "FakeInfo.h"

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

enum { kMaxStatements = 32, kMaxFields = 16, kMaxRows = 32, kMaxLines = 8, kTextSize = 256 };

typedef struct {
  short type; /* SQL_... without the NULL bit */
  short length;
  char name[32];
} field_t;

typedef struct {
  char text[kTextSize];
  int kind; /* isc_info_sql_stmt_... */
  field_t params[kMaxFields];
  int param_count;
  field_t columns[kMaxFields];
  int column_count;
  char* rows[kMaxRows]; /* each a copy of the row line */
  int row_count;
  ISC_STATUS execute_code;
  int used;
} statement_t;

static statement_t g_statements[kMaxStatements];
static int g_statement_count;
static ISC_STATUS g_attach_code, g_commit_code;
static int g_delay_commit, g_delay_ms, g_commits;
static int g_sqlcode = -901;
static char g_lines[kMaxLines][kTextSize];
static int g_line_count, g_next_line;
static char g_log[kTextSize];

/* The open statement handles: which script entry each one answers from. */
typedef struct {
  int open;
  int entry;    /* described by this script entry, -1 for none */
  int executed; /* the entry the last execution used */
  int next_row;
} handle_t;
static handle_t g_handles[64];

/* ---- the log ------------------------------------------------------------------ */

static void trace(const char* format, ...) {
  FILE* f;
  va_list args;
  if (!g_log[0]) return;
  /* Binary: every line ends in LF on Windows as well. */
  f = fopen(g_log, "ab");
  if (!f) return;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

/* ---- the script --------------------------------------------------------------- */

static void forget_script(void) {
  int i, r;
  for (i = 0; i < g_statement_count; ++i)
    for (r = 0; r < g_statements[i].row_count; ++r) free(g_statements[i].rows[r]);
  memset(g_statements, 0, sizeof g_statements);
  g_statement_count = 0;
  g_attach_code = g_commit_code = 0;
  g_delay_commit = g_delay_ms = g_commits = 0;
  g_sqlcode = -901;
  g_line_count = 0;
  g_log[0] = 0;
}

static int read_type(const char* text, field_t* field) {
  int n = 0;
  if (strncmp(text, "int", 3) == 0 && (text[3] == 0 || text[3] == ' ')) {
    field->type = SQL_LONG;
    field->length = 4;
  } else if (strncmp(text, "bigint", 6) == 0) {
    field->type = SQL_INT64;
    field->length = 8;
  } else if (strncmp(text, "double", 6) == 0) {
    field->type = SQL_DOUBLE;
    field->length = 8;
  } else if (strncmp(text, "timestamp", 9) == 0) {
    field->type = SQL_TIMESTAMP;
    field->length = 8;
  } else if (strncmp(text, "date", 4) == 0) {
    field->type = SQL_TYPE_DATE;
    field->length = 4;
  } else if (sscanf(text, "varchar %d", &n) == 1 && n > 0) {
    field->type = SQL_VARYING;
    field->length = (short)n;
  } else if (sscanf(text, "char %d", &n) == 1 && n > 0) {
    field->type = SQL_TEXT;
    field->length = (short)n;
  } else {
    return 0;
  }
  return 1;
}

static int read_kind(const char* text) {
  if (strcmp(text, "insert") == 0) return isc_info_sql_stmt_insert;
  if (strcmp(text, "update") == 0) return isc_info_sql_stmt_update;
  if (strcmp(text, "delete") == 0) return isc_info_sql_stmt_delete;
  if (strcmp(text, "exec") == 0) return isc_info_sql_stmt_exec_procedure;
  return isc_info_sql_stmt_select;
}

static void read_script(void) {
  const char* path = getenv("DORVANA_SCRIPTED_CLIENT");
  char line[1024];
  FILE* f;
  statement_t* s = NULL;
  forget_script();
  f = fopen(path && *path ? path : "scripted_client.txt", "r");
  if (!f) return;
  while (fgets(line, sizeof line, f)) {
    size_t n = strlen(line);
    char* arg;
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    if (n == 0 || line[0] == '#') continue;
    arg = strchr(line, ' ');
    if (arg)
      *arg++ = 0;
    else
      arg = line + n;
    if (strcmp(line, "attach") == 0) {
      g_attach_code = atol(arg);
    } else if (strcmp(line, "commit") == 0) {
      g_commit_code = atol(arg);
    } else if (strcmp(line, "delay") == 0) {
      sscanf(arg, "%d %d", &g_delay_commit, &g_delay_ms);
    } else if (strcmp(line, "sqlcode") == 0) {
      g_sqlcode = atoi(arg);
    } else if (strcmp(line, "line") == 0 && g_line_count < kMaxLines) {
      strncpy(g_lines[g_line_count++], arg, kTextSize - 1);
    } else if (strcmp(line, "log") == 0) {
      strncpy(g_log, arg, kTextSize - 1);
    } else if (strcmp(line, "on") == 0 && g_statement_count < kMaxStatements) {
      s = &g_statements[g_statement_count++];
      strncpy(s->text, arg, kTextSize - 1);
      s->kind = isc_info_sql_stmt_select;
    } else if (!s) {
      continue; /* a statement's line before any "on" */
    } else if (strcmp(line, "type") == 0) {
      s->kind = read_kind(arg);
    } else if (strcmp(line, "param") == 0 && s->param_count < kMaxFields) {
      if (read_type(arg, &s->params[s->param_count])) ++s->param_count;
    } else if (strcmp(line, "column") == 0 && s->column_count < kMaxFields) {
      field_t* c = &s->columns[s->column_count];
      char* type = strchr(arg, ' ');
      if (!type) continue;
      *type++ = 0;
      strncpy(c->name, arg, sizeof c->name - 1);
      if (read_type(type, c)) ++s->column_count;
    } else if (strcmp(line, "row") == 0 && s->row_count < kMaxRows) {
      s->rows[s->row_count] = malloc(strlen(arg) + 1);
      if (s->rows[s->row_count]) strcpy(s->rows[s->row_count++], arg);
    } else if (strcmp(line, "execute") == 0) {
      s->execute_code = atol(arg);
    }
  }
  fclose(f);
}

/* The entry for the next execution of a statement of this text: the first one
 * not used yet, else the last one. -1 when none matches. */
static int find_entry(const char* text) {
  int i, last = -1;
  for (i = 0; i < g_statement_count; ++i) {
    if (!strstr(text, g_statements[i].text)) continue;
    if (!g_statements[i].used) return i;
    last = i;
  }
  return last;
}

/* ---- status vectors ----------------------------------------------------------- */

static ISC_STATUS fail(ISC_STATUS* status, ISC_STATUS code) {
  status[0] = isc_arg_gds;
  status[1] = code;
  status[2] = isc_arg_end;
  return code;
}

static ISC_STATUS ok(ISC_STATUS* status) {
  status[0] = isc_arg_gds;
  status[1] = 0;
  status[2] = isc_arg_end;
  return 0;
}

EXPORT ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
  (void)status;
  g_next_line = 0;
  return g_sqlcode;
}

EXPORT void isc_sql_interprete(short code, ISC_SCHAR* buffer, short length) {
  (void)code;
  snprintf(buffer, (size_t)length, "SQL error code = %d", g_sqlcode);
}

/* Yields the script's error lines one by one; isc_sqlcode, which the error
 * routines call first, starts the walk again. */
EXPORT ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
  if (g_next_line >= g_line_count) return 0;
  strcpy(buffer, g_lines[g_next_line++]);
  ++*cursor;
  return (ISC_LONG)strlen(buffer) + 1;
}

EXPORT ISC_LONG isc_vax_integer(const ISC_SCHAR* p, short length) {
  ISC_LONG value = 0;
  int i;
  for (i = length - 1; i >= 0; --i) value = (value << 8) | (unsigned char)p[i];
  return value;
}

/* ---- the connection --------------------------------------------------------- */

EXPORT ISC_STATUS isc_attach_database(ISC_STATUS* status, short name_length, const ISC_SCHAR* name,
                                      isc_db_handle* handle, short dpb_length,
                                      const ISC_SCHAR* dpb) {
  (void)name_length;
  (void)name;
  (void)dpb_length;
  (void)dpb;
  read_script();
  trace("attach");
  if (g_attach_code) return fail(status, g_attach_code);
  *handle = 7;
  return ok(status);
}

EXPORT ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* handle) {
  trace("detach");
  *handle = 0;
  return ok(status);
}

EXPORT ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* handle, short item_length,
                                    const ISC_SCHAR* items, short result_length,
                                    ISC_SCHAR* result) {
  (void)handle;
  (void)item_length;
  fake_database_info(items, result_length, result, "LI-V3.0.11.33703 Scripted 3.0");
  return ok(status);
}

/* ---- transactions -------------------------------------------------------------- */

/* The block layout the binding passes: database handle address, TPB length, TPB. */
struct teb {
  isc_db_handle* database;
  int tpb_length;
  const char* tpb;
};

/* True when the transaction parameter block asks to wait on locks. */
static int waits(const unsigned char* tpb, int length) {
  int i = 1; /* after the version */
  int wait = 0;
  while (i < length) {
    const unsigned char item = tpb[i++];
    if (item == isc_tpb_wait)
      wait = 1;
    else if (item == isc_tpb_nowait)
      wait = 0;
    else if (item == isc_tpb_lock_timeout || item == isc_tpb_lock_read ||
             item == isc_tpb_lock_write)
      i += (i < length ? tpb[i] : 0) + 1; /* a counted value */
  }
  return wait;
}

EXPORT ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* handle, short count,
                                     void* blocks) {
  const struct teb* t = (const struct teb*)blocks;
  trace("start %s",
        count > 0 && waits((const unsigned char*)t[0].tpb, t[0].tpb_length) ? "wait" : "nowait");
  *handle = 9;
  return ok(status);
}

static void sleep_ms(int ms) {
#ifdef _WIN32
  Sleep((DWORD)ms);
#else
  struct timespec t;
  t.tv_sec = ms / 1000;
  t.tv_nsec = (long)(ms % 1000) * 1000000L;
  nanosleep(&t, NULL);
#endif
}

EXPORT ISC_STATUS fb_cancel_operation(ISC_STATUS* status, isc_db_handle* handle,
                                      unsigned short option) {
  (void)handle;
  trace("cancel %d", (int)option);
  return ok(status);
}

EXPORT ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* handle) {
  trace("commit");
  if (++g_commits == g_delay_commit) sleep_ms(g_delay_ms);
  if (g_commit_code) return fail(status, g_commit_code);
  *handle = 0;
  return ok(status);
}

EXPORT ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* handle) {
  (void)handle;
  trace("commit");
  if (g_commit_code) return fail(status, g_commit_code);
  return ok(status);
}

EXPORT ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* handle) {
  trace("rollback");
  *handle = 0;
  return ok(status);
}

EXPORT ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* handle) {
  (void)handle;
  trace("rollback");
  return ok(status);
}

/* ---- statements ---------------------------------------------------------------- */

static handle_t* handle_of(const isc_stmt_handle* handle) {
  const unsigned index = (unsigned)*handle;
  if (index == 0 || index > sizeof g_handles / sizeof g_handles[0] || !g_handles[index - 1].open)
    return NULL;
  return &g_handles[index - 1];
}

EXPORT ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db,
                                            isc_stmt_handle* handle) {
  unsigned i;
  (void)db;
  for (i = 0; i < sizeof g_handles / sizeof g_handles[0]; ++i) {
    if (g_handles[i].open) continue;
    memset(&g_handles[i], 0, sizeof g_handles[i]);
    g_handles[i].open = 1;
    g_handles[i].entry = g_handles[i].executed = -1;
    *handle = (isc_stmt_handle)(i + 1);
    return ok(status);
  }
  return fail(status, isc_virmemexh);
}

EXPORT ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* handle,
                                          unsigned short option) {
  handle_t* h = handle_of(handle);
  if (!h) return fail(status, isc_bad_stmt_handle);
  if (option == DSQL_drop) {
    h->open = 0;
    *handle = 0;
  } else {
    h->executed = -1;
  }
  return ok(status);
}

/* Fills the first sqln variables of an area with fields, and sqld with their count. */
static void describe(XSQLDA* area, const field_t* fields, int count) {
  int i;
  area->sqld = (ISC_SHORT)count;
  for (i = 0; i < count && i < area->sqln; ++i) {
    XSQLVAR* v = &area->sqlvar[i];
    const size_t n = strlen(fields[i].name);
    v->sqltype = (ISC_SHORT)(fields[i].type | 1);
    v->sqlscale = 0;
    v->sqlsubtype = 0;
    v->sqllen = fields[i].length;
    memcpy(v->sqlname, fields[i].name, n);
    v->sqlname_length = (ISC_SHORT)n;
    memcpy(v->aliasname, fields[i].name, n);
    v->aliasname_length = (ISC_SHORT)n;
    v->relname_length = 0;
    v->ownname_length = 0;
  }
}

EXPORT ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* handle,
                                   unsigned short length, const ISC_SCHAR* text,
                                   unsigned short dialect, XSQLDA* columns) {
  handle_t* h = handle_of(handle);
  (void)tr;
  (void)length;
  (void)dialect;
  if (!h) return fail(status, isc_bad_stmt_handle);
  h->entry = find_entry(text);
  if (h->entry < 0) return fail(status, isc_dsql_error);
  if (columns) {
    const statement_t* s = &g_statements[h->entry];
    describe(columns, s->columns, s->column_count);
  }
  return ok(status);
}

EXPORT ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* handle, short item_length,
                                    const ISC_SCHAR* items, short buffer_length,
                                    ISC_SCHAR* buffer) {
  handle_t* h = handle_of(handle);
  (void)item_length;
  if (!h || h->entry < 0) return fail(status, isc_bad_stmt_handle);
  memset(buffer, 0, (size_t)buffer_length);
  if (items[0] == isc_info_sql_stmt_type && buffer_length >= 8) {
    fake_put_number(buffer, isc_info_sql_stmt_type, g_statements[h->entry].kind);
  } else {
    buffer[0] = isc_info_end;
  }
  return ok(status);
}

EXPORT ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* handle,
                                         unsigned short dialect, XSQLDA* params) {
  handle_t* h = handle_of(handle);
  (void)dialect;
  if (!h || h->entry < 0) return fail(status, isc_bad_stmt_handle);
  describe(params, g_statements[h->entry].params, g_statements[h->entry].param_count);
  return ok(status);
}

EXPORT ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* handle,
                                    unsigned short dialect, XSQLDA* columns) {
  handle_t* h = handle_of(handle);
  (void)dialect;
  if (!h || h->entry < 0) return fail(status, isc_bad_stmt_handle);
  describe(columns, g_statements[h->entry].columns, g_statements[h->entry].column_count);
  return ok(status);
}

static ISC_STATUS execute(ISC_STATUS* status, isc_stmt_handle* handle) {
  handle_t* h = handle_of(handle);
  int entry;
  if (!h || h->entry < 0) return fail(status, isc_bad_stmt_handle);
  entry = find_entry(g_statements[h->entry].text);
  g_statements[entry].used = 1;
  h->executed = entry;
  h->next_row = 0;
  if (g_statements[entry].execute_code) {
    trace("execute %d failed", entry);
    h->executed = -1;
    return fail(status, g_statements[entry].execute_code);
  }
  trace("execute %d", entry);
  return ok(status);
}

EXPORT ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* handle,
                                   unsigned short dialect, const XSQLDA* params) {
  (void)tr;
  (void)dialect;
  (void)params;
  return execute(status, handle);
}

EXPORT ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* handle,
                                    unsigned short dialect, const XSQLDA* params,
                                    const XSQLDA* columns) {
  (void)tr;
  (void)dialect;
  (void)params;
  (void)columns;
  return execute(status, handle);
}

/* Writes one field of a row line into a column's buffer. */
static void put_value(XSQLVAR* v, const char* text, size_t length) {
  char value[kTextSize];
  const int is_null = length == 2 && text[0] == '\\' && text[1] == 'N';
  if (length >= sizeof value) length = sizeof value - 1;
  memcpy(value, text, length);
  value[length] = 0;
  if (v->sqlind) *v->sqlind = (ISC_SHORT)(is_null ? -1 : 0);
  if (is_null || !v->sqldata) return;
  switch (v->sqltype & ~1) {
    case SQL_LONG: {
      ISC_LONG n = (ISC_LONG)atol(value);
      memcpy(v->sqldata, &n, sizeof n);
      break;
    }
    case SQL_INT64: {
      ISC_INT64 n = (ISC_INT64)strtoll(value, NULL, 10);
      memcpy(v->sqldata, &n, sizeof n);
      break;
    }
    case SQL_DOUBLE: {
      double d = strtod(value, NULL);
      memcpy(v->sqldata, &d, sizeof d);
      break;
    }
    case SQL_TYPE_DATE: {
      ISC_DATE day = (ISC_DATE)atol(value);
      memcpy(v->sqldata, &day, sizeof day);
      break;
    }
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP t;
      long day = 0;
      unsigned long time = 0;
      sscanf(value, "%ld %lu", &day, &time);
      t.timestamp_date = (ISC_DATE)day;
      t.timestamp_time = (ISC_TIME)time;
      memcpy(v->sqldata, &t, sizeof t);
      break;
    }
    case SQL_VARYING: {
      ISC_SHORT n = (ISC_SHORT)(length < (size_t)v->sqllen ? length : (size_t)v->sqllen);
      memcpy(v->sqldata, &n, sizeof n);
      memcpy(v->sqldata + sizeof n, value, (size_t)n);
      break;
    }
    case SQL_TEXT: {
      const size_t n = length < (size_t)v->sqllen ? length : (size_t)v->sqllen;
      memset(v->sqldata, ' ', (size_t)v->sqllen);
      memcpy(v->sqldata, value, n);
      break;
    }
  }
}

EXPORT ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* handle,
                                 unsigned short dialect, const XSQLDA* columns) {
  handle_t* h = handle_of(handle);
  const statement_t* s;
  const char* field;
  int i;
  (void)dialect;
  if (!h || h->executed < 0) return fail(status, isc_dsql_cursor_err);
  s = &g_statements[h->executed];
  if (h->next_row >= s->row_count) {
    ok(status);
    return 100;
  }
  field = s->rows[h->next_row++];
  for (i = 0; i < columns->sqld && i < columns->sqln; ++i) {
    const char* end = strchr(field, '|');
    const size_t length = end ? (size_t)(end - field) : strlen(field);
    put_value((XSQLVAR*)&columns->sqlvar[i], field, length);
    field = end ? end + 1 : field + length;
  }
  return ok(status);
}

EXPORT ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db,
                                             isc_tr_handle* tr, unsigned short length,
                                             const ISC_SCHAR* text, unsigned short dialect,
                                             const XSQLDA* params) {
  isc_stmt_handle handle = 0;
  ISC_STATUS code;
  (void)tr;
  (void)length;
  (void)dialect;
  (void)params;
  if (isc_dsql_alloc_statement2(status, db, &handle)) return status[1];
  code = isc_dsql_prepare(status, tr, &handle, 0, text, 1, NULL);
  if (code == 0) code = execute(status, &handle);
  g_handles[handle - 1].open = 0;
  return code;
}

/* ---- the library's version ------------------------------------------------------ */

EXPORT void isc_get_client_version(ISC_SCHAR* text) { strcpy(text, "Scripted 3.0"); }
EXPORT int isc_get_client_major_version(void) { return 3; }
EXPORT int isc_get_client_minor_version(void) { return 0; }
