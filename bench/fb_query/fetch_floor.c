#include "fetch_floor.h"

#include <ibase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct TFloor {
  isc_db_handle db;
  isc_tr_handle tr;
  isc_stmt_handle stmt;
  XSQLDA* in;
  XSQLDA* out;
  char* buffers;
  short* indicators;
  char text[8][128];
  char param[2][64];
};

static int failed(const ISC_STATUS* status, const char* what) {
  if (status[0] == 1 && status[1]) {
    fprintf(stderr, "%s failed:\n", what);
    isc_print_status(status);
    return 1;
  }
  return 0;
}

TFloor* floor_open(const char* dbName, const char* user, const char* sql, const char* param1,
                   const char* param2) {
  ISC_STATUS status[20];
  TFloor* f = calloc(1, sizeof *f);
  char dpb[256];
  int n = 0;
  dpb[n++] = isc_dpb_version1;
  dpb[n++] = isc_dpb_lc_ctype;
  dpb[n++] = 7;
  memcpy(dpb + n, "WIN1251", 7);
  n += 7;
  dpb[n++] = isc_dpb_user_name;
  dpb[n++] = (char)strlen(user);
  memcpy(dpb + n, user, strlen(user));
  n += (int)strlen(user);
  isc_attach_database(status, 0, dbName, &f->db, (short)n, dpb);
  if (failed(status, "attach")) return NULL;
  static char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_nowait, isc_tpb_rec_version,
                       isc_tpb_read_committed};
  isc_start_transaction(status, &f->tr, 1, &f->db, (unsigned short)sizeof tpb, tpb);
  if (failed(status, "start")) return NULL;
  isc_dsql_allocate_statement(status, &f->db, &f->stmt);
  f->out = calloc(1, XSQLDA_LENGTH(8));
  f->out->version = SQLDA_VERSION1;
  f->out->sqln = 8;
  isc_dsql_prepare(status, &f->tr, &f->stmt, 0, sql, 1, f->out);
  if (failed(status, "prepare")) return NULL;
  f->in = calloc(1, XSQLDA_LENGTH(2));
  f->in->version = SQLDA_VERSION1;
  f->in->sqln = f->in->sqld = 2;
  const char* params[2] = {param1, param2};
  for (int i = 0; i < 2; ++i) {
    XSQLVAR* v = &f->in->sqlvar[i];
    strcpy(f->param[i], params[i]);
    v->sqltype = SQL_TEXT;
    v->sqllen = (short)strlen(params[i]);
    v->sqldata = f->param[i];
  }
  size_t total = 0;
  for (int i = 0; i < f->out->sqld; ++i) total += (size_t)f->out->sqlvar[i].sqllen + 8;
  f->buffers = calloc(1, total);
  f->indicators = calloc(8, sizeof(short));
  char* p = f->buffers;
  for (int i = 0; i < f->out->sqld; ++i) {
    XSQLVAR* v = &f->out->sqlvar[i];
    v->sqldata = p;
    v->sqlind = &f->indicators[i];
    p += v->sqllen + 8;
  }
  return f;
}

long floor_run(TFloor* f) {
  ISC_STATUS status[20];
  isc_dsql_execute(status, &f->tr, &f->stmt, 1, f->in);
  if (failed(status, "execute")) return -1;
  long rows = 0;
  while (isc_dsql_fetch(status, &f->stmt, 1, f->out) == 0) {
    for (int i = 0; i < f->out->sqld; ++i) {
      const XSQLVAR* v = &f->out->sqlvar[i];
      char* t = f->text[i];
      if ((v->sqltype & 1) && *v->sqlind == -1) {
        t[0] = 0;
        continue;
      }
      switch (v->sqltype & ~1) {
        case SQL_VARYING: {
          unsigned short len;
          memcpy(&len, v->sqldata, 2);
          memcpy(t, v->sqldata + 2, len);
          t[len] = 0;
          break;
        }
        case SQL_TEXT:
          memcpy(t, v->sqldata, (size_t)v->sqllen);
          t[v->sqllen] = 0;
          break;
        case SQL_SHORT: {
          short s;
          memcpy(&s, v->sqldata, 2);
          snprintf(t, 128, "%d", s);
          break;
        }
        case SQL_LONG: {
          int l;
          memcpy(&l, v->sqldata, 4);
          snprintf(t, 128, "%d", l);
          break;
        }
        case SQL_DOUBLE: {
          double d;
          memcpy(&d, v->sqldata, 8);
          snprintf(t, 128, "%.15g", d);
          break;
        }
        default:
          t[0] = 0;
      }
    }
    ++rows;
  }
  isc_dsql_free_statement(status, &f->stmt, DSQL_close);
  return rows;
}

void floor_close(TFloor* f) {
  ISC_STATUS status[20];
  isc_dsql_free_statement(status, &f->stmt, DSQL_drop);
  isc_commit_transaction(status, &f->tr);
  isc_detach_database(status, &f->db);
  free(f->in);
  free(f->out);
  free(f->buffers);
  free(f->indicators);
  free(f);
}
