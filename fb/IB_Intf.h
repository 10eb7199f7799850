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

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "runtime/Exception.h"

// The client library's calling convention. On 32-bit Windows its entry points are
// __stdcall (the header declares them so; the ones with a variable argument list
// are __cdecl), and a call made the other way unbalances the stack: the types
// spelled out here take it from this macro. Empty on 64-bit Windows and Linux.
#if defined(_WIN32) && !defined(_WIN64)
#define DORVANA_IB_API __stdcall
#else
#define DORVANA_IB_API
#endif

// Entry points of newer client libraries that the installed C header may not
// declare. Optional: they are bound when present and never called by the system
// (fb_cancel_operation, also optional, ends a request that ran past its deadline).
extern "C" {
typedef ISC_STATUS(DORVANA_IB_API* TIscDsqlBatchExecuteImmed)(ISC_STATUS*, isc_db_handle*,
                                                              isc_tr_handle*, unsigned short, long,
                                                              const char**, long*);
typedef ISC_STATUS(DORVANA_IB_API* TIscDsqlBatchExecute)(ISC_STATUS*, isc_tr_handle*,
                                                         isc_stmt_handle*, unsigned short, XSQLDA*,
                                                         long, XSQLVAR**, long*);
}

// Every entry point, in the order of binding:
//   X(name, pointer type, group, whether a call sets InLibraryCall (InCall) or
//     not (Free), whether a call first checks that the entry is bound (Checked)
//     or relies on the load (Bound))
// Groups, bound in this order: Required; RollbackProbe, optional, whose presence
// binds Version6, all required; VersionProbe, optional, whose presence binds
// VersionPart, required, and LateOptional, optional.
#define DORVANA_IB_ENTRY_TYPE(n) decltype(&::n)
#define DORVANA_IB_ENTRIES(X)                                                                      \
  X(BLOB_get, DORVANA_IB_ENTRY_TYPE(BLOB_get), Required, Free, Checked)                            \
  X(BLOB_put, DORVANA_IB_ENTRY_TYPE(BLOB_put), Required, Free, Checked)                            \
  X(isc_sqlcode, DORVANA_IB_ENTRY_TYPE(isc_sqlcode), Required, InCall, Bound)                      \
  X(isc_sql_interprete, DORVANA_IB_ENTRY_TYPE(isc_sql_interprete), Required, InCall, Bound)        \
  X(isc_interprete, TIscInterprete, Required, InCall, Bound)                                       \
  X(isc_vax_integer, DORVANA_IB_ENTRY_TYPE(isc_vax_integer), Required, InCall, Bound)              \
  X(isc_blob_info, DORVANA_IB_ENTRY_TYPE(isc_blob_info), Required, InCall, Bound)                  \
  X(isc_open_blob2, DORVANA_IB_ENTRY_TYPE(isc_open_blob2), Required, InCall, Bound)                \
  X(isc_close_blob, DORVANA_IB_ENTRY_TYPE(isc_close_blob), Required, InCall, Bound)                \
  X(isc_get_segment, DORVANA_IB_ENTRY_TYPE(isc_get_segment), Required, InCall, Bound)              \
  X(isc_put_segment, DORVANA_IB_ENTRY_TYPE(isc_put_segment), Required, InCall, Bound)              \
  X(isc_create_blob2, DORVANA_IB_ENTRY_TYPE(isc_create_blob2), Required, InCall, Bound)            \
  X(isc_decode_date, DORVANA_IB_ENTRY_TYPE(isc_decode_date), Required, InCall, Checked)            \
  X(isc_encode_date, DORVANA_IB_ENTRY_TYPE(isc_encode_date), Required, InCall, Checked)            \
  X(isc_dsql_free_statement, DORVANA_IB_ENTRY_TYPE(isc_dsql_free_statement), Required, InCall,     \
    Bound)                                                                                         \
  X(isc_dsql_execute2, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute2), Required, InCall, Bound)          \
  X(isc_dsql_execute, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute), Required, InCall, Bound)            \
  X(isc_dsql_set_cursor_name, DORVANA_IB_ENTRY_TYPE(isc_dsql_set_cursor_name), Required, InCall,   \
    Bound)                                                                                         \
  X(isc_dsql_fetch, DORVANA_IB_ENTRY_TYPE(isc_dsql_fetch), Required, InCall, Bound)                \
  X(isc_dsql_sql_info, DORVANA_IB_ENTRY_TYPE(isc_dsql_sql_info), Required, InCall, Bound)          \
  X(isc_dsql_alloc_statement2, DORVANA_IB_ENTRY_TYPE(isc_dsql_alloc_statement2), Required, InCall, \
    Bound)                                                                                         \
  X(isc_dsql_prepare, DORVANA_IB_ENTRY_TYPE(isc_dsql_prepare), Required, InCall, Bound)            \
  X(isc_dsql_describe_bind, DORVANA_IB_ENTRY_TYPE(isc_dsql_describe_bind), Required, InCall,       \
    Bound)                                                                                         \
  X(isc_dsql_describe, DORVANA_IB_ENTRY_TYPE(isc_dsql_describe), Required, InCall, Bound)          \
  X(isc_dsql_execute_immediate, DORVANA_IB_ENTRY_TYPE(isc_dsql_execute_immediate), Required,       \
    InCall, Bound)                                                                                 \
  X(isc_dsql_exec_immed2, DORVANA_IB_ENTRY_TYPE(isc_dsql_exec_immed2), Required, InCall, Bound)    \
  X(isc_drop_database, DORVANA_IB_ENTRY_TYPE(isc_drop_database), Required, InCall, Bound)          \
  X(isc_detach_database, DORVANA_IB_ENTRY_TYPE(isc_detach_database), Required, InCall, Bound)      \
  X(isc_attach_database, DORVANA_IB_ENTRY_TYPE(isc_attach_database), Required, InCall, Bound)      \
  X(isc_database_info, DORVANA_IB_ENTRY_TYPE(isc_database_info), Required, InCall, Bound)          \
  X(isc_start_multiple, DORVANA_IB_ENTRY_TYPE(isc_start_multiple), Required, InCall, Bound)        \
  X(isc_commit_transaction, DORVANA_IB_ENTRY_TYPE(isc_commit_transaction), Required, InCall,       \
    Bound)                                                                                         \
  X(isc_commit_retaining, DORVANA_IB_ENTRY_TYPE(isc_commit_retaining), Required, InCall, Checked)  \
  X(isc_rollback_transaction, DORVANA_IB_ENTRY_TYPE(isc_rollback_transaction), Required, InCall,   \
    Bound)                                                                                         \
  X(isc_cancel_events, DORVANA_IB_ENTRY_TYPE(isc_cancel_events), Required, InCall, Bound)          \
  X(isc_que_events, DORVANA_IB_ENTRY_TYPE(isc_que_events), Required, InCall, Bound)                \
  X(isc_event_counts, DORVANA_IB_ENTRY_TYPE(isc_event_counts), Required, InCall, Bound)            \
  X(isc_event_block, DORVANA_IB_ENTRY_TYPE(isc_event_block), Required, InCall, Bound)              \
  X(isc_free, DORVANA_IB_ENTRY_TYPE(isc_free), Required, InCall, Bound)                            \
  X(isc_array_lookup_bounds, DORVANA_IB_ENTRY_TYPE(isc_array_lookup_bounds), Required, Free,       \
    Checked)                                                                                       \
  X(isc_array_get_slice, DORVANA_IB_ENTRY_TYPE(isc_array_get_slice), Required, Free, Checked)      \
  X(isc_array_put_slice, DORVANA_IB_ENTRY_TYPE(isc_array_put_slice), Required, Free, Checked)      \
  X(isc_wait_for_event, DORVANA_IB_ENTRY_TYPE(isc_wait_for_event), Required, InCall, Bound)        \
  X(isc_transaction_info, DORVANA_IB_ENTRY_TYPE(isc_transaction_info), Required, InCall, Bound)    \
  X(isc_prepare_transaction, DORVANA_IB_ENTRY_TYPE(isc_prepare_transaction), Required, InCall,     \
    Bound)                                                                                         \
  X(isc_prepare_transaction2, DORVANA_IB_ENTRY_TYPE(isc_prepare_transaction2), Required, InCall,   \
    Bound)                                                                                         \
  X(isc_rollback_retaining, DORVANA_IB_ENTRY_TYPE(isc_rollback_retaining), RollbackProbe, InCall,  \
    Checked)                                                                                       \
  X(isc_service_attach, DORVANA_IB_ENTRY_TYPE(isc_service_attach), Version6, InCall, Checked)      \
  X(isc_service_detach, DORVANA_IB_ENTRY_TYPE(isc_service_detach), Version6, InCall, Checked)      \
  X(isc_service_query, DORVANA_IB_ENTRY_TYPE(isc_service_query), Version6, InCall, Checked)        \
  X(isc_service_start, DORVANA_IB_ENTRY_TYPE(isc_service_start), Version6, InCall, Checked)        \
  X(isc_decode_sql_date, DORVANA_IB_ENTRY_TYPE(isc_decode_sql_date), Version6, InCall, Checked)    \
  X(isc_decode_sql_time, DORVANA_IB_ENTRY_TYPE(isc_decode_sql_time), Version6, InCall, Checked)    \
  X(isc_decode_timestamp, DORVANA_IB_ENTRY_TYPE(isc_decode_timestamp), Version6, InCall, Checked)  \
  X(isc_encode_sql_date, DORVANA_IB_ENTRY_TYPE(isc_encode_sql_date), Version6, InCall, Checked)    \
  X(isc_encode_sql_time, DORVANA_IB_ENTRY_TYPE(isc_encode_sql_time), Version6, InCall, Checked)    \
  X(isc_encode_timestamp, DORVANA_IB_ENTRY_TYPE(isc_encode_timestamp), Version6, InCall, Checked)  \
  X(isc_portable_integer, DORVANA_IB_ENTRY_TYPE(isc_portable_integer), Version6, InCall, Checked)  \
  X(isc_get_client_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_version), VersionProbe, InCall,   \
    Checked)                                                                                       \
  X(isc_get_client_major_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_major_version),             \
    VersionPart, InCall, Checked)                                                                  \
  X(isc_get_client_minor_version, DORVANA_IB_ENTRY_TYPE(isc_get_client_minor_version),             \
    VersionPart, InCall, Checked)                                                                  \
  X(isc_dsql_batch_execute_immed, TIscDsqlBatchExecuteImmed, LateOptional, InCall, Checked)        \
  X(isc_dsql_batch_execute, TIscDsqlBatchExecute, LateOptional, InCall, Checked)                   \
  X(fb_cancel_operation, DORVANA_IB_ENTRY_TYPE(fb_cancel_operation), LateOptional, Free, Checked)

// The header marks this one deprecated; its type is spelled out to keep the
// build free of warnings.
extern "C" typedef ISC_LONG(DORVANA_IB_API* TIscInterprete)(ISC_SCHAR*, ISC_STATUS**);

#if defined(_WIN32) && !defined(_WIN64)
// Every entry of the table is declared with the library's convention: __stdcall,
// or __cdecl with a variable argument list.
template <class F>
constexpr bool kIBLibraryConvention = false;
template <class R, class... A>
constexpr bool kIBLibraryConvention<R(__stdcall*)(A...)> = true;
template <class R, class... A>
constexpr bool kIBLibraryConvention<R (*)(A..., ...)> = true;
#define DORVANA_IB_CONVENTION(n, t, ...) \
  static_assert(kIBLibraryConvention<t>, #n " is not declared __stdcall");
DORVANA_IB_ENTRIES(DORVANA_IB_CONVENTION)
#undef DORVANA_IB_CONVENTION
#endif

enum class TIBGroup { Required, RollbackProbe, Version6, VersionProbe, VersionPart, LateOptional };
enum class TIBCall { InCall, Free };
enum class TIBCheck { Checked, Bound };

// Index of each entry in the table.
enum class TIBEntry : int {
#define DORVANA_IB_ENUM(n, ...) n,
  DORVANA_IB_ENTRIES(DORVANA_IB_ENUM)
#undef DORVANA_IB_ENUM
      Count
};
constexpr int kIBEntryCount = static_cast<int>(TIBEntry::Count);
// The entry point's exported name.
const char* IBEntryName(TIBEntry entry);

// The bound entry points; null where an entry is not bound.
struct TIBEntryTable {
#define DORVANA_IB_FIELD(n, t, ...) t n = nullptr;
  DORVANA_IB_ENTRIES(DORVANA_IB_FIELD)
#undef DORVANA_IB_FIELD
};

// A library that could not be loaded. The message is "Can't load library %s ";
// the loader's own reason (a missing file, a library built for another machine
// such as "wrong ELF class") is kept for an operator in Reason. Reports the class
// name callers have always seen for this failure, "Exception".
class ELibraryLoadError : public Exception {
 public:
  ELibraryLoadError(std::string message, std::string reason)
      : Exception(std::move(message)), FReason(std::move(reason)) {}
  const std::string& Reason() const { return FReason; }

 private:
  std::string FReason;
};

// A loaded shared library; unloaded when this object dies.
class TLibraryModule {
 public:
  TLibraryModule() = default;
  // Raises ELibraryLoadError when the library can't be loaded.
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

  // Forwarding operations. "Checked" ones raise "Can't find procedure %s in %s"
  // when the entry is not bound; the others are guaranteed by a successful load.
  // All but the blob-stream, array and cancel entries set InLibraryCall while the
  // call runs.
#define DORVANA_IB_FORWARD(n, t, group, call, check)                                        \
  template <class... A>                                                                     \
  auto n(A... a) {                                                                          \
    return Forward<TIBCall::call == TIBCall::InCall, TIBCheck::check == TIBCheck::Checked>( \
        TIBEntry::n, FEntries.n, a...);                                                     \
  }
  DORVANA_IB_ENTRIES(DORVANA_IB_FORWARD)
#undef DORVANA_IB_FORWARD

 private:
  friend class TIBCallCounter;  // fb/IB_CallCounter.h, for tests and measurements
  // Raises "Can't find procedure %s in %s".
  [[noreturn]] void RaiseMissing(TIBEntry entry) const;

  template <bool kFlag, bool kChecked, class F, class... A>
  auto Forward(TIBEntry entry, F fn, A... a) {
    if constexpr (kChecked) {
      if (!fn) RaiseMissing(entry);
    }
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
