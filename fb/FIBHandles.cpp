#include "fb/FIBHandles.h"

#include <ibase.h>

#include <type_traits>

#include "fb/IB_Intf.h"

static_assert(std::is_same_v<TFBHandleValue, isc_db_handle> &&
              std::is_same_v<TFBHandleValue, isc_tr_handle> &&
              std::is_same_v<TFBHandleValue, isc_stmt_handle>);
static_assert(std::is_same_v<TFBStatus, ISC_STATUS>);

// A status vector of its own: a handle ended on the way out must not overwrite
// what the thread's vector holds for an error being raised.
template <>
void TFBDatabaseHandle::EndQuietly() noexcept {
  ISC_STATUS status[kStatusVectorLength] = {};
  try {
    if (FLibrary) FLibrary->isc_detach_database(status, &FValue);
  } catch (...) {
  }
}

template <>
void TFBTransactionHandle::EndQuietly() noexcept {
  ISC_STATUS status[kStatusVectorLength] = {};
  try {
    if (FLibrary) FLibrary->isc_rollback_transaction(status, &FValue);
  } catch (...) {
  }
}

template <>
void TFBStatementHandle::EndQuietly() noexcept {
  ISC_STATUS status[kStatusVectorLength] = {};
  try {
    if (FLibrary) FLibrary->isc_dsql_free_statement(status, &FValue, DSQL_drop);
  } catch (...) {
  }
}
