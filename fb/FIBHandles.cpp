#include "fb/FIBHandles.h"

#include <ibase.h>

#include <type_traits>

#include "fb/IB_Intf.h"

static_assert(std::is_same_v<TFBHandleValue, isc_db_handle> &&
              std::is_same_v<TFBHandleValue, isc_tr_handle> &&
              std::is_same_v<TFBHandleValue, isc_stmt_handle>);
static_assert(std::is_same_v<TFBStatus, ISC_STATUS>);

namespace {
// Runs call with a status vector of its own: a handle ended on the way out must
// not overwrite what the thread's vector holds for an error being raised.
template <class Call>
void Quietly(IIBClientLibrary* library, Call call) noexcept {
  if (!library) return;
  ISC_STATUS status[kStatusVectorLength] = {};
  try {
    call(*library, status);
  } catch (...) {
  }
}
}  // namespace

template <>
void TFBDatabaseHandle::EndQuietly() noexcept {
  Quietly(FLibrary, [&](IIBClientLibrary& l, ISC_STATUS* s) { l.isc_detach_database(s, &FValue); });
}

template <>
void TFBTransactionHandle::EndQuietly() noexcept {
  Quietly(FLibrary,
          [&](IIBClientLibrary& l, ISC_STATUS* s) { l.isc_rollback_transaction(s, &FValue); });
}

template <>
void TFBStatementHandle::EndQuietly() noexcept {
  Quietly(FLibrary, [&](IIBClientLibrary& l, ISC_STATUS* s) {
    l.isc_dsql_free_statement(s, &FValue, DSQL_drop);
  });
}
