/* The least a CGI program can do to answer the terminal's database commands
   (getsprfood, getsprfoodgroup, getsprstewards, addorder) with the client
   library called directly: the same attach parameters, transaction parameters,
   statements and reply bytes, then commit, detach and _exit(0).
   Built with FLOOR_CONNECT_EXTRAS it also does the connect's follow-up reads
   (attachment id, dialect, server clock, server version, character set).
   Built with FLOOR_KEEP_STATEMENTS (by floor_fcgi.c, which includes this file
   and brings its own main) every statement is prepared once per attachment and
   kept. */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <ibase.h>
#include <stdint.h>
#include <sys/stat.h>
#include <time.h>

#include "floor_cgi.h"

static ISC_STATUS_ARRAY st;
static isc_db_handle db = 0;

/* The status vector's messages, one per line. */
static void status_text(buf_t* m) {
  char line[1024];
  const ISC_STATUS* p = st;
  int first = 1;
  while (fb_interpret(line, sizeof line, &p)) {
    if (!first) buf_str(m, "\r\n");
    buf_str(m, line);
    first = 0;
  }
}

#ifdef FLOOR_KEEP_STATEMENTS
static int db_broken; /* a database call failed: attach anew for the next request */
#endif

__attribute__((noreturn)) static void db_fail(void) {
#ifdef FLOOR_KEEP_STATEMENTS
  db_broken = 1;
#endif
  buf_t m = {0};
  status_text(&m);
  send_reply(500, "text/plain", m.p ? m.p : "", m.n);
  finish();
}

#define CHECK(call)      \
  do {                   \
    if (call) db_fail(); \
  } while (0)

static void attach(const settings_t* s) {
  char dpb[1024 * 4];
  size_t n = 0;
  dpb[n++] = isc_dpb_version1;
  dpb[n++] = isc_dpb_lc_ctype;
  dpb[n++] = 7;
  memcpy(dpb + n, "WIN1251", 7);
  n += 7;
  const struct {
    char code;
    const char* v;
  } kItems[3] = {{isc_dpb_user_name, s->user},
                 {isc_dpb_password, s->password},
                 {isc_dpb_sql_role_name, s->role}};
  for (int i = 0; i < 3; ++i) {
    const char* v = kItems[i].v;
    size_t len = strlen(v);
    while (len > 0 && (unsigned char)v[len - 1] <= 0x20) --len; /* the line is trimmed */
    if (len == 0) continue;
    dpb[n++] = kItems[i].code;
    dpb[n++] = (char)len;
    memcpy(dpb + n, v, len);
    n += len;
  }
  CHECK(isc_attach_database(st, (short)strlen(s->server), s->server, &db, (short)n, dpb));
}

#ifdef FLOOR_KEEP_STATEMENTS
/* The transactions a request started, rolled back when it ends early. */
static isc_tr_handle started[8];
static int nstarted;
#endif

static void start(isc_tr_handle* tr, const char* tpb, short len) {
  CHECK(isc_start_transaction(st, tr, 1, &db, len, tpb));
#ifdef FLOOR_KEEP_STATEMENTS
  if (nstarted < 8) started[nstarted++] = *tr;
#endif
}

static const char kTpbRead[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_nowait, isc_tpb_rec_version,
                                isc_tpb_read_committed};
static const char kTpbWrite[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait,
                                 isc_tpb_rec_version, isc_tpb_read_committed};

static XSQLDA* sqlda_new(int n) {
  XSQLDA* d = (XSQLDA*)calloc(1, XSQLDA_LENGTH(n));
  d->version = SQLDA_VERSION1;
  d->sqln = (short)n;
  return d;
}

/* Prepares sql (dialect 1) and gives every output column a buffer. */
static isc_stmt_handle prepare_new(isc_tr_handle* tr, const char* sql, XSQLDA** out) {
  isc_stmt_handle stmt = 0;
  CHECK(isc_dsql_allocate_statement(st, &db, &stmt));
  XSQLDA* d = out ? sqlda_new(24) : NULL;
  CHECK(isc_dsql_prepare(st, tr, &stmt, 0, sql, 1, d));
  if (!out) return stmt;
  if (d->sqld > d->sqln) {
    int n = d->sqld;
    free(d);
    d = sqlda_new(n);
    CHECK(isc_dsql_describe(st, &stmt, 1, d));
  }
  for (int i = 0; i < d->sqld; ++i) {
    XSQLVAR* v = &d->sqlvar[i];
    int t = v->sqltype & ~1;
    v->sqldata = (char*)calloc(1, (size_t)v->sqllen + (t == SQL_VARYING ? 2 : 0) + 1);
    v->sqlind = (short*)calloc(1, sizeof(short));
  }
  *out = d;
  return stmt;
}

#ifdef FLOOR_KEEP_STATEMENTS
/* The kept statements, by the address of their text (every text is a literal). */
static struct {
  const char* sql;
  isc_stmt_handle stmt;
  XSQLDA* out;
} kept[8];
static int nkept;

static isc_stmt_handle prepare(isc_tr_handle* tr, const char* sql, XSQLDA** out) {
  for (int i = 0; i < nkept; ++i) {
    if (kept[i].sql == sql) {
      if (out) *out = kept[i].out;
      return kept[i].stmt;
    }
  }
  isc_stmt_handle stmt = prepare_new(tr, sql, out);
  if (nkept < 8) {
    kept[nkept].sql = sql;
    kept[nkept].stmt = stmt;
    kept[nkept].out = out ? *out : NULL;
    nkept++;
  }
  return stmt;
}

/* A kept statement stays prepared. */
static ISC_STATUS release(isc_stmt_handle* stmt) {
  (void)stmt;
  return 0;
}

/* Forgets the kept statements of an attachment that is gone. */
static void forget_statements(void) {
  for (int i = 0; i < nkept; ++i) {
    XSQLDA* d = kept[i].out;
    for (int k = 0; d && k < d->sqld; ++k) {
      free(d->sqlvar[k].sqldata);
      free(d->sqlvar[k].sqlind);
    }
    free(d);
  }
  nkept = 0;
}
#else
static isc_stmt_handle prepare(isc_tr_handle* tr, const char* sql, XSQLDA** out) {
  return prepare_new(tr, sql, out);
}

static ISC_STATUS release(isc_stmt_handle* stmt) {
  return isc_dsql_free_statement(st, stmt, DSQL_drop);
}
#endif

static int column(const XSQLDA* d, const char* name) {
  for (int i = 0; i < d->sqld; ++i) {
    const XSQLVAR* v = &d->sqlvar[i];
    if ((size_t)v->aliasname_length == strlen(name) &&
        !strncasecmp(v->aliasname, name, strlen(name)))
      return i;
  }
  fail("column not found");
}

static int is_null(const XSQLVAR* v) { return (v->sqltype & 1) && *v->sqlind == -1; }

static double scaled(long double i, int scale) {
  long double p = 1;
  for (int k = 0; k < -scale; ++k) p /= 10;
  return (double)(i * p);
}

static double number(const XSQLVAR* v) {
  if (is_null(v)) return 0;
  switch (v->sqltype & ~1) {
    case SQL_DOUBLE:
      return *(double*)v->sqldata;
    case SQL_FLOAT:
      return *(float*)v->sqldata;
    case SQL_SHORT:
      return scaled(*(int16_t*)v->sqldata, v->sqlscale);
    case SQL_LONG:
      return scaled(*(int32_t*)v->sqldata, v->sqlscale);
    case SQL_INT64:
      return scaled((long double)*(int64_t*)v->sqldata, v->sqlscale);
  }
  fail("Invalid data conversion.");
}

/* Appends the column's text form; with trim the value is trimmed and escaped,
   with utf8 it is also converted. */
static void add_column(buf_t* out, const XSQLVAR* v, int trim, int utf8) {
  if (is_null(v)) return;
  int t = v->sqltype & ~1;
  if (t == SQL_TEXT || t == SQL_VARYING) {
    const char* s = v->sqldata;
    size_t n = (size_t)v->sqllen;
    if (t == SQL_VARYING) {
      n = *(uint16_t*)s;
      s += 2;
    }
    if (trim) {
      add_value(out, s, n, utf8);
    } else {
      add_value(out, s, n, 0); /* numbers never need the trim; escaping is harmless */
    }
    return;
  }
  if ((t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64) && v->sqlscale == 0) {
    long long i = t == SQL_SHORT  ? *(int16_t*)v->sqldata
                  : t == SQL_LONG ? *(int32_t*)v->sqldata
                                  : *(int64_t*)v->sqldata;
    buf_int(out, i);
    return;
  }
  if (t == SQL_INT64) {
    long long i = *(int64_t*)v->sqldata;
    int k = -v->sqlscale;
    char d[32];
    snprintf(d, sizeof d, "%lld", i < 0 ? -i : i);
    size_t nd = strlen(d);
    buf_t s = {0};
    if (i < 0) buf_chr(&s, '-');
    if (nd > (size_t)k) {
      buf_add(&s, d, nd - (size_t)k);
      buf_chr(&s, '.');
      buf_add(&s, d + nd - k, (size_t)k);
    } else {
      buf_str(&s, "0.");
      for (size_t z = nd; z < (size_t)k; ++z) buf_chr(&s, '0');
      buf_add(&s, d, nd);
    }
    while (s.p[s.n - 1] == '0') s.n--;
    if (s.p[s.n - 1] == '.') s.n--;
    buf_add(out, s.p, s.n);
    free(s.p);
    return;
  }
  add_general(out, number(v));
}

/* The text of the statement's two parameters CARDCODE and STATION. */
static XSQLDA* text_params(int n, const char* const* values) {
  XSQLDA* in = sqlda_new(n);
  in->sqld = (short)n;
  for (int i = 0; i < n; ++i) {
    in->sqlvar[i].sqltype = SQL_TEXT;
    in->sqlvar[i].sqllen = (short)strlen(values[i]);
    in->sqlvar[i].sqldata = (char*)values[i];
  }
  return in;
}

static const char kDecl[] = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>\r";

static void list_command(const char* q, const fields_t* query) {
  isc_tr_handle tr = 0;
  start(&tr, kTpbRead, sizeof kTpbRead);
  XSQLDA* out = NULL;
  XSQLDA* in = NULL;
  isc_stmt_handle stmt;
  buf_t r = {0};
  buf_str(&r, kDecl);
  int food = !strcmp(q, "getsprfood"), group = !strcmp(q, "getsprfoodgroup");
  if (food || group) {
    const char* values[2] = {field_value(query, "user"), field_value(query, "device")};
    stmt = prepare(
        &tr,
        food ? "select * from RESTAURANT_GETPRICEFORMOBILE(?,?)"
             : "select Distinct g.Id,g.Name,g.nOrder  from RESTAURANT_GETPRICEFORMOBILE(?,?) p\r\n"
               "left outer join RESTAURANT_PRICEGROUPS g on p.IdGroup = g.Id\r\nOrder by "
               "g.nOrder\r\n",
        &out);
    in = text_params(2, values);
  } else {
    stmt = prepare(&tr,
                   "select c.code, w.name from RESTAURANT_WAITERS W \r\n"
                   "left outer join RESTAURANT_CARDS c on c.id = w.IdCard\r\n"
                   "where w.Status >=0 Order by W.Name\r\n",
                   &out);
  }
  CHECK(isc_dsql_execute(st, &tr, &stmt, 1, in));
  if (food) {
    buf_str(&r, "<foods>");
    const int cName = column(out, "Fullname"), cId = column(out, "Id"),
              cGroup = column(out, "IdGroup"), cDefq = column(out, "DefaultQuantity"),
              cPrice = column(out, "PRICE"), cInputp = column(out, "ISINPUTPRICE"),
              cVol = column(out, "EdVolume"), cWght = column(out, "ISINPUTVOLUME");
    ISC_STATUS rc;
    while ((rc = isc_dsql_fetch(st, &stmt, 1, out)) == 0) {
      buf_str(&r, "\r<food>");
      add_column(&r, &out->sqlvar[cName], 1, 1);
      buf_str(&r, "\r<ID>");
      add_column(&r, &out->sqlvar[cId], 0, 0);
      buf_str(&r, "</ID>\r<IDGROUP>");
      add_column(&r, &out->sqlvar[cGroup], 0, 0);
      buf_str(&r, "</IDGROUP>\r<DEFQ>");
      add_column(&r, &out->sqlvar[cDefq], 0, 0);
      buf_str(&r, "</DEFQ>\r<PRICE>");
      add_price(&r, number(&out->sqlvar[cPrice]));
      buf_str(&r, "</PRICE>\r<INPUTP>");
      add_column(&r, &out->sqlvar[cInputp], 0, 0);
      buf_str(&r, "</INPUTP>\r<VOL>");
      add_column(&r, &out->sqlvar[cVol], 1, 1);
      buf_str(&r, "</VOL>\r<WGHT>");
      add_column(&r, &out->sqlvar[cWght], 0, 0);
      buf_str(&r, "</WGHT>\r</food>");
    }
    if (rc != 100) db_fail();
    buf_str(&r, "\r</foods>");
  } else if (group) {
    buf_str(&r, "<foodgroups>");
    const int cName = column(out, "name"), cId = column(out, "Id");
    ISC_STATUS rc;
    while ((rc = isc_dsql_fetch(st, &stmt, 1, out)) == 0) {
      buf_str(&r, "\r<foodgroup>");
      add_column(&r, &out->sqlvar[cName], 1, 1);
      buf_str(&r, "\r<ID>");
      add_column(&r, &out->sqlvar[cId], 0, 0);
      buf_str(&r, "</ID>\r</foodgroup>");
    }
    if (rc != 100) db_fail();
    buf_str(&r, "\r</foodgroups>");
  } else {
    buf_str(&r, "<stewards>");
    const int cCode = column(out, "code"), cName = column(out, "name");
    ISC_STATUS rc;
    while ((rc = isc_dsql_fetch(st, &stmt, 1, out)) == 0) {
      buf_str(&r, "\r<steward><pin>");
      add_column(&r, &out->sqlvar[cCode], 1, 0);
      buf_str(&r, "</pin>");
      add_column(&r, &out->sqlvar[cName], 1, 1);
      buf_str(&r, "</steward>");
    }
    if (rc != 100) db_fail();
    buf_str(&r, "\r</stewards>");
  }
  CHECK(isc_dsql_free_statement(st, &stmt, DSQL_close));
  CHECK(isc_commit_transaction(st, &tr));
  free(in);
  send_reply(200, "text/xml", r.p, r.n);
  free(r.p);
}

/* ---- The posted order --------------------------------------------------------- */

/* An element: its name, the text before its first child, its children. */
typedef struct node {
  const char* name;
  size_t nlen;
  const char* text;
  size_t tlen;
  struct node** kids;
  int nkids;
} node_t;

static node_t* parse_element(const char** pp, const char* end) {
  const char* p = *pp;
  if (p >= end || *p != '<') fail("malformed order");
  node_t* n = (node_t*)calloc(1, sizeof *n);
  n->name = ++p;
  while (p < end && !strchr(" \t\r\n/>", *p)) ++p;
  n->nlen = (size_t)(p - n->name);
  while (p < end && *p != '>') ++p;
  if (p >= end) fail("malformed order");
  if (p[-1] == '/') {
    *pp = p + 1;
    return n;
  }
  ++p;
  n->text = p;
  while (p < end && *p != '<') ++p;
  n->tlen = (size_t)(p - n->text);
  for (;;) {
    while (p < end && *p != '<') ++p;
    if (p + 1 >= end) fail("malformed order");
    if (p[1] == '/') {
      while (p < end && *p != '>') ++p;
      *pp = p + 1;
      return n;
    }
    node_t* k = parse_element(&p, end);
    n->kids = (node_t**)realloc(n->kids, (size_t)(n->nkids + 1) * sizeof *n->kids);
    n->kids[n->nkids++] = k;
  }
}

static void free_node(node_t* n) {
  for (int i = 0; i < n->nkids; ++i) free_node(n->kids[i]);
  free(n->kids);
  free(n);
}

static const node_t* child(const node_t* n, const char* name) {
  size_t k = strlen(name);
  for (int i = 0; i < n->nkids; ++i)
    if (n->kids[i]->nlen == k && !strncasecmp(n->kids[i]->name, name, k)) return n->kids[i];
  return NULL;
}

/* The text value of a child element as a NUL-terminated copy. */
static char* child_text(const node_t* n, const char* name, int* ok) {
  const node_t* c = child(n, name);
  if (!c) {
    *ok = 0;
    return strdup("");
  }
  return strndup(c->text, c->tlen);
}

static int32_t int_value(const char* s, size_t n, int* ok) {
  char t[32];
  if (n == 0 || n >= sizeof t) {
    *ok = 0;
    return 0;
  }
  memcpy(t, s, n);
  t[n] = 0;
  char* e;
  long v = strtol(t, &e, 10);
  if (*e) *ok = 0;
  return (int32_t)v;
}

static int bool_value(const char* s, size_t n, int* ok) {
  int c = n ? toupper((unsigned char)s[0]) : 0;
  if (c == 'T' || c == 'Y') return 1;
  if (c != 'F' && c != 'N') *ok = 0;
  return 0;
}

/* Keeps the posted text in Orders/order N.xml, N drawn from a clock-seeded
   generator; a taken name draws again. */
static void archive(const char* text, size_t n) {
  mkdir("Orders", 0777);
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint32_t seed = (uint32_t)((uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec);
  for (int draw = 0; draw < 1000; ++draw) {
    seed = seed * 134775813u + 1;
    unsigned number = (unsigned)(((uint64_t)seed * 100000u) >> 32);
    char path[64];
    snprintf(path, sizeof path, "Orders/order %u.xml", number);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) fail("Cannot create the archive file");
    ssize_t w = n ? write(fd, text, n) : 0;
    if (close(fd) != 0 || w != (ssize_t)n) {
      unlink(path);
      fail("Cannot write the archive file");
    }
    return;
  }
  fail("No free archive name");
}

static int order_exists(const char* guid) {
  isc_tr_handle tr = 0;
  start(&tr, kTpbRead, sizeof kTpbRead);
  XSQLDA* out = NULL;
  isc_stmt_handle stmt = prepare(
      &tr, "select count(id) as cnt from Restaurant_ImportedOrders where Guid =?\r\n", &out);
  XSQLDA* in = text_params(1, &guid);
  CHECK(isc_dsql_execute(st, &tr, &stmt, 1, in));
  CHECK(isc_dsql_fetch(st, &stmt, 1, out));
  int cnt = (int)number(&out->sqlvar[column(out, "cnt")]);
  free(in);
  CHECK(isc_dsql_free_statement(st, &stmt, DSQL_close));
  CHECK(isc_commit_transaction(st, &tr));
  return cnt > 0;
}

/* The reply to a failed import: the line after the last "EX_RESTAURANT_" line,
   or the whole message. The program's message lines begin with a capital (an
   ASCII small letter raised) and end with a full stop; the floor's text
   from the client library has neither, so the business line gets both here. */
static void import_failed(isc_tr_handle* tr, const char* guid, const char* message) {
  ISC_STATUS_ARRAY keep;
  memcpy(keep, st, sizeof st);
  if (*tr) isc_rollback_transaction(st, tr);
  if (order_exists(guid)) {
    send_reply(200, "text/html", "ok", 2);
    finish();
  }
  memcpy(st, keep, sizeof st);
  buf_t m = {0};
  if (message) {
    buf_str(&m, message);
  } else {
    status_text(&m);
  }
  const char* reply = m.p ? m.p : "";
  size_t rlen = m.n;
  const char* p = reply;
  int business = 0;
  while (*p) {
    size_t len = strcspn(p, "\r\n");
    const char* next = p + len;
    if (*next == '\r') ++next;
    if (*next == '\n') ++next;
    if (memmem(p, len, "EX_RESTAURANT_", 14) && *next) {
      reply = next;
      rlen = strcspn(next, "\r\n");
      business = 1;
    }
    p = next;
  }
  buf_t u = {0};
  add_value(&u, reply, rlen, 1); /* UTF-8; the messages hold no markup */
  if (business && u.n > 0) {
    if (u.p[0] >= 'a' && u.p[0] <= 'z') u.p[0] = (char)(u.p[0] - 'a' + 'A');
    if (u.p[u.n - 1] != '.') buf_chr(&u, '.');
  }
  send_reply(200, "text/html", u.p ? u.p : "", u.n);
  finish();
}

#define IMPORT_CHECK(call)                    \
  do {                                        \
    if (call) import_failed(&tr, guid, NULL); \
  } while (0)

static void add_order(const buf_t* body) {
  fields_t content;
  split_fields(body->p ? body->p : "", body->n, 1, &content);
  buf_t text = {0};
  fields_text(&content, &text);
  archive(text.p ? text.p : "", text.n);

  const char* p = text.p ? text.p : "";
  const char* end = p + text.n;
  while (p < end && *p != '<') ++p;
  if (p >= end) fail("No root element found in xml");
  node_t* root = parse_element(&p, end);
  int ok = 1;
  char* guid = child_text(root, "GUID", &ok);
  if (!ok) fail("The order has no GUID element");
  if (order_exists(guid)) {
    send_reply(200, "text/html", "ok", 2);
    free(guid);
    free_node(root);
    free(text.p);
    fields_free(&content);
    return;
  }
  isc_tr_handle tr = 0;
  start(&tr, kTpbWrite, sizeof kTpbWrite);
  char* device = child_text(root, "DEVICEID", &ok);
  char* pin = child_text(root, "PIN", &ok);
  const node_t* table = child(root, "TABLE");
  const node_t* foods = child(root, "FOODS");
  if (!ok || !table || !foods) import_failed(&tr, guid, "The order lacks an element");
  int32_t tableNo = int_value(table->text, table->tlen, &ok);
  if (!ok) import_failed(&tr, guid, "The table number is not a valid integer value");

  isc_stmt_handle stmt = prepare(
      &tr,
      "Insert into Restaurant_ImportedOrders (id,guid,DEVICEID,WAITERCARDCODE,TABLENUMBER)\r\n"
      "values (Gen_id(Restaurant_ImportedOrders,1),?,?,?,?)\r\n",
      NULL);
  const char* texts[4] = {guid, device, pin, ""};
  XSQLDA* in = text_params(4, texts);
  in->sqlvar[3].sqltype = SQL_LONG;
  in->sqlvar[3].sqllen = 4;
  in->sqlvar[3].sqldata = (char*)&tableNo;
  IMPORT_CHECK(isc_dsql_execute(st, &tr, &stmt, 1, in));
  IMPORT_CHECK(release(&stmt));

  stmt = 0;
  stmt = prepare(&tr,
                 "Insert into Restaurant_ImportedOrderRows "
                 "(id,guidOrder,IDPRICE,Quantity,Volume,isModificator)\r\n"
                 "values (Gen_id(Restaurant_ImportedOrderRows,1),?,?,?,?,?)\r\n",
                 NULL);
  int32_t row[4];
  XSQLDA* rin = sqlda_new(5);
  rin->sqld = 5;
  rin->sqlvar[0].sqltype = SQL_TEXT;
  rin->sqlvar[0].sqllen = (short)strlen(guid);
  rin->sqlvar[0].sqldata = guid;
  for (int i = 0; i < 4; ++i) {
    rin->sqlvar[i + 1].sqltype = SQL_LONG;
    rin->sqlvar[i + 1].sqllen = 4;
    rin->sqlvar[i + 1].sqldata = (char*)&row[i];
  }
  for (int i = 0; i < foods->nkids; ++i) {
    const node_t* f = foods->kids[i];
    const node_t* c = child(f, "count");
    const node_t* w = child(f, "weight");
    const node_t* m = child(f, "isModificator");
    if (!c || !w || !m) import_failed(&tr, guid, "An order row lacks an element");
    row[0] = int_value(f->text, f->tlen, &ok);
    row[1] = int_value(c->text, c->tlen, &ok);
    row[2] = int_value(w->text, w->tlen, &ok);
    row[3] = bool_value(m->text, m->tlen, &ok);
    if (!ok) import_failed(&tr, guid, "An order row holds a value that is not valid");
    IMPORT_CHECK(isc_dsql_execute(st, &tr, &stmt, 1, rin));
  }
  IMPORT_CHECK(release(&stmt));

  stmt = 0;
  stmt = prepare(&tr, "execute procedure restaurant_importorders(?)\r\n", NULL);
  XSQLDA* gin = text_params(1, texts);
  IMPORT_CHECK(isc_dsql_execute(st, &tr, &stmt, 1, gin));
  IMPORT_CHECK(isc_commit_transaction(st, &tr));
  send_reply(200, "text/html", "ok", 2);
  free(in);
  free(rin);
  free(gin);
  free(guid);
  free(device);
  free(pin);
  free_node(root);
  free(text.p);
  fields_free(&content);
}

#ifdef FLOOR_CONNECT_EXTRAS
static long info_number(char item) {
  char res[512];
  CHECK(isc_database_info(st, &db, 1, &item, sizeof res, res));
  if (res[0] != item) return -1;
  short len = (short)isc_vax_integer(res + 1, 2);
  return isc_vax_integer(res + 3, len);
}

static void connect_extras(void) {
  info_number(isc_info_attachment_id);
  info_number(isc_info_db_sql_dialect);
  isc_tr_handle tr = 0;
  static const char kTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_nowait,
                              isc_tpb_read_committed, isc_tpb_rec_version};
  start(&tr, kTpb, sizeof kTpb);
  XSQLDA* out = NULL;
  isc_stmt_handle stmt = prepare(&tr, "SELECT CAST('NOW' AS DATE) from RDB$DATABASE\r\n", &out);
  CHECK(isc_dsql_execute(st, &tr, &stmt, 1, NULL));
  CHECK(isc_dsql_fetch(st, &stmt, 1, out));
  CHECK(isc_dsql_free_statement(st, &stmt, DSQL_drop));
  CHECK(isc_commit_transaction(st, &tr));
  char item = isc_info_firebird_version, res[512];
  CHECK(isc_database_info(st, &db, 1, &item, sizeof res, res));
  info_number(frb_info_att_charset);
  info_number(isc_info_ods_version);
  info_number(isc_info_ods_minor_version);
}
#endif

#ifndef FLOOR_KEEP_STATEMENTS
int main(void) {
  block_termination();
  const char* qs = getenv("QUERY_STRING");
  fields_t query;
  split_fields(qs ? qs : "", qs ? strlen(qs) : 0, 0, &query);
  const char* q = field_value(&query, "q");
  int order = !strcmp(q, "addorder");
  if (!order && strcmp(q, "getsprfood") && strcmp(q, "getsprfoodgroup") &&
      strcmp(q, "getsprstewards")) {
    send_reply(200, "text/html", "", 0);
    finish();
  }
  buf_t body = {0};
  if (order) read_body(&body);
  settings_t s;
  if (!read_settings(&s)) fail("no settings file");
  attach(&s);
#ifdef FLOOR_CONNECT_EXTRAS
  connect_extras();
#endif
  if (order) {
    add_order(&body);
  } else {
    list_command(q, &query);
  }
  /* The answer is out; the attachment ends as the program's does, at the end. */
  isc_detach_database(st, &db);
  finish();
}
#endif
