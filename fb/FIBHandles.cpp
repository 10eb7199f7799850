#include "fb/FIBHandles.h"

#include <ibase.h>

#include <type_traits>

#include "fb/IB_Intf.h"

static_assert(std::is_same_v<TFBHandleValue, isc_db_handle> &&
              std::is_same_v<TFBHandleValue, isc_tr_handle> &&
              std::is_same_v<TFBHandleValue, isc_stmt_handle> &&
              std::is_same_v<TFBHandleValue, isc_blob_handle>);
static_assert(std::is_same_v<TFBStatus, ISC_STATUS>);

namespace {
// The one call that gives each kind of handle up.
template <TFBHandleKind K>
ISC_STATUS ReleaseCall(IIBClientLibrary& library, ISC_STATUS* status, TFBHandleValue* handle);
template <>
ISC_STATUS ReleaseCall<TFBHandleKind::Database>(IIBClientLibrary& l, ISC_STATUS* s,
                                                TFBHandleValue* h) {
  return l.isc_detach_database(s, h);
}
template <>
ISC_STATUS ReleaseCall<TFBHandleKind::Transaction>(IIBClientLibrary& l, ISC_STATUS* s,
                                                   TFBHandleValue* h) {
  return l.isc_rollback_transaction(s, h);
}
template <>
ISC_STATUS ReleaseCall<TFBHandleKind::Statement>(IIBClientLibrary& l, ISC_STATUS* s,
                                                 TFBHandleValue* h) {
  return l.isc_dsql_free_statement(s, h, DSQL_drop);
}
template <>
ISC_STATUS ReleaseCall<TFBHandleKind::Blob>(IIBClientLibrary& l, ISC_STATUS* s, TFBHandleValue* h) {
  return l.isc_close_blob(s, h);
}
}  // namespace

template <TFBHandleKind K>
TFBStatus TFBHandle<K>::Release(TFBStatus* status) {
  if (!FValue) return 0;
  const TFBStatus result = FLibrary ? ReleaseCall<K>(*FLibrary, status, &FValue) : 0;
  FValue = TFBHandleValue{};
  return result;
}

// Released with a status vector of its own: a handle ended on the way out must
// not overwrite what the thread's vector holds for an error being raised.
template <TFBHandleKind K>
void TFBHandle<K>::EndQuietly() noexcept {
  ISC_STATUS status[kStatusVectorLength] = {};
  try {
    Release(status);
  } catch (...) {
    FValue = TFBHandleValue{};
  }
}

template class TFBHandle<TFBHandleKind::Database>;
template class TFBHandle<TFBHandleKind::Transaction>;
template class TFBHandle<TFBHandleKind::Statement>;
template class TFBHandle<TFBHandleKind::Blob>;
