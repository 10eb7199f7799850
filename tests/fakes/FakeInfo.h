/* What both fake client libraries answer to a database-info request. */
#pragma once

#include <ibase.h>

/* One item holding a 4-byte number, then the end mark: 8 bytes at out. */
void fake_put_number(ISC_SCHAR* out, int item, int value);

/* The answer to the first item asked for: attachment 42, dialect 3, character set
 * 52, the server version text given; "end" for any other item. */
void fake_database_info(const ISC_SCHAR* items, short result_length, ISC_SCHAR* result,
                        const char* version);
