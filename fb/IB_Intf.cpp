#include "fb/IB_Intf.h"

#include <mutex>
#include <system_error>
#include <vector>

#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

const char* const kEntryNames[] = {
#define DORVANA_IB_NAME(n, ...) #n,
    DORVANA_IB_ENTRIES(DORVANA_IB_NAME)
#undef DORVANA_IB_NAME
};

// The group of each entry.
const TIBGroup kGroups[] = {
#define DORVANA_IB_GROUP(n, t, group, ...) TIBGroup::group,
    DORVANA_IB_ENTRIES(DORVANA_IB_GROUP)
#undef DORVANA_IB_GROUP
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
#define DORVANA_IB_SET(n, t, ...)     \
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

TLibraryModule::TLibraryModule(const std::string& name) : FHandle(platform::LoadLibrary(name)) {
  if (!FHandle)
    throw ELibraryLoadError(Format("Can't load library %s ", {name}), platform::LastLoadError());
}

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
  auto bind = [&](TIBEntry e, bool required) { SetEntry(FEntries, e, Bind(e, required)); };
  // Binds every entry of a group, in the table's order.
  auto bindGroup = [&](TIBGroup group, bool required) {
    for (int i = 0; i < kIBEntryCount; ++i)
      if (kGroups[i] == group) bind(static_cast<TIBEntry>(i), required);
  };
  bindGroup(TIBGroup::Required, true);
  bind(TIBEntry::isc_rollback_retaining, false);
  if (FEntries.isc_rollback_retaining) {
    FClientMajorVersion = 6;
    FClientMinorVersion = 0;
    bindGroup(TIBGroup::Version6, true);
  } else {
    FClientMajorVersion = 5;
    FClientMinorVersion = 0;
  }
  bind(TIBEntry::isc_get_client_version, false);
  if (FEntries.isc_get_client_version) {
    bindGroup(TIBGroup::VersionPart, true);
    FClientMajorVersion = isc_get_client_major_version();
    FClientMinorVersion = isc_get_client_minor_version();
    bindGroup(TIBGroup::LateOptional, false);
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
