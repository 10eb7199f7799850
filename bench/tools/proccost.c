/* proccost: the whole-process cost of CGI programs, measured interleaved.

   proccost [-n REPS] [-w WARMUP] [-s SERVER_PID] [-o OUTDIR] VARIANT...
   VARIANT is LABEL|DIR|PROGRAM|QUERY_STRING|BODY where BODY is empty (GET),
   "order" (a POST of a fresh 10-row order each run) or a file name (POST).

   Each round runs every variant once, in the order given, as a web server would:
   a fresh process in DIR with the CGI variables, the body on standard input and
   standard output read to the end. Per variant it prints one tab-separated line:
   label, runs, wall median, wall p90, CPU median (user+system), peak RSS median
   and maximum (KiB), the database server's CPU per run (ms, from /proc, so only
   meaningful as an average), and failures (exit code not 0, or no answer). The
   last answer of every variant is kept in OUTDIR/LABEL.out. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "order.h"

typedef struct {
  char *label, *dir, *program, *query, *body;
  double *wall, *cpu;
  long* rss;
  double server_ms;
  int runs, failures;
  char* last;
  size_t last_n;
} variant_t;

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

/* utime + stime of a process in clock ticks; -1 when it can't be read. */
static long long proc_ticks(int pid) {
  if (pid <= 0) return -1;
  char path[64], buf[4096];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return -1;
  buf[n] = 0;
  char* p = strrchr(buf, ')');
  if (!p) return -1;
  /* fields after the name: state(3) ... utime(14) stime(15) */
  long long ut = 0, stt = 0;
  int field = 2;
  for (char* t = strtok(p + 1, " "); t; t = strtok(NULL, " ")) {
    ++field;
    if (field == 14) ut = atoll(t);
    if (field == 15) {
      stt = atoll(t);
      break;
    }
  }
  return ut + stt;
}

static char* read_file(const char* name, size_t* n) {
  FILE* f = fopen(name, "rb");
  if (!f) {
    fprintf(stderr, "proccost: cannot read %s: %s\n", name, strerror(errno));
    exit(2);
  }
  fseek(f, 0, SEEK_END);
  long len = ftell(f);
  fseek(f, 0, SEEK_SET);
  char* p = malloc((size_t)len + 1);
  *n = fread(p, 1, (size_t)len, f);
  fclose(f);
  return p;
}

static unsigned long long gOrderCounter;
static char gRunId[32];

static void run_once(variant_t* v, int record, long long server_pid) {
  char* body = NULL;
  size_t body_n = 0;
  if (!strcmp(v->body, "order")) {
    char guid[64];
    snprintf(guid, sizeof guid, "pc-%s-%llu", gRunId, ++gOrderCounter);
    body = make_order(guid, gOrderCounter, &body_n);
  } else if (*v->body) {
    body = read_file(v->body, &body_n);
  }
  int in[2], out[2];
  if (pipe(in) || pipe(out)) {
    perror("pipe");
    exit(2);
  }
  long long t0 = proc_ticks((int)server_pid);
  double start = now_ms();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]), close(in[1]), close(out[0]), close(out[1]);
    if (chdir(v->dir)) _exit(127);
    char cl[32];
    snprintf(cl, sizeof cl, "%zu", body_n);
    clearenv();
    setenv("GATEWAY_INTERFACE", "CGI/1.1", 1);
    setenv("SERVER_PROTOCOL", "HTTP/1.1", 1);
    setenv("SERVER_SOFTWARE", "proccost", 1);
    setenv("SERVER_NAME", "127.0.0.1", 1);
    setenv("SERVER_PORT", "80", 1);
    setenv("REMOTE_ADDR", "127.0.0.1", 1);
    setenv("SCRIPT_NAME", "/dorvana", 1);
    setenv("QUERY_STRING", v->query, 1);
    setenv("REQUEST_METHOD", body ? "POST" : "GET", 1);
    if (body) {
      setenv("CONTENT_LENGTH", cl, 1);
      setenv("CONTENT_TYPE", "text/xml", 1);
    }
    execl(v->program, v->program, (char*)NULL);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (body_n) {
    /* Order bodies are a few KiB, below the pipe's buffer. */
    if (write(in[1], body, body_n) != (ssize_t)body_n) perror("write body");
  }
  close(in[1]);
  char* got = NULL;
  size_t n = 0, cap = 0;
  for (;;) {
    if (n + 65536 > cap) {
      cap = cap ? cap * 2 : 1 << 20;
      got = realloc(got, cap);
    }
    ssize_t r = read(out[0], got + n, cap - n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    n += (size_t)r;
  }
  close(out[0]);
  int status;
  struct rusage ru;
  while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
  }
  double wall = now_ms() - start;
  long long t1 = proc_ticks((int)server_pid);
  free(body);
  if (!record) {
    free(got);
    return;
  }
  int failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0 || n == 0 ||
               (n >= 13 && strncmp(got, "Status: 200 ", 12) != 0);
  if (failed) v->failures++;
  v->wall[v->runs] = wall;
  v->cpu[v->runs] = ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3 +
                    ru.ru_stime.tv_sec * 1e3 + ru.ru_stime.tv_usec / 1e3;
  v->rss[v->runs] = ru.ru_maxrss;
  if (t0 >= 0 && t1 >= 0) v->server_ms += (double)(t1 - t0) * 1000.0 / (double)sysconf(_SC_CLK_TCK);
  v->runs++;
  free(v->last);
  v->last = got;
  v->last_n = n;
}

static int cmp_d(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}
static int cmp_l(const void* a, const void* b) {
  long x = *(const long*)a, y = *(const long*)b;
  return x < y ? -1 : x > y;
}
static double quantile(double* v, int n, double q) {
  qsort(v, (size_t)n, sizeof *v, cmp_d);
  return n ? v[(int)((n - 1) * q + 0.5)] : 0;
}

int main(int argc, char** argv) {
  int reps = 50, warm = 3;
  long long server_pid = 0;
  const char* outdir = NULL;
  int opt;
  while ((opt = getopt(argc, argv, "n:w:s:o:")) != -1) {
    switch (opt) {
      case 'n':
        reps = atoi(optarg);
        break;
      case 'w':
        warm = atoi(optarg);
        break;
      case 's':
        server_pid = atoll(optarg);
        break;
      case 'o':
        outdir = optarg;
        break;
      default:
        fprintf(stderr,
                "usage: proccost [-n REPS] [-w WARMUP] [-s SERVER_PID] [-o OUTDIR] "
                "LABEL|DIR|PROGRAM|QUERY|BODY...\n");
        return 2;
    }
  }
  int nv = argc - optind;
  if (nv <= 0 || reps <= 0) {
    fprintf(stderr, "proccost: no variants\n");
    return 2;
  }
  snprintf(gRunId, sizeof gRunId, "%lx%x", (long)time(NULL), (unsigned)getpid());
  signal(SIGPIPE, SIG_IGN);
  variant_t* vs = calloc((size_t)nv, sizeof *vs);
  for (int i = 0; i < nv; ++i) {
    char* s = strdup(argv[optind + i]);
    char* parts[5] = {0};
    for (int k = 0; k < 5; ++k) parts[k] = strsep(&s, "|");
    if (!parts[4]) {
      fprintf(stderr, "proccost: bad variant %s\n", argv[optind + i]);
      return 2;
    }
    vs[i].label = parts[0], vs[i].dir = parts[1], vs[i].program = parts[2];
    vs[i].query = parts[3], vs[i].body = parts[4];
    vs[i].wall = calloc((size_t)reps, sizeof(double));
    vs[i].cpu = calloc((size_t)reps, sizeof(double));
    vs[i].rss = calloc((size_t)reps, sizeof(long));
  }
  for (int r = 0; r < warm; ++r)
    for (int i = 0; i < nv; ++i) run_once(&vs[i], 0, server_pid);
  for (int r = 0; r < reps; ++r)
    for (int i = 0; i < nv; ++i) run_once(&vs[(i + r) % nv], 1, server_pid);
  for (int i = 0; i < nv; ++i) {
    variant_t* v = &vs[i];
    qsort(v->rss, (size_t)v->runs, sizeof(long), cmp_l);
    printf("%s\t%d\t%.3f\t%.3f\t%.3f\t%ld\t%ld\t%.3f\t%d\n", v->label, v->runs,
           quantile(v->wall, v->runs, 0.5), quantile(v->wall, v->runs, 0.9),
           quantile(v->cpu, v->runs, 0.5), v->rss[v->runs / 2], v->rss[v->runs - 1],
           server_pid > 0 ? v->server_ms / v->runs : -1.0, v->failures);
    if (outdir) {
      char path[4096];
      snprintf(path, sizeof path, "%s/%s.out", outdir, v->label);
      FILE* f = fopen(path, "wb");
      if (f) {
        fwrite(v->last, 1, v->last_n, f);
        fclose(f);
      }
    }
  }
  return 0;
}
