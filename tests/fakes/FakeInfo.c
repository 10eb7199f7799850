#include "FakeInfo.h"

#include <string.h>

void fake_put_number(ISC_SCHAR* out, int item, int value) {
  int i;
  out[0] = (ISC_SCHAR)item;
  out[1] = 4;
  out[2] = 0;
  for (i = 0; i < 4; ++i) out[3 + i] = (ISC_SCHAR)((value >> (8 * i)) & 0xFF);
  out[7] = isc_info_end;
}

void fake_database_info(const ISC_SCHAR* items, short result_length, ISC_SCHAR* result,
                        const char* version) {
  memset(result, 0, (size_t)result_length);
  switch (items[0]) {
    case isc_info_attachment_id:
      fake_put_number(result, items[0], 42);
      break;
    case isc_info_db_sql_dialect:
      fake_put_number(result, items[0], 3);
      break;
    case frb_info_att_charset:
      fake_put_number(result, items[0], 52);
      break;
    case isc_info_firebird_version: {
      const int n = (int)strlen(version);
      result[0] = (ISC_SCHAR)items[0];
      result[1] = (ISC_SCHAR)(n + 2);
      result[2] = 0;
      result[3] = 1;
      result[4] = (ISC_SCHAR)n;
      memcpy(result + 5, version, (size_t)n);
      result[5 + n] = isc_info_end;
      break;
    }
    default:
      result[0] = isc_info_end;
  }
}
