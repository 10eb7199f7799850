// The binding to the Firebird client library. The library is loaded at run time by
// the name a connection configures ("fbclient.dll" maps to this platform's client
// library) and its entry points are bound by name once; the program has no
// link-time dependency on it. One object per library name is shared by every
// connection of the process (AcquireClientLibrary) and lives until the process
// ends.
//
// Forwarding operations take exactly the arguments of the entry point they call
// and return its result unchanged; they check nothing in the result.
#pragma once

#include <ibase.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

// Entry points of newer client libraries that the installed C header may not
// declare. Optional: they are bound when present and never called by the system.
extern "C" {
typedef ISC_STATUS (*TIscDsqlBatchExecuteImmed)(ISC_STATUS*, isc_db_handle*, isc_tr_handle*,
                                                unsigned short, long, const char**, long*);
typedef ISC_STATUS (*TIscDsqlBatchExecute)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*,
                                           unsigned short, XSQLDA*, long, XSQLVAR**, long*);
}

// Every entry point bound, in the order of binding:
//   X(name, pointer type)
#define DORVANA_IB_ENTRY_TYPE(n) decltype(&::n)
#define DORVANA_IB_ENTRIES(X)                                                          \
  X(BLOB_get, DORVANA_IB_ENTRY_TYPE(BLOB_get))                                         \
  X(BLOB_put, DORVANA_IB_ENTRY_TYPE(BLOB_put))                                         \
  X(isc_sqlcode, DORVANA_IB_ENTRY_TYPE(isc_sqlcode))                                   \
  X(isc_sql_interprete, DORVANA_IB_ENTRY_TYPE(isc_sql_interprete))                     \
  X(isc_interprete, TIscInterprete)                                                    \
  X(isc_vax_integer, DORVANA_IB_ENTRY_TYPE(isc_vax_integer))                           \
  X(isc_blob_info, DORVANA_IB_ENTRY_TYPE(isc_blob_info))                               \
  X(isc_open_blob2, DORVANA_IB_ENTRY_TYPE(isc_open_blob2))                             \
  X(isc_close_blob, DORVANA_IB_ENTRY_TYPE(isc_close_blob))                             \
  X(isc_get_segment, DORVANA_IB_ENTRY_TYPE(isc_get_segment))                           \
  X(isc_put_segment, DORVANA_IB_ENTRY_TYPE(isc_put_segment))                           \
  X(isc_create_blob2, DORVANA_IB_ENTRY_TYPE(isc_create_blob2))                         \
  X(isc_decode_date, DORVANA_IB_ENTRY_TYPE(isc_decode_date))                           \
  X(isc_encode_date, DORVANA_IB_ENTRY_TYPE(isc_encode_date))                           \
  X(isc_dsql_free_statement, DORVANA_IB_ENTRY_TYPE(isc_dsql_free_statement))           \
  X(isc_dsql_execute2, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute2))                       \
  X(isc_dsql_execute, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute))                         \
  X(isc_dsql_set_cursor_name, DORVANA_IB_ENTRY_TYPE(isc_dsql_set_cursor_name))         \
  X(isc_dsql_fetch, DORVANA_IB_ENTRY_TYPE(isc_dsql_fetch))                             \
  X(isc_dsql_sql_info, DORVANA_IB_ENTRY_TYPE(isc_dsql_sql_info))                       \
  X(isc_dsql_alloc_statement2, DORVANA_IB_ENTRY_TYPE(isc_dsql_alloc_statement2))       \
  X(isc_dsql_prepare, DORVANA_IB_ENTRY_TYPE(isc_dsql_prepare))                         \
  X(isc_dsql_describe_bind, DORVANA_IB_ENTRY_TYPE(isc_dsql_describe_bind))             \
  X(isc_dsql_describe, DORVANA_IB_ENTRY_TYPE(isc_dsql_describe))                       \
  X(isc_dsql_execute_immediate, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute_immediate))     \
  X(isc_dsql_exec_immed2, DORVANA_IB_ENTRY_TYPE(isc_dsql_exec_immed2))                 \
  X(isc_drop_database, DORVANA_IB_ENTRY_TYPE(isc_drop_database))                       \
  X(isc_detach_database, DORVANA_IB_ENTRY_TYPE(isc_detach_database))                   \
  X(isc_attach_database, DORVANA_IB_ENTRY_TYPE(isc_attach_database))                   \
  X(isc_database_info, DORVANA_IB_ENTRY_TYPE(isc_database_info))                       \
  X(isc_start_multiple, DORVANA_IB_ENTRY_TYPE(isc_start_multiple))                     \
  X(isc_commit_transaction, DORVANA_IB_ENTRY_TYPE(isc_commit_transaction))             \
  X(isc_commit_retaining, DORVANA_IB_ENTRY_TYPE(isc_commit_retaining))                 \
  X(isc_rollback_transaction, DORVANA_IB_ENTRY_TYPE(isc_rollback_transaction))         \
  X(isc_cancel_events, DORVANA_IB_ENTRY_TYPE(isc_cancel_events))                       \
  X(isc_que_events, DORVANA_IB_ENTRY_TYPE(isc_que_events))                             \
  X(isc_event_counts, DORVANA_IB_ENTRY_TYPE(isc_event_counts))                         \
  X(isc_event_block, DORVANA_IB_ENTRY_TYPE(isc_event_block))                           \
  X(isc_free, DORVANA_IB_ENTRY_TYPE(isc_free))                                         \
  X(isc_array_lookup_bounds, DORVANA_IB_ENTRY_TYPE(isc_array_lookup_bounds))           \
  X(isc_array_get_slice, DORVANA_IB_ENTRY_TYPE(isc_array_get_slice))                   \
  X(isc_array_put_slice, DORVANA_IB_ENTRY_TYPE(isc_array_put_slice))                   \
  X(isc_wait_for_event, DORVANA_IB_ENTRY_TYPE(isc_wait_for_event))                     \
  X(isc_transaction_info, DORVANA_IB_ENTRY_TYPE(isc_transaction_info))                 \
  X(isc_prepare_transaction, DORVANA_IB_ENTRY_TYPE(isc_prepare_transaction))           \
  X(isc_prepare_transaction2, DORVANA_IB_ENTRY_TYPE(isc_prepare_transaction2))         \
  X(isc_rollback_retaining, DORVANA_IB_ENTRY_TYPE(isc_rollback_retaining))             \
  X(isc_service_attach, DORVANA_IB_ENTRY_TYPE(isc_service_attach))                     \
  X(isc_service_detach, DORVANA_IB_ENTRY_TYPE(isc_service_detach))                     \
  X(isc_service_query, DORVANA_IB_ENTRY_TYPE(isc_service_query))                       \
  X(isc_service_start, DORVANA_IB_ENTRY_TYPE(isc_service_start))                       \
  X(isc_decode_sql_date, DORVANA_IB_ENTRY_TYPE(isc_decode_sql_date))                   \
  X(isc_decode_sql_time, DORVANA_IB_ENTRY_TYPE(isc_decode_sql_time))                   \
  X(isc_decode_timestamp, DORVANA_IB_ENTRY_TYPE(isc_decode_timestamp))                 \
  X(isc_encode_sql_date, DORVANA_IB_ENTRY_TYPE(isc_encode_sql_date))                   \
  X(isc_encode_sql_time, DORVANA_IB_ENTRY_TYPE(isc_encode_sql_time))                   \
  X(isc_encode_timestamp, DORVANA_IB_ENTRY_TYPE(isc_encode_timestamp))                 \
  X(isc_portable_integer, DORVANA_IB_ENTRY_TYPE(isc_portable_integer))                 \
  X(isc_get_client_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_version))             \
  X(isc_get_client_major_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_major_version)) \
  X(isc_get_client_minor_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_minor_version)) \
  X(isc_dsql_batch_execute_immed, TIscDsqlBatchExecuteImmed)                           \
  X(isc_dsql_batch_execute, TIscDsqlBatchExecute)                                      \
  X(fb_cancel_operation, DORVANA_IB_ENTRY_TYPE(fb_cancel_operation))

// The header marks this one deprecated; its type is spelled out to keep the
// build free of warnings.
extern "C" typedef ISC_LONG (*TIscInterprete)(ISC_SCHAR*, ISC_STATUS**);

// Index of each entry in the table.
enum class TIBEntry : int {
#define DORVANA_IB_ENUM(n, t) n,
  DORVANA_IB_ENTRIES(DORVANA_IB_ENUM)
#undef DORVANA_IB_ENUM
      Count
};
constexpr int kIBEntryCount = static_cast<int>(TIBEntry::Count);
// The entry point's exported name.
const char* IBEntryName(TIBEntry entry);

// The bound entry points; null where an entry is not bound.
struct TIBEntryTable {
#define DORVANA_IB_FIELD(n, t) t n = nullptr;
  DORVANA_IB_ENTRIES(DORVANA_IB_FIELD)
#undef DORVANA_IB_FIELD
};

// A loaded shared library; unloaded when this object dies.
class TLibraryModule {
 public:
  TLibraryModule() = default;
  // Empty when the library can't be loaded.
  explicit TLibraryModule(const std::string& name);
  ~TLibraryModule();
  TLibraryModule(TLibraryModule&& o) noexcept : FHandle(std::exchange(o.FHandle, nullptr)) {}
  TLibraryModule& operator=(TLibraryModule o) noexcept {  // the old handle dies with o
    std::swap(FHandle, o.FHandle);
    return *this;
  }
  explicit operator bool() const { return FHandle != nullptr; }
  // The entry point of that name; null when the library has none.
  void* Entry(const char* name) const;

 private:
  void* FHandle = nullptr;
};

// One loaded client library. Shared through std::shared_ptr; the OS library is
// released when the last reference goes. Construction raises Exception "Can't load
// library %s " when the library can't be loaded and EOSError when a required entry
// point is missing; optional entry points that are missing raise Exception "Can't
// find procedure %s in %s" when called.
class IIBClientLibrary {
 public:
  // Loads and binds; see the class comment for what it raises.
  explicit IIBClientLibrary(const std::string& libraryName);
  IIBClientLibrary(const IIBClientLibrary&) = delete;
  IIBClientLibrary& operator=(const IIBClientLibrary&) = delete;

  const std::string& LibraryName() const { return FLibraryName; }
  int ClientMajorVersion() const { return FClientMajorVersion; }
  int ClientMinorVersion() const { return FClientMinorVersion; }
  bool InLibraryCall() const { return FInLibraryCall; }
  const TIBEntryTable& Entries() const { return FEntries; }

  // Calls made through this object per entry since loading or the last reset; for
  // tests and measurements.
  uint64_t CallCount(TIBEntry entry) const { return FCallCounts[static_cast<int>(entry)]; }
  void ResetCallCounts() { FCallCounts.fill(0); }

  // Forwarding operations. "Checked" ones raise "Can't find procedure %s in %s"
  // when the entry is not bound; the others are guaranteed by a successful load.
  // All but the blob-stream, array and cancel entries set InLibraryCall while the
  // call runs.
#define DORVANA_IB_FORWARD(n, flag, checked)                      \
  template <class... A>                                           \
  auto n(A... a) {                                                \
    return Forward<flag, checked>(TIBEntry::n, FEntries.n, a...); \
  }
  DORVANA_IB_FORWARD(isc_attach_database, true, false)
  DORVANA_IB_FORWARD(isc_array_get_slice, false, true)
  DORVANA_IB_FORWARD(isc_array_lookup_bounds, false, true)
  DORVANA_IB_FORWARD(isc_array_put_slice, false, true)
  DORVANA_IB_FORWARD(isc_blob_info, true, false)
  DORVANA_IB_FORWARD(isc_cancel_events, true, false)
  DORVANA_IB_FORWARD(isc_que_events, true, false)
  DORVANA_IB_FORWARD(isc_wait_for_event, true, false)
  DORVANA_IB_FORWARD(isc_close_blob, true, false)
  DORVANA_IB_FORWARD(isc_create_blob2, true, false)
  DORVANA_IB_FORWARD(isc_commit_retaining, true, true)
  DORVANA_IB_FORWARD(isc_commit_transaction, true, false)
  DORVANA_IB_FORWARD(isc_transaction_info, true, false)
  DORVANA_IB_FORWARD(isc_database_info, true, false)
  DORVANA_IB_FORWARD(isc_decode_date, true, true)
  DORVANA_IB_FORWARD(isc_decode_sql_date, true, true)
  DORVANA_IB_FORWARD(isc_decode_sql_time, true, true)
  DORVANA_IB_FORWARD(isc_decode_timestamp, true, true)
  DORVANA_IB_FORWARD(isc_detach_database, true, false)
  DORVANA_IB_FORWARD(isc_drop_database, true, false)
  DORVANA_IB_FORWARD(isc_dsql_alloc_statement2, true, false)
  DORVANA_IB_FORWARD(isc_dsql_describe, true, false)
  DORVANA_IB_FORWARD(isc_dsql_describe_bind, true, false)
  DORVANA_IB_FORWARD(isc_dsql_execute, true, false)
  DORVANA_IB_FORWARD(isc_dsql_execute2, true, false)
  DORVANA_IB_FORWARD(isc_dsql_execute_immediate, true, false)
  DORVANA_IB_FORWARD(isc_dsql_exec_immed2, true, false)
  DORVANA_IB_FORWARD(isc_dsql_fetch, true, false)
  DORVANA_IB_FORWARD(isc_dsql_free_statement, true, false)
  DORVANA_IB_FORWARD(isc_dsql_prepare, true, false)
  DORVANA_IB_FORWARD(isc_dsql_set_cursor_name, true, false)
  DORVANA_IB_FORWARD(isc_dsql_sql_info, true, false)
  DORVANA_IB_FORWARD(isc_encode_date, true, true)
  DORVANA_IB_FORWARD(isc_encode_sql_date, true, true)
  DORVANA_IB_FORWARD(isc_encode_sql_time, true, true)
  DORVANA_IB_FORWARD(isc_encode_timestamp, true, true)
  DORVANA_IB_FORWARD(isc_event_block, true, false)
  DORVANA_IB_FORWARD(isc_event_counts, true, false)
  DORVANA_IB_FORWARD(isc_free, true, false)
  DORVANA_IB_FORWARD(isc_get_segment, true, false)
  DORVANA_IB_FORWARD(isc_put_segment, true, false)
  DORVANA_IB_FORWARD(isc_interprete, true, false)
  DORVANA_IB_FORWARD(isc_open_blob2, true, false)
  DORVANA_IB_FORWARD(isc_prepare_transaction2, true, false)
  DORVANA_IB_FORWARD(isc_rollback_retaining, true, true)
  DORVANA_IB_FORWARD(isc_rollback_transaction, true, false)
  DORVANA_IB_FORWARD(isc_start_multiple, true, false)
  DORVANA_IB_FORWARD(isc_sqlcode, true, false)
  DORVANA_IB_FORWARD(isc_sql_interprete, true, false)
  DORVANA_IB_FORWARD(isc_vax_integer, true, false)
  DORVANA_IB_FORWARD(isc_prepare_transaction, true, false)
  DORVANA_IB_FORWARD(BLOB_put, false, true)
  DORVANA_IB_FORWARD(BLOB_get, false, true)
  DORVANA_IB_FORWARD(isc_dsql_batch_execute_immed, true, true)
  DORVANA_IB_FORWARD(isc_dsql_batch_execute, true, true)
  DORVANA_IB_FORWARD(fb_cancel_operation, false, true)
  DORVANA_IB_FORWARD(isc_service_attach, true, true)
  DORVANA_IB_FORWARD(isc_service_detach, true, true)
  DORVANA_IB_FORWARD(isc_service_query, true, true)
  DORVANA_IB_FORWARD(isc_service_start, true, true)
  DORVANA_IB_FORWARD(isc_get_client_version, true, true)
  DORVANA_IB_FORWARD(isc_get_client_major_version, true, true)
  DORVANA_IB_FORWARD(isc_get_client_minor_version, true, true)
  DORVANA_IB_FORWARD(isc_portable_integer, true, true)
#undef DORVANA_IB_FORWARD

 private:
  // Raises "Can't find procedure %s in %s".
  [[noreturn]] void RaiseMissing(TIBEntry entry) const;

  template <bool kFlag, bool kChecked, class F, class... A>
  auto Forward(TIBEntry entry, F fn, A... a) {
    if constexpr (kChecked) {
      if (!fn) RaiseMissing(entry);
    }
    ++FCallCounts[static_cast<int>(entry)];
    if constexpr (kFlag) {
      // The flag is cleared on every way out, also when the call raises.
      struct TFlag {
        bool& f;
        ~TFlag() { f = false; }
      } flag{FInLibraryCall};
      FInLibraryCall = true;
      return fn(a...);
    } else {
      return fn(a...);
    }
  }

  void* Bind(TIBEntry entry, bool required);

  std::string FLibraryName;
  TLibraryModule FModule;
  int FClientMajorVersion = 0;
  int FClientMinorVersion = 0;
  TIBEntryTable FEntries;
  bool FInLibraryCall = false;
  std::array<uint64_t, kIBEntryCount> FCallCounts{};
};

using IIBClientLibraryRef = std::shared_ptr<IIBClientLibrary>;

// The process-wide object for a library name (compared byte for byte), loaded and
// registered on first use. A failed load registers nothing; the next call tries
// again. Raises what loading raises.
IIBClientLibraryRef AcquireClientLibrary(const std::string& name);

// The calling thread's status vector: 20 entries that every client-library call
// of the database layer fills and the error routines read.
constexpr int kStatusVectorLength = 20;
ISC_STATUS* StatusVector();
