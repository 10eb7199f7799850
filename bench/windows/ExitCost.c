/* What a process's way out costs with the database client library loaded, on
 * Windows: loads the library by name, attaches to a database and detaches again
 * (a real client starts its threads at the attach), then ends by one of
 *
 *   terminate   TerminateProcess, as the program ends after its answer
 *   exit        ExitProcess: every loaded DLL's detach code runs first
 *   return      a return from main: the C runtime's exit handlers, then as exit
 *
 *   exit_cost MODE LIBRARY [DATABASE USER PASSWORD]
 *   exit_cost MODE -          nothing loaded: the bare process
 *
 * Timed many times over by bench/windows/exit.sh (under wine with the scripted
 * client), or on Windows with the real client, e.g. in PowerShell:
 *   Measure-Command { 1..50 | % { .\exit_cost.exe exit fbclient.dll host:C:\db\x.fdb U P } }
 * The difference between "terminate" and "exit" is what the fast exit saves. */
#include <ibase.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

typedef ISC_STATUS(ISC_EXPORT* attach_t)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*,
                                         short, const ISC_SCHAR*);
typedef ISC_STATUS(ISC_EXPORT* detach_t)(ISC_STATUS*, isc_db_handle*);

/* Appends one counted string item to a database parameter block. */
static int put_item(char* dpb, int at, char item, const char* value) {
  const size_t n = strlen(value);
  if (n > 255 || at + 2 + (int)n > 512) return -1;
  dpb[at] = item;
  dpb[at + 1] = (char)n;
  memcpy(dpb + at + 2, value, n);
  return at + 2 + (int)n;
}

static int attach_and_detach(HMODULE library, const char* database, const char* user,
                             const char* password) {
  ISC_STATUS status[20] = {0};
  isc_db_handle db = 0;
  char dpb[512];
  int length = 1;
  attach_t attach = (attach_t)(void*)GetProcAddress(library, "isc_attach_database");
  detach_t detach = (detach_t)(void*)GetProcAddress(library, "isc_detach_database");
  if (!attach || !detach) {
    fprintf(stderr, "the library lacks isc_attach_database or isc_detach_database\n");
    return 0;
  }
  dpb[0] = isc_dpb_version1;
  length = put_item(dpb, length, isc_dpb_user_name, user);
  if (length > 0) length = put_item(dpb, length, isc_dpb_password, password);
  if (length < 0) {
    fprintf(stderr, "user name or password too long\n");
    return 0;
  }
  if (attach(status, (short)strlen(database), database, &db, (short)length, dpb) || status[1]) {
    fprintf(stderr, "attach failed with status %ld\n", (long)status[1]);
    return 0;
  }
  detach(status, &db);
  return 1;
}

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (argc != 3 && argc != 6) {
    fprintf(stderr, "usage: exit_cost terminate|exit|return LIBRARY|- [DATABASE USER PASSWORD]\n");
    return 2;
  }
  if (strcmp(argv[2], "-") != 0) {
    HMODULE library = LoadLibraryA(argv[2]);
    if (!library) {
      fprintf(stderr, "cannot load %s: error %lu\n", argv[2], (unsigned long)GetLastError());
      return 1;
    }
    if (argc == 6 && !attach_and_detach(library, argv[3], argv[4], argv[5])) return 1;
  }
  fflush(stdout);
  if (strcmp(mode, "terminate") == 0) TerminateProcess(GetCurrentProcess(), 0);
  if (strcmp(mode, "exit") == 0) ExitProcess(0);
  if (strcmp(mode, "return") == 0) return 0;
  fprintf(stderr, "no such mode: %s\n", mode);
  return 2;
}
