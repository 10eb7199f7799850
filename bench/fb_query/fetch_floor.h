/* A minimal reader of the menu-shaped select: the client library's calls and
   nothing else. */
#ifndef DORVANA_FETCH_FLOOR_H
#define DORVANA_FETCH_FLOOR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TFloor TFloor;

/* Attaches to dbName and prepares sql (two text parameters); NULL on failure,
   with the reason on standard error. */
TFloor* floor_open(const char* dbName, const char* user, const char* sql, const char* param1,
                   const char* param2);
/* Executes, fetches every row, turns each column into text and closes the
   cursor. Returns the rows read, -1 on failure. */
long floor_run(TFloor* floor);
void floor_close(TFloor* floor);

#ifdef __cplusplus
}
#endif

#endif
