/* The persistent floor: the least a FastCGI program can do to answer the five
   terminal commands (q=test, getsprfood, getsprfoodgroup, getsprstewards,
   addorder) with the same bytes as the CGI floors. One attachment and its
   prepared statements are kept between requests; the settings file is still
   read on every request, and when its connection lines change the attachment is
   made anew. Nothing else is kept: every request's fields, body and answer are
   its own, and no transaction outlives its request.

     floor_fcgi                      serve the listening socket on standard input
                                     (a web server's process manager starts it so)
     floor_fcgi -b HOST:PORT [-n N]  listen on HOST:PORT and serve it from N
                                     processes (default 1); a child that dies is
                                     started again, and SIGTERM to the parent
                                     ends them all (also as --fastcgi HOST:PORT
                                     --processes N, the program's options)

   The working directory is the working folder (settings file, Orders). */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <fcgiapp.h>
#include <getopt.h>
#include <setjmp.h>
#include <sys/wait.h>

static FCGX_Request request;
static jmp_buf request_done;

#define FLOOR_GETENV(name) FCGX_GetParam(name, request.envp)
#define FLOOR_WRITE(p, n) FCGX_PutStr(p, (int)(n), request.out)
#define FLOOR_READ(p, n) FCGX_GetStr(p, (int)(n), request.in)
#define FLOOR_FINISH() longjmp(request_done, 1)
#define FLOOR_KEEP_STATEMENTS

#include "floor_db.c"

static settings_t attached; /* the settings of the kept attachment */

/* Attaches unless the kept attachment was made with these settings. */
static void connect_db(const settings_t* s) {
  if (db && !db_broken && !memcmp(s, &attached, sizeof *s)) return;
  if (db) {
    ISC_STATUS_ARRAY ignored;
    isc_detach_database(ignored, &db);
    db = 0;
  }
  forget_statements();
  db_broken = 0;
  attach(s);
  attached = *s;
}

/* After a request that ended early: its transactions rolled back, the cursors
   of the kept statements closed. */
static void tidy_up(void) {
  ISC_STATUS_ARRAY ignored;
  for (int i = 0; i < nstarted; ++i) {
    if (started[i]) isc_rollback_transaction(ignored, &started[i]);
  }
  for (int i = 0; i < nkept; ++i) {
    if (kept[i].out) isc_dsql_free_statement(ignored, &kept[i].stmt, DSQL_close);
  }
}

static void serve(void) {
  const char* qs = FLOOR_GETENV("QUERY_STRING");
  fields_t query;
  split_fields(qs ? qs : "", qs ? strlen(qs) : 0, 0, &query);
  const char* q = field_value(&query, "q");
  int order = !strcmp(q, "addorder");
  buf_t body = {0};
  if (!strcmp(q, "test")) {
    read_body(&body);
    test_command(&query, &body);
  } else if (!order && strcmp(q, "getsprfood") && strcmp(q, "getsprfoodgroup") &&
             strcmp(q, "getsprstewards")) {
    send_reply(200, "text/html", "", 0);
  } else {
    if (order) read_body(&body);
    settings_t s;
    if (!read_settings(&s)) fail("no settings file");
    connect_db(&s);
    if (order) {
      add_order(&body);
    } else {
      list_command(q, &query);
    }
  }
  free(body.p);
  fields_free(&query);
}

static volatile sig_atomic_t stopping, serving;
/* SIGTERM lets a request in flight finish; a process waiting for one ends. */
static void on_term(int sig) {
  (void)sig;
  stopping = 1;
  if (!serving) _exit(0);
}
static void on_term_parent(int sig) {
  (void)sig;
  stopping = 1;
}

static void serve_socket(int sock) {
  FCGX_Init();
  FCGX_InitRequest(&request, sock, 0);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_term;
  sigaction(SIGTERM, &sa, NULL); /* no SA_RESTART: a waiting accept ends */
  while (!stopping && FCGX_Accept_r(&request) == 0) {
    serving = 1;
    nstarted = 0;
    if (setjmp(request_done) != 0)
      tidy_up();
    else
      serve();
    FCGX_Finish_r(&request);
    serving = 0;
  }
  if (db) isc_detach_database(st, &db);
  exit(0);
}

static pid_t children[64];
static int nchildren;

static pid_t spawn(int sock) {
  pid_t pid = fork();
  if (pid == 0) serve_socket(sock);
  return pid;
}

int main(int argc, char** argv) {
  const char* bind = NULL;
  int n = 1;
  static const struct option kLong[] = {{"fastcgi", required_argument, NULL, 'b'},
                                        {"processes", required_argument, NULL, 'n'},
                                        {0, 0, 0, 0}};
  int opt;
  while ((opt = getopt_long(argc, argv, "b:n:", kLong, NULL)) != -1) {
    if (opt == 'b') {
      bind = optarg;
    } else if (opt == 'n') {
      n = atoi(optarg);
    } else {
      fprintf(stderr, "usage: floor_fcgi [-b|--fastcgi HOST:PORT [-n|--processes N]]\n");
      return 2;
    }
  }
  if (!bind) serve_socket(0);
  if (n < 1 || n > 64) n = 1;
  FCGX_Init();
  int sock = FCGX_OpenSocket(bind, 128);
  if (sock < 0) {
    fprintf(stderr, "floor_fcgi: cannot listen on %s\n", bind);
    return 1;
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_term_parent;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  for (int i = 0; i < n; ++i) children[nchildren++] = spawn(sock);
  while (!stopping) {
    pid_t dead = wait(NULL);
    if (dead < 0) continue; /* interrupted by the signal */
    for (int i = 0; i < nchildren; ++i) {
      if (children[i] == dead && !stopping) children[i] = spawn(sock);
    }
  }
  for (int i = 0; i < nchildren; ++i) {
    if (children[i] > 0) kill(children[i], SIGTERM);
  }
  while (wait(NULL) > 0) {
  }
  return 0;
}
