/* The CGI side of the floor programs: the request's query fields and body, the
   answer in the server's CGI form, and the text forms the replies use. Kept to
   what the benchmark's requests need (no double-quoted runs in bodies, a full
   stop as the decimal mark), so that a floor spends no more than it must. */
#ifndef FLOOR_CGI_H
#define FLOOR_CGI_H

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

/* Where a floor meets its web server. A CGI floor has the environment, standard
   input and output and ends with its process; the persistent floor
   (floor_fcgi.c) defines these to its FastCGI request's before including this
   file, and "finish" returns it to its request loop. */
#ifndef FLOOR_GETENV
#define FLOOR_GETENV(name) getenv(name)
#endif
#ifndef FLOOR_WRITE
#define FLOOR_WRITE(p, n) write_all(1, p, n)
#endif
#ifndef FLOOR_READ
#define FLOOR_READ(p, n) read(0, p, n)
#endif
#ifndef FLOOR_FINISH
#define FLOOR_FINISH() _exit(0)
#endif

/* A growing byte buffer. */
typedef struct {
  char* p;
  size_t n, cap;
} buf_t;

static inline void buf_reserve(buf_t* b, size_t extra) {
  if (b->n + extra + 1 <= b->cap) return;
  size_t cap = b->cap ? b->cap : 256;
  while (cap < b->n + extra + 1) cap *= 2;
  char* p = (char*)realloc(b->p, cap);
  if (!p) {
    static const char kMsg[] = "out of memory\n";
    (void)!write(2, kMsg, sizeof kMsg - 1);
    _exit(1);
  }
  b->p = p;
  b->cap = cap;
}
static inline void buf_add(buf_t* b, const char* s, size_t n) {
  buf_reserve(b, n);
  memcpy(b->p + b->n, s, n);
  b->n += n;
  b->p[b->n] = 0;
}
static inline void buf_str(buf_t* b, const char* s) { buf_add(b, s, strlen(s)); }
static inline void buf_chr(buf_t* b, char c) { buf_add(b, &c, 1); }
static inline void buf_int(buf_t* b, long long v) {
  char t[32];
  buf_add(b, t, (size_t)snprintf(t, sizeof t, "%lld", v));
}

static inline void write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) return;
    p += w;
    n -= (size_t)w;
  }
}

/* Writes the answer: status line and headers only when the web server gave a
   protocol, then the body. */
static inline void send_reply(int status, const char* content_type, const char* body, size_t n) {
  buf_t h = {0};
  const char* proto = FLOOR_GETENV("SERVER_PROTOCOL");
  if (proto && *proto) {
    buf_str(&h, status == 200 ? "Status: 200 OK\r\n" : "Status: 500 Internal Server Error\r\n");
    if (content_type && *content_type) {
      buf_str(&h, "Content-Type: ");
      buf_str(&h, content_type);
      buf_str(&h, "\r\n");
    }
    if (n > 0) {
      buf_str(&h, "Content-Length: ");
      buf_int(&h, (long long)n);
      buf_str(&h, "\r\n");
    }
    buf_str(&h, "Content:\r\n\r\n");
  }
  buf_add(&h, body, n);
  FLOOR_WRITE(h.p, h.n);
  free(h.p);
}

__attribute__((noreturn)) static inline void finish(void) { FLOOR_FINISH(); }

__attribute__((noreturn)) static inline void fail(const char* message) {
  send_reply(500, "text/plain", message, strlen(message));
  finish();
}

static inline int hexval(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = tolower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/* Decodes "+" and "%XX" in place of n bytes; returns the new length. */
static inline size_t url_decode(char* s, size_t n) {
  size_t o = 0;
  for (size_t i = 0; i < n; ++i) {
    if (s[i] == '+') {
      s[o++] = ' ';
    } else if (s[i] == '%' && i + 1 < n && s[i + 1] == '%') {
      s[o++] = '%';
      ++i;
    } else if (s[i] == '%') {
      int h = i + 2 < n ? hexval((unsigned char)s[i + 1]) : -1;
      int l = i + 2 < n ? hexval((unsigned char)s[i + 2]) : -1;
      if (h < 0 || l < 0) fail("bad URL encoding");
      s[o++] = (char)(h * 16 + l);
      i += 2;
    } else {
      s[o++] = s[i];
    }
  }
  return o;
}

/* A list of decoded fields, each stored with a terminating NUL. */
typedef struct {
  char** v;
  size_t* len;
  size_t n;
} fields_t;

/* Splits text at "&" (and, for bodies, CR and LF, where no empty field arises),
   decoding each field. */
static inline void split_fields(const char* text, size_t n, int lines, fields_t* f) {
  size_t i = 0;
  f->v = NULL;
  f->len = NULL;
  f->n = 0;
  if (n == 0) return;
  for (;;) {
    if (lines)
      while (i < n && (text[i] == '\r' || text[i] == '\n')) ++i;
    size_t head = i;
    while (i < n && text[i] != '&' && text[i] != 0 &&
           !(lines && (text[i] == '\r' || text[i] == '\n')))
      ++i;
    if (head < n && text[head] != 0) {
      char* s = (char*)malloc(i - head + 1);
      memcpy(s, text + head, i - head);
      size_t m = url_decode(s, i - head);
      s[m] = 0;
      f->v = (char**)realloc(f->v, (f->n + 1) * sizeof(char*));
      f->len = (size_t*)realloc(f->len, (f->n + 1) * sizeof(size_t));
      f->v[f->n] = s;
      f->len[f->n] = m;
      f->n++;
    }
    if (i >= n || text[i] == 0) return;
    ++i;
  }
}

/* The value of the first field named name (letter case ignored); "" when absent. */
static inline const char* field_value(const fields_t* f, const char* name) {
  size_t k = strlen(name);
  for (size_t i = 0; i < f->n; ++i) {
    const char* eq = strchr(f->v[i], '=');
    if (eq && (size_t)(eq - f->v[i]) == k && strncasecmp(f->v[i], name, k) == 0) return eq + 1;
  }
  return "";
}

static inline void fields_free(fields_t* f) {
  for (size_t i = 0; i < f->n; ++i) free(f->v[i]);
  free(f->v);
  free(f->len);
  f->v = NULL;
  f->len = NULL;
  f->n = 0;
}

static inline void fields_text(const fields_t* f, buf_t* out) {
  for (size_t i = 0; i < f->n; ++i) {
    buf_add(out, f->v[i], f->len[i]);
    buf_str(out, "\r\n");
  }
}

static inline int method_type(void) {
  const char* m = FLOOR_GETENV("REQUEST_METHOD");
  if (!m) return 0;
  if (!strcasecmp(m, "GET")) return 1;
  if (!strcasecmp(m, "PUT")) return 2;
  if (!strcasecmp(m, "POST")) return 3;
  if (!strcasecmp(m, "HEAD")) return 4;
  return 0;
}

/* The request body, CONTENT_LENGTH bytes at most. */
static inline void read_body(buf_t* body) {
  const char* cl = FLOOR_GETENV("CONTENT_LENGTH");
  long want = cl && *cl ? strtol(cl, NULL, 10) : 0;
  if (want <= 0) return;
  buf_reserve(body, (size_t)want);
  while (body->n < (size_t)want) {
    ssize_t r = FLOOR_READ(body->p + body->n, (size_t)want - body->n);
    if (r <= 0) break;
    body->n += (size_t)r;
  }
  body->p[body->n] = 0;
}

/* The answer to q=test: the diagnostics echo of the request's method, body
   fields and query fields; "" for any other request. */
static inline void test_command(const fields_t* query, const buf_t* body) {
  fields_t content;
  split_fields(body->p ? body->p : "", body->n, 1, &content);
  buf_t out = {0};
  if (!strcmp(field_value(query, "q"), "test")) {
    buf_str(&out, "type: ");
    buf_int(&out, method_type());
    buf_str(&out, "\n\r");
    fields_text(&content, &out);
    buf_str(&out, "param_count=");
    buf_int(&out, (long long)query->n);
    buf_str(&out, "\n\rparams: \n\r");
    fields_text(query, &out);
  }
  fields_free(&content);
  send_reply(200, "text/html", out.p ? out.p : "", out.n);
  free(out.p);
}

/* ---- Text forms of the replies ---------------------------------------------- */

static const unsigned short kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

/* Appends s[0..n) trimmed of bytes <= 0x20 at both ends, optionally converted
   from Windows-1251 to UTF-8, with & < > escaped. */
static inline void add_value(buf_t* out, const char* s, size_t n, int utf8) {
  while (n > 0 && (unsigned char)s[0] <= 0x20) ++s, --n;
  while (n > 0 && (unsigned char)s[n - 1] <= 0x20) --n;
  buf_reserve(out, n * 5);
  char* o = out->p + out->n;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = (unsigned char)s[i];
    if (c == '&') {
      memcpy(o, "&amp;", 5), o += 5;
    } else if (c == '<') {
      memcpy(o, "&lt;", 4), o += 4;
    } else if (c == '>') {
      memcpy(o, "&gt;", 4), o += 4;
    } else if (c < 0x80 || !utf8) {
      *o++ = (char)c;
    } else {
      unsigned u = kCp1251High[c - 0x80];
      if (u < 0x800) {
        *o++ = (char)(0xC0 | (u >> 6));
        *o++ = (char)(0x80 | (u & 0x3F));
      } else {
        *o++ = (char)(0xE0 | (u >> 12));
        *o++ = (char)(0x80 | ((u >> 6) & 0x3F));
        *o++ = (char)(0x80 | (u & 0x3F));
      }
    }
  }
  out->n = (size_t)(o - out->p);
  out->p[out->n] = 0;
}

/* Decimal digits of v rounded to 18 significant digits: digits[18] and the
   exponent e with |v| = 0.d1d2... x 10^e. */
static inline void decimal18(double v, char digits[19], int* e) {
  char t[40];
  snprintf(t, sizeof t, "%.17e", v < 0 ? -v : v);
  /* t is d.ddddddddddddddddde[+-]xx */
  digits[0] = t[0];
  memcpy(digits + 1, t + 2, 17);
  digits[18] = 0;
  *e = atoi(strchr(t, 'e') + 1) + 1;
}

/* The general number form: 15 significant digits, fixed when the exponent is
   between -3 and 15, scientific otherwise. */
static inline void add_general(buf_t* out, double v) {
  if (v == 0) {
    buf_chr(out, '0');
    return;
  }
  char d[19];
  int e;
  decimal18(v, d, &e);
  int n = 15;
  if (d[15] >= '5') {
    int i = 14;
    while (i >= 0 && d[i] == '9') d[i--] = '0';
    if (i >= 0) {
      d[i]++;
    } else {
      memmove(d + 1, d, 14);
      d[0] = '1';
      ++e;
    }
  }
  while (n > 0 && d[n - 1] == '0') --n;
  if (v < 0) buf_chr(out, '-');
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      buf_chr(out, '0');
      buf_chr(out, '.');
      for (int i = 0; i < -e; ++i) buf_chr(out, '0');
      buf_add(out, d, (size_t)n);
    } else {
      for (int i = 0; i < e; ++i) buf_chr(out, i < n ? d[i] : '0');
      if (n > e) {
        buf_chr(out, '.');
        buf_add(out, d + e, (size_t)(n - e));
      }
    }
  } else {
    buf_chr(out, d[0]);
    if (n > 1) {
      buf_chr(out, '.');
      buf_add(out, d + 1, (size_t)(n - 1));
    }
    buf_chr(out, 'E');
    buf_int(out, e - 1);
  }
}

/* The price pattern "0.##": two decimals rounded half away from zero, trailing
   zeros and a bare decimal mark dropped, "0" for anything that rounds to zero. */
static inline void add_price(buf_t* out, double v) {
  char d[19];
  int e;
  if (v == 0) {
    buf_chr(out, '0');
    return;
  }
  decimal18(v, d, &e);
  char ip[40] = "0", fr[4] = "000";
  int ni = 1;
  if (e > 0) {
    ni = e;
    for (int i = 0; i < e; ++i) ip[i] = i < 18 ? d[i] : '0';
    for (int i = 0; i < 3; ++i) fr[i] = e + i < 18 ? d[e + i] : '0';
  } else {
    for (int i = 0; i < 3; ++i) {
      int k = i + e; /* index into d after -e leading zeros */
      fr[i] = k >= 0 && k < 18 ? d[k] : '0';
    }
  }
  ip[ni] = 0;
  if (fr[2] >= '5') {
    int i = 1;
    while (i >= 0 && fr[i] == '9') fr[i--] = '0';
    if (i >= 0) {
      fr[i]++;
    } else {
      int j = ni - 1;
      while (j >= 0 && ip[j] == '9') ip[j--] = '0';
      if (j >= 0) {
        ip[j]++;
      } else {
        memmove(ip + 1, ip, (size_t)ni + 1);
        ip[0] = '1';
        ++ni;
      }
    }
  }
  fr[2] = 0;
  const char* p = ip;
  while (p[0] == '0' && p[1]) ++p;
  if (!strcmp(p, "0") && !strcmp(fr, "00")) {
    buf_chr(out, '0');
    return;
  }
  if (v < 0) buf_chr(out, '-');
  buf_str(out, p);
  if (strcmp(fr, "00")) {
    buf_chr(out, '.');
    buf_chr(out, fr[0]);
    if (fr[1] != '0') buf_chr(out, fr[1]);
  }
}

/* ---- Settings file ---------------------------------------------------------- */

typedef struct {
  char server[1025], user[1025], password[1025], role[1025];
} settings_t;

static inline void copy_value(char* to, const char* from, size_t n) {
  memcpy(to, from, n);
  to[n] = 0;
}

/* Reads the first "*.def" file of the working directory; 0 when there is none. */
static inline int read_settings(settings_t* s) {
  memset(s, 0, sizeof *s);
  DIR* d = opendir(".");
  if (!d) return 0;
  struct dirent* de;
  char name[512] = "";
  while ((de = readdir(d)) != NULL) {
    size_t k = strlen(de->d_name);
    if (k >= 4 && !strcasecmp(de->d_name + k - 4, ".def")) {
      snprintf(name, sizeof name, "%s", de->d_name);
      break;
    }
  }
  closedir(d);
  if (!*name) return 0;
  char text[1025];
  int fd = open(name, O_RDONLY);
  ssize_t n = fd >= 0 ? read(fd, text, 1024) : 0;
  if (fd >= 0) close(fd);
  if (n < 0) n = 0;
  text[n] = 0;
  static const char* const kKeys[4] = {"SERVER NAME=", "USER NAME=", "PASSWORD=", "ROLE NAME="};
  char* const to[4] = {s->server, s->user, s->password, s->role};
  const char* p = text;
  while (*p) {
    size_t len = strcspn(p, "\r\n");
    for (int k = 0; k < 4; ++k) {
      size_t kl = strlen(kKeys[k]);
      if (len >= kl && !strncmp(p, kKeys[k], kl)) {
        copy_value(to[k], p + kl, len - kl);
        break;
      }
    }
    p += len;
    if (*p == '\r') ++p;
    if (*p == '\n') ++p;
  }
  return 1;
}

static inline void block_termination(void) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, NULL);
}

#endif
