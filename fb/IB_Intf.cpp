#include "fb/IB_Intf.h"

#include <mutex>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

const char* const kEntryNames[] = {
#define DORVANA_IB_NAME(n, t) #n,
    DORVANA_IB_ENTRIES(DORVANA_IB_NAME)
#undef DORVANA_IB_NAME
};

// Entries a usable library must export, bound first in this order.
const TIBEntry kRequired[] = {
    TIBEntry::BLOB_get,
    TIBEntry::BLOB_put,
    TIBEntry::isc_sqlcode,
    TIBEntry::isc_sql_interprete,
    TIBEntry::isc_interprete,
    TIBEntry::isc_vax_integer,
    TIBEntry::isc_blob_info,
    TIBEntry::isc_open_blob2,
    TIBEntry::isc_close_blob,
    TIBEntry::isc_get_segment,
    TIBEntry::isc_put_segment,
    TIBEntry::isc_create_blob2,
    TIBEntry::isc_decode_date,
    TIBEntry::isc_encode_date,
    TIBEntry::isc_dsql_free_statement,
    TIBEntry::isc_dsql_execute2,
    TIBEntry::isc_dsql_execute,
    TIBEntry::isc_dsql_set_cursor_name,
    TIBEntry::isc_dsql_fetch,
    TIBEntry::isc_dsql_sql_info,
    TIBEntry::isc_dsql_alloc_statement2,
    TIBEntry::isc_dsql_prepare,
    TIBEntry::isc_dsql_describe_bind,
    TIBEntry::isc_dsql_describe,
    TIBEntry::isc_dsql_execute_immediate,
    TIBEntry::isc_dsql_exec_immed2,
    TIBEntry::isc_drop_database,
    TIBEntry::isc_detach_database,
    TIBEntry::isc_attach_database,
    TIBEntry::isc_database_info,
    TIBEntry::isc_start_multiple,
    TIBEntry::isc_commit_transaction,
    TIBEntry::isc_commit_retaining,
    TIBEntry::isc_rollback_transaction,
    TIBEntry::isc_cancel_events,
    TIBEntry::isc_que_events,
    TIBEntry::isc_event_counts,
    TIBEntry::isc_event_block,
    TIBEntry::isc_free,
    TIBEntry::isc_array_lookup_bounds,
    TIBEntry::isc_array_get_slice,
    TIBEntry::isc_array_put_slice,
    TIBEntry::isc_wait_for_event,
    TIBEntry::isc_transaction_info,
    TIBEntry::isc_prepare_transaction,
    TIBEntry::isc_prepare_transaction2,
};

// Bound when isc_rollback_retaining exists; then all are required.
const TIBEntry kVersion6[] = {
    TIBEntry::isc_service_attach,   TIBEntry::isc_service_detach,   TIBEntry::isc_service_query,
    TIBEntry::isc_service_start,    TIBEntry::isc_decode_sql_date,  TIBEntry::isc_decode_sql_time,
    TIBEntry::isc_decode_timestamp, TIBEntry::isc_encode_sql_date,  TIBEntry::isc_encode_sql_time,
    TIBEntry::isc_encode_timestamp, TIBEntry::isc_portable_integer,
};

// Bound when isc_get_client_version exists; all optional.
const TIBEntry kLateOptional[] = {
    TIBEntry::isc_dsql_batch_execute_immed,
    TIBEntry::isc_dsql_batch_execute,
    TIBEntry::fb_cancel_operation,
};

struct TRegistry {
  std::mutex lock;
  std::vector<IIBClientLibraryRef> libraries;
};

// Lives as long as the process: the libraries stay loaded until the system
// releases them at exit. Unloading the client library from a static destructor
// would run its code after its own exit-time handlers, and leave dangling the
// thread-local data of threads it started.
TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

// A missing entry point is reported as the system reports a file it can't find;
// the lookup itself gives no code.
[[noreturn]] void RaiseMissingEntry() {
  const int code = static_cast<int>(std::errc::no_such_file_or_directory);
  std::string text = platform::SysErrorMessage(code);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  if (code == 0) throw EOSError("A call to an OS function failed");
  throw EOSError(Format("System Error.  Code: %d.\r\n%s", {code, text}));
}

void SetEntry(TIBEntryTable& table, TIBEntry entry, void* p) {
  switch (entry) {
#define DORVANA_IB_SET(n, t)          \
  case TIBEntry::n:                   \
    table.n = reinterpret_cast<t>(p); \
    break;
    DORVANA_IB_ENTRIES(DORVANA_IB_SET)
#undef DORVANA_IB_SET
    case TIBEntry::Count:
      break;
  }
}

}  // namespace

TLibraryModule::TLibraryModule(const std::string& name) : FHandle(platform::LoadLibrary(name)) {}

TLibraryModule::~TLibraryModule() {
  if (FHandle) platform::UnloadLibrary(FHandle);
}

void* TLibraryModule::Entry(const char* name) const {
  return platform::GetProcAddress(FHandle, name);
}

const char* IBEntryName(TIBEntry entry) { return kEntryNames[static_cast<int>(entry)]; }

void* IIBClientLibrary::Bind(TIBEntry entry, bool required) {
  void* p = FModule.Entry(IBEntryName(entry));
  if (!p && required) RaiseMissingEntry();
  return p;
}

IIBClientLibrary::IIBClientLibrary(const std::string& libraryName)
    : FLibraryName(libraryName), FModule(libraryName) {
  if (!FModule) throw Exception(Format("Can't load library %s ", {libraryName}));
  auto bind = [&](TIBEntry e, bool required) { SetEntry(FEntries, e, Bind(e, required)); };
  for (TIBEntry e : kRequired) bind(e, true);
  bind(TIBEntry::isc_rollback_retaining, false);
  if (FEntries.isc_rollback_retaining) {
    FClientMajorVersion = 6;
    FClientMinorVersion = 0;
    for (TIBEntry e : kVersion6) bind(e, true);
  } else {
    FClientMajorVersion = 5;
    FClientMinorVersion = 0;
  }
  bind(TIBEntry::isc_get_client_version, false);
  if (FEntries.isc_get_client_version) {
    bind(TIBEntry::isc_get_client_major_version, true);
    bind(TIBEntry::isc_get_client_minor_version, true);
    FClientMajorVersion = isc_get_client_major_version();
    FClientMinorVersion = isc_get_client_minor_version();
    for (TIBEntry e : kLateOptional) bind(e, false);
  } else {
    FClientMinorVersion = 0;
  }
  // Loading the library may have changed the floating-point control.
  platform::SetExtendedFpuPrecision();
}

void IIBClientLibrary::RaiseMissing(TIBEntry entry) const {
  throw Exception(Format("Can't find procedure %s in %s", {IBEntryName(entry), FLibraryName}));
}

IIBClientLibraryRef AcquireClientLibrary(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const auto& library : registry.libraries)
    if (library->LibraryName() == name) return library;
  auto library = std::make_shared<IIBClientLibrary>(name);
  registry.libraries.push_back(library);
  return library;
}

ISC_STATUS* StatusVector() {
  thread_local ISC_STATUS vector[kStatusVectorLength] = {};
  return vector;
}
