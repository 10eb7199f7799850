/* What IIS's FastCGI module does with a FastCGI program, for the Windows pass
 * under wine: it creates a named pipe, starts the program with the pipe's server
 * end as its standard input, standard output and standard error invalid, and an
 * inheritable shutdown event named in _FCGI_SHUTDOWN_EVENT_; then it opens one
 * client connection on the pipe per request and speaks FastCGI over it.
 *
 *   launcher.exe PROGRAM [ARG...]     (in the program's working folder)
 *
 * Commands, one a line on standard input, each answered by one line on standard
 * output (paths in Windows form, such as Z:/tmp/x):
 *   R ENV BODY OUT ERR   one request: ENV holds the parameters (NAME=VALUE, each
 *                        ended by a NUL byte), BODY the body; the answer's stdout
 *                        bytes go to OUT, its stderr bytes to ERR.
 *                        Answer: "ok APPSTATUS" or "error TEXT".
 *   Q ENV BODY OUT ERR   the same, but the shutdown event is signalled when half
 *                        of the body is sent (the request is in flight), and
 *                        the rest follows 200 ms later; then waits for the
 *                        program's exit. Answer: "ok APPSTATUS exit CODE".
 *   L N ENV BODY         N requests; each answer must be the first one's bytes.
 *                        "########" in the body is replaced by the request's
 *                        number in each (an order's own identifier).
 *                        Answer: "ok N SAME first WS PB HC last WS PB HC rps
 *                        R p50 P p99 P" with the program's working set and
 *                        private bytes (KiB) and handle count after the first
 *                        and the last thousand, requests per second, and the
 *                        latencies in ms.
 *   M                    "ok WS PB HC" of the program now.
 *   K                    signals the shutdown event and waits for the exit:
 *                        "ok exit CODE".
 * The launcher ends at the end of its input (killing the program if it still
 * runs). */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h:
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char pipeName[128];
static HANDLE child, shutdownEvent;

static void die(const char* what) {
  fprintf(stderr, "launcher: %s (error %lu)\n", what, GetLastError());
  exit(2);
}

/* Reads a whole file; NULL when it cannot. */
static char* slurp(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) return NULL;
  size_t cap = 65536, n = 0, got;
  char* data = malloc(cap);
  while ((got = fread(data + n, 1, cap - n, f)) > 0) {
    n += got;
    if (n == cap) data = realloc(data, cap *= 2);
  }
  fclose(f);
  *size = n;
  return data;
}

/* ---- FastCGI records -------------------------------------------------------- */
typedef struct {
  char* data;
  size_t size, cap;
} buffer;

static void put(buffer* b, const void* p, size_t n) {
  if (b->size + n > b->cap) {
    b->cap = (b->size + n) * 2 + 1024;
    b->data = realloc(b->data, b->cap);
  }
  memcpy(b->data + b->size, p, n);
  b->size += n;
}

static void record(buffer* b, int type, const char* content, size_t length) {
  unsigned char h[8] = {
      1, (unsigned char)type, 0, 1, (unsigned char)(length >> 8), (unsigned char)length, 0, 0};
  put(b, h, 8);
  put(b, content, length);
}

static void records(buffer* b, int type, const char* content, size_t length) {
  while (length > 0) {
    size_t n = length > 65535 ? 65535 : length;
    record(b, type, content, n);
    content += n;
    length -= n;
  }
}

static void lengthOf(buffer* b, size_t n) {
  if (n < 128) {
    unsigned char c = (unsigned char)n;
    put(b, &c, 1);
  } else {
    unsigned char c[4] = {(unsigned char)(0x80 | (n >> 24)), (unsigned char)(n >> 16),
                          (unsigned char)(n >> 8), (unsigned char)n};
    put(b, c, 4);
  }
}

/* The records of one request: begin, the parameters of env (NUL-separated
 * NAME=VALUE), the body; split at the middle of the body into head and tail. */
static void buildRequest(const char* env, size_t envSize, const char* body, size_t bodySize,
                         buffer* head, buffer* tail) {
  static const char begin[8] = {0, 1, 0, 0, 0, 0, 0, 0}; /* responder, connection closed */
  buffer params = {0};
  for (size_t i = 0; i < envSize;) {
    size_t end = i;
    while (end < envSize && env[end]) ++end;
    const char* eq = memchr(env + i, '=', end - i);
    if (eq) {
      lengthOf(&params, (size_t)(eq - env - i));
      lengthOf(&params, end - (size_t)(eq - env) - 1);
      put(&params, env + i, (size_t)(eq - env - i));
      put(&params, eq + 1, end - (size_t)(eq - env) - 1);
    }
    i = end + 1;
  }
  record(head, 1, begin, 8);
  records(head, 4, params.data, params.size);
  record(head, 4, "", 0);
  records(head, 5, body, bodySize / 2);
  records(tail, 5, body + bodySize / 2, bodySize - bodySize / 2);
  record(tail, 5, "", 0);
  free(params.data);
}

static int writeAll(HANDLE h, const char* p, size_t n) {
  while (n > 0) {
    DWORD done = 0;
    if (!WriteFile(h, p, (DWORD)(n > 65536 ? 65536 : n), &done, NULL) || done == 0) return 0;
    p += done;
    n -= done;
  }
  return 1;
}

static int readAll(HANDLE h, unsigned char* p, size_t n) {
  while (n > 0) {
    DWORD done = 0;
    if (!ReadFile(h, p, (DWORD)n, &done, NULL) || done == 0) return 0;
    p += done;
    n -= done;
  }
  return 1;
}

static HANDLE connectPipe(void) {
  for (int tries = 0; tries < 400; ++tries) {
    HANDLE h = CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) return h;
    /* Busy until the program has ended the last connection and listens again. */
    if (GetLastError() == ERROR_PIPE_BUSY)
      WaitNamedPipeA(pipeName, 1000);
    else
      Sleep(5);
  }
  return INVALID_HANDLE_VALUE;
}

/* One request over a new connection; the answer's stdout and stderr bytes into
 * out and err. Returns the application status, or -1 with *error set. */
static int exchange(const buffer* head, const buffer* tail, int signalInFlight, buffer* out,
                    buffer* err, const char** error) {
  HANDLE h = connectPipe();
  if (h == INVALID_HANDLE_VALUE) {
    *error = "cannot connect to the pipe";
    return -1;
  }
  int status = -1;
  *error = "the connection ended before the end of the request";
  if (!writeAll(h, head->data, head->size)) goto done;
  if (signalInFlight) {
    SetEvent(shutdownEvent);
    Sleep(200);
  }
  if (!writeAll(h, tail->data, tail->size)) goto done;
  for (;;) {
    unsigned char r[8];
    static unsigned char content[65536 + 256];
    if (!readAll(h, r, 8)) goto done;
    size_t length = (size_t)r[4] << 8 | r[5], padding = r[6];
    if (!readAll(h, content, length + padding)) goto done;
    if (r[1] == 6)
      put(out, content, length);
    else if (r[1] == 7)
      put(err, content, length);
    else if (r[1] == 3 && length >= 8) {
      status = content[0] << 24 | content[1] << 16 | content[2] << 8 | content[3];
      *error = NULL;
      break;
    }
  }
done:
  CloseHandle(h);
  return status;
}

/* The program's handles: wine 8 answers GetProcessHandleCount with 0, so then
 * every handle value is tried (a duplicate of an open one succeeds). */
static long handleCount(void) {
  DWORD n = 0;
  if (GetProcessHandleCount(child, &n) && n > 0) return (long)n;
  long count = 0;
  for (ULONG_PTR value = 4; value <= 4 * 16384; value += 4) {
    HANDLE copy;
    if (DuplicateHandle(child, (HANDLE)value, GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      ++count;
      CloseHandle(copy);
    }
  }
  return count;
}

/* Working set and private bytes in KiB (wine fills PagefileUsage, the same
 * figure, and leaves PrivateUsage 0), and the handle count. */
static void usage(long* ws, long* pb, long* hc) {
  PROCESS_MEMORY_COUNTERS_EX m;
  memset(&m, 0, sizeof m);
  m.cb = sizeof m;
  GetProcessMemoryInfo(child, (PROCESS_MEMORY_COUNTERS*)&m, sizeof m);
  *ws = (long)(m.WorkingSetSize / 1024);
  *pb = (long)((m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage) / 1024);
  *hc = handleCount();
}

static int exitCode(void) {
  DWORD code = 0;
  if (WaitForSingleObject(child, 30000) != WAIT_OBJECT_0) return -1;
  GetExitCodeProcess(child, &code);
  return (int)code;
}

static int writeFile(const char* path, const buffer* b) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(b->data, 1, b->size, f);
  fclose(f);
  return 1;
}

static int compareMs(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static void startProgram(int argc, char** argv) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  snprintf(pipeName, sizeof pipeName, "\\\\.\\pipe\\dorvana-launcher-%lu", GetCurrentProcessId());
  /* LAUNCHER_SYNC_PIPE=1: a pipe without overlapped I/O, which blocks its calls. */
  const char* sync = getenv("LAUNCHER_SYNC_PIPE");
  const DWORD overlapped = sync && *sync == '1' ? 0 : FILE_FLAG_OVERLAPPED;
  HANDLE listen = CreateNamedPipeA(pipeName, PIPE_ACCESS_DUPLEX | overlapped,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                   0, &inherit);
  if (listen == INVALID_HANDLE_VALUE) die("CreateNamedPipe");
  shutdownEvent = CreateEventA(&inherit, TRUE, FALSE, NULL);
  if (!shutdownEvent) die("CreateEvent");
  char value[32];
  snprintf(value, sizeof value, "%llu", (unsigned long long)(ULONG_PTR)shutdownEvent);
  SetEnvironmentVariableA("_FCGI_SHUTDOWN_EVENT_", value);

  char command[4096] = "";
  for (int i = 1; i < argc; ++i) {
    strcat(command, "\"");
    strcat(command, argv[i]);
    strcat(command, i + 1 < argc ? "\" " : "\"");
  }
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = listen;
  si.hStdOutput = INVALID_HANDLE_VALUE;
  si.hStdError = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi))
    die("CreateProcess");
  CloseHandle(pi.hThread);
  CloseHandle(listen);
  child = pi.hProcess;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: launcher.exe PROGRAM [ARG...]\n");
    return 2;
  }
  startProgram(argc, argv);
  char line[4096];
  while (fgets(line, sizeof line, stdin)) {
    char cmd = 0, envPath[1024] = "", bodyPath[1024] = "", outPath[1024] = "", errPath[1024] = "";
    long count = 0, ws, pb, hc;
    if (line[0] == 'M') {
      usage(&ws, &pb, &hc);
      printf("ok %ld %ld %ld\n", ws, pb, hc);
    } else if (line[0] == 'K') {
      SetEvent(shutdownEvent);
      printf("ok exit %d\n", exitCode());
    } else if ((sscanf(line, "%c %1023s %1023s %1023s %1023s", &cmd, envPath, bodyPath, outPath,
                       errPath) == 5 &&
                (cmd == 'R' || cmd == 'Q')) ||
               (sscanf(line, "L %ld %1023s %1023s", &count, envPath, bodyPath) == 3 &&
                (cmd = 'L'))) {
      size_t envSize = 0, bodySize = 0;
      char* env = slurp(envPath, &envSize);
      char* body = slurp(bodyPath, &bodySize);
      if (!env || !body) {
        printf("error cannot read %s or %s\n", envPath, bodyPath);
      } else {
        buffer head = {0}, tail = {0}, out = {0}, err = {0}, first = {0};
        buildRequest(env, envSize, body, bodySize, &head, &tail);
        const char* error = NULL;
        if (cmd != 'L') {
          int status = exchange(&head, &tail, cmd == 'Q', &out, &err, &error);
          if (status < 0 || !writeFile(outPath, &out) || !writeFile(errPath, &err))
            printf("error %s\n", error ? error : "cannot write the answer");
          else if (cmd == 'Q')
            printf("ok %d exit %d\n", status, exitCode());
          else
            printf("ok %d\n", status);
        } else {
          double* ms = malloc(sizeof(double) * (size_t)count);
          long same = 0, firstUse[3] = {0}, n;
          LARGE_INTEGER freq, t0, t1, start;
          QueryPerformanceFrequency(&freq);
          QueryPerformanceCounter(&start);
          char* mark = NULL;
          for (size_t i = 0; i + 8 <= bodySize && !mark; ++i)
            if (memcmp(body + i, "########", 8) == 0) mark = body + i;
          for (n = 0; n < count; ++n) {
            out.size = err.size = 0;
            if (mark) {
              static unsigned long serial;
              char digits[16];
              snprintf(digits, sizeof digits, "%08lu", ++serial % 100000000UL);
              memcpy(mark, digits, 8);
              head.size = tail.size = 0;
              buildRequest(env, envSize, body, bodySize, &head, &tail);
            }
            QueryPerformanceCounter(&t0);
            if (exchange(&head, &tail, 0, &out, &err, &error) < 0) break;
            QueryPerformanceCounter(&t1);
            ms[n] = (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)freq.QuadPart;
            if (n == 0) put(&first, out.data, out.size);
            if (out.size == first.size && memcmp(out.data, first.data, out.size) == 0) ++same;
            if (n + 1 == 1000 || (count < 1000 && n == 0))
              usage(&firstUse[0], &firstUse[1], &firstUse[2]);
          }
          double seconds = (double)(t1.QuadPart - start.QuadPart) / (double)freq.QuadPart;
          if (n < count) {
            printf("error request %ld: %s\n", n + 1, error);
          } else {
            usage(&ws, &pb, &hc);
            qsort(ms, (size_t)count, sizeof(double), compareMs);
            printf("ok %ld %ld first %ld %ld %ld last %ld %ld %ld rps %.1f p50 %.2f p99 %.2f\n",
                   count, same, firstUse[0], firstUse[1], firstUse[2], ws, pb, hc,
                   seconds > 0 ? (double)count / seconds : 0.0, ms[count / 2],
                   ms[(size_t)((double)count * 0.99)]);
          }
          free(ms);
        }
        free(head.data);
        free(tail.data);
        free(out.data);
        free(err.data);
        free(first.data);
      }
      free(env);
      free(body);
    } else {
      printf("error unknown command\n");
    }
    fflush(stdout);
  }
  if (WaitForSingleObject(child, 0) != WAIT_OBJECT_0) TerminateProcess(child, 1);
  return 0;
}
