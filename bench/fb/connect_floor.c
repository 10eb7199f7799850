/* The floor for one connect: what a process that only attaches to the database
   with the service's parameters and detaches again costs when it calls the client
   library directly.
     connect_floor DBNAME USER PASSWORD [COUNT] [--full] [--exit]
   COUNT attach/detach pairs in one process (default 1). --full also does what
   the program's connect does after the attach: the database-info reads and the
   server clock query in a transaction of its own. --exit leaves through exit()
   and so runs the client library's exit-time shutdown; otherwise the process
   ends with _exit(0) like the program does. */
#include <ibase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void put_text(char* dpb, size_t* n, char code, const char* value) {
  const size_t len = strlen(value);
  dpb[(*n)++] = code;
  dpb[(*n)++] = (char)len;
  memcpy(dpb + *n, value, len);
  *n += len;
}

static ISC_STATUS_ARRAY status;

static void fail(void) {
  isc_print_status(status);
  exit(1);
}

static void info(isc_db_handle* db, char item) {
  char result[512];
  if (isc_database_info(status, db, 1, &item, sizeof result, result)) fail();
}

/* What the program's connect does after the attach. */
static void follow_up(isc_db_handle* db) {
  info(db, isc_info_attachment_id);
  info(db, isc_info_db_sql_dialect);
  isc_tr_handle tr = 0;
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait,
                             isc_tpb_read_committed, isc_tpb_rec_version};
  if (isc_start_transaction(status, &tr, 1, db, (unsigned short)sizeof tpb, tpb)) fail();
  char block[XSQLDA_LENGTH(1)];
  memset(block, 0, sizeof block);
  XSQLDA* out = (XSQLDA*)block;
  out->version = SQLDA_VERSION1;
  out->sqln = out->sqld = 1;
  ISC_TIMESTAMP now;
  short ind = 0;
  out->sqlvar[0].sqltype = SQL_TIMESTAMP + 1;
  out->sqlvar[0].sqllen = sizeof now;
  out->sqlvar[0].sqldata = (char*)&now;
  out->sqlvar[0].sqlind = &ind;
  if (isc_dsql_exec_immed2(status, db, &tr, 0, "SELECT CAST('NOW' AS DATE) from RDB$DATABASE", 1,
                           NULL, out))
    fail();
  if (isc_commit_transaction(status, &tr)) fail();
  info(db, isc_info_firebird_version);
  info(db, frb_info_att_charset);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s DBNAME USER PASSWORD [COUNT] [--full] [--exit]\n", argv[0]);
    return 2;
  }
  const int count = argc > 4 && argv[4][0] != '-' ? atoi(argv[4]) : 1;
  int plainExit = 0, full = 0;
  for (int i = 4; i < argc; ++i) {
    if (strcmp(argv[i], "--exit") == 0) plainExit = 1;
    if (strcmp(argv[i], "--full") == 0) full = 1;
  }
  char dpb[1024];
  size_t n = 0;
  dpb[n++] = isc_dpb_version1;
  put_text(dpb, &n, isc_dpb_lc_ctype, "WIN1251");
  put_text(dpb, &n, isc_dpb_user_name, argv[2]);
  if (argv[3][0]) put_text(dpb, &n, isc_dpb_password, argv[3]);
  for (int i = 0; i < count; ++i) {
    isc_db_handle db = 0;
    if (isc_attach_database(status, 0, argv[1], &db, (short)n, dpb)) fail();
    if (full) follow_up(&db);
    if (isc_detach_database(status, &db)) fail();
  }
  if (plainExit) exit(0);
  fflush(stdout);
  _exit(0);
}
