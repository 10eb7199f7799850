#include "fb/FIBDatabase.h"

#include <algorithm>
#include <mutex>

#include "fb/FIBInternal.h"
#include "fb/FIBParamBlocks.h"
#include "fb/FIBQuery.h"
#include "fb/fib.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

// The attach call takes the name's length as a 16-bit signed count.
constexpr size_t kMaxNameLength = 32767;

std::mutex& ConnectLock() {
  static std::mutex lock;
  return lock;
}

// Every connection of the process. Those still there when the process ends
// normally are closed then; a process that leaves through ExitNow has destroyed
// its module, and so its connections, before.
struct TConnectionList {
  std::mutex lock;
  std::vector<TFIBDatabase*> items;
  ~TConnectionList() {
    for (TFIBDatabase* db : std::vector<TFIBDatabase*>(items)) {
      try {
        if (db->Connected()) db->CloseConnection(false);
      } catch (...) {
      }
    }
  }
};

TConnectionList& Connections() {
  static TConnectionList list;
  return list;
}

}  // namespace

// ---- TFIBBase --------------------------------------------------------------------

TFIBBase::TFIBBase(TComponent* owner) : FOwner(owner) {}

TFIBBase::~TFIBBase() {
  SetDatabase(nullptr);
  SetTransaction(nullptr);
}

void TFIBBase::SetDatabase(TFIBDatabase* database) {
  if (database == FDatabase) return;
  if (FDatabase) EraseOne(FDatabase->FStatements, this);
  FDatabase = database;
  if (FDatabase) FDatabase->FStatements.push_back(this);
}

void TFIBBase::SetTransaction(TFIBTransaction* transaction) {
  if (transaction == FTransaction) return;
  if (FTransaction) EraseOne(FTransaction->FStatements, this);
  FTransaction = transaction;
  if (FTransaction) FTransaction->FStatements.push_back(this);
}

void TFIBBase::CheckDatabase() const {
  if (!FDatabase) RaiseClientError(fbceDatabaseNotAssigned, {FOwner ? FOwner->FullName() : ""});
  FDatabase->RequireConnected();
}

void TFIBBase::CheckTransaction() const {
  if (!FTransaction)
    RaiseClientError(fbceTransactionNotAssigned, {FOwner ? FOwner->FullName() : ""});
  FTransaction->RequireActive();
}

TFBHandleValue* TFIBBase::DBHandle() const { return FDatabase ? FDatabase->Handle() : nullptr; }
TFBHandleValue* TFIBBase::TRHandle() const {
  return FTransaction ? FTransaction->Handle() : nullptr;
}

void TFIBBase::Notify(TFIBNotice notice) {
  if (OnNotice) OnNotice(notice);
}

// ---- TConnectParams ------------------------------------------------------------

namespace {
// A line matches when the name stands at its start or right after an eight-byte
// "isc_dpb_" prefix.
int FindParamLine(const TStringList& lines, const std::string& name) {
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (StartsText(name, line)) return i;
    if (line.size() > 8 && StartsText(name, std::string_view(line).substr(8))) return i;
  }
  return -1;
}
}  // namespace

std::string TConnectParams::Get(const std::string& name) const {
  const TStringList& lines = FDatabase.DBParams();
  const int i = FindParamLine(lines, name);
  if (i < 0) return "";
  const size_t eq = lines[i].find('=');
  return eq == std::string::npos ? std::string() : lines[i].substr(eq + 1);
}

void TConnectParams::Set(const std::string& name, const std::string& value) {
  FDatabase.ChangeDBParams([&](TStringList& lines) {
    const int i = FindParamLine(lines, name);
    if (value.empty()) {
      if (i >= 0) lines.Delete(i);
    } else if (i >= 0) {
      lines[i] = name + "=" + value;
    } else {
      lines.Add(name + "=" + value);
    }
  });
}

void TConnectParams::SetCharSet(const std::string& v) { Set("lc_ctype", UpperCase(v)); }

// ---- TFIBDatabase --------------------------------------------------------------

TFIBDatabase::TFIBDatabase(TComponent* owner) : TComponent(owner) {
  {
    TConnectionList& list = Connections();
    std::lock_guard<std::mutex> guard(list.lock);
    list.items.push_back(this);
  }
  FInternalTransaction = std::make_unique<TFIBTransaction>();
  FInternalTransaction->SetTimeoutAction(TACommit);
  FInternalTransaction->SetTRParams({"write", "isc_tpb_nowait", "read_committed", "rec_version"});
  FInternalTransaction->SetDefaultDatabase(this);
}

TFIBDatabase::~TFIBDatabase() {
  {
    TConnectionList& list = Connections();
    std::lock_guard<std::mutex> guard(list.lock);
    EraseOne(list.items, this);
  }
  try {
    if (FInternalTransaction->Active()) FInternalTransaction->Commit();
  } catch (...) {
  }
  FInternalTransaction.reset();
  if (Connected()) {
    try {
      CloseConnectionBase(true);
    } catch (...) {
    }
  }
  // Statements are told last bound first, and are unbound before they hear it.
  while (!FStatements.empty()) {
    TFIBBase* link = FStatements.back();
    FStatements.pop_back();
    link->FDatabase = nullptr;
    link->SetTransaction(nullptr);
    try {
      link->Notify(fnDatabaseFree);
    } catch (...) {
    }
  }
  while (!FTransactions.empty()) {
    TFIBTransaction* t = FTransactions.back();
    FTransactions.pop_back();
    EraseOne(t->FDatabases, this);
    if (t->FDefaultDatabase == this) t->FDefaultDatabase = nullptr;
  }
  FDefaultTransaction = nullptr;
  FDefaultUpdateTransaction = nullptr;
}

void TFIBDatabase::SetDBName(const std::string& value) {
  if (value == FDBName) return;
  RequireDisconnected();
  FDBName = value;
}

void TFIBDatabase::ChangeDBParams(const std::function<void(TStringList&)>& change) {
  RequireDisconnected();
  change(FDBParams);
  FDPBStale = true;
}

void TFIBDatabase::SetDBParams(const TStringList& lines) {
  ChangeDBParams([&](TStringList& l) { l = lines; });
}

void TFIBDatabase::AddDBParam(const std::string& line) {
  ChangeDBParams([&](TStringList& l) { l.Add(line); });
}

void TFIBDatabase::SetLibraryName(const std::string& value) {
  RequireDisconnected();
  if (value == FLibraryName) return;
  FLibraryName = value;
  FClientLibrary.reset();
}

void TFIBDatabase::SetSQLDialect(int value) {
  if (value < 1) RaiseClientError(fbceSQLDialectInvalid);
  if (Connected()) {
    bool answered = false;
    int dbDialect = DatabaseInfoInt(isc_info_db_sql_dialect, &answered);
    if (!answered) dbDialect = 1;
    if (value > dbDialect) RaiseClientError(fbceSQLDialectInvalid);
  }
  FSQLDialect = value;
}

void TFIBDatabase::SetConnected(bool value) {
  if (value) {
    OpenConnection(true);
    return;
  }
  if (Connected()) CloseConnection(false);
  FAttachmentID = -1;
  FInternalTransaction->SetTimeout(0);
}

void TFIBDatabase::SetDefaultTransaction(TFIBTransaction* value) {
  FDefaultTransaction = value;
  if (value) {
    value->AddDatabase(this);
    if (!value->FDefaultDatabase) value->FDefaultDatabase = this;
  }
}

void TFIBDatabase::SetDefaultUpdateTransaction(TFIBTransaction* value) {
  FDefaultUpdateTransaction = value;
  if (value) {
    value->AddDatabase(this);
    if (!value->FDefaultDatabase) value->FDefaultDatabase = this;
  }
}

void TFIBDatabase::AddTransaction(TFIBTransaction* transaction) {
  if (std::find(FTransactions.begin(), FTransactions.end(), transaction) == FTransactions.end())
    FTransactions.push_back(transaction);
}

void TFIBDatabase::RemoveTransaction(TFIBTransaction* transaction) {
  EraseOne(FTransactions, transaction);
  if (FDefaultTransaction == transaction) FDefaultTransaction = nullptr;
  if (FDefaultUpdateTransaction == transaction) FDefaultUpdateTransaction = nullptr;
}

void TFIBDatabase::RequireConnected() {
  if (FHandle) return;
  if (!FAutoReconnect) RaiseClientError(fbceDatabaseClosed, {FullName()});
  OpenConnection(true);
}

void TFIBDatabase::RequireDisconnected() const {
  if (FHandle) RaiseClientError(fbceDatabaseOpen);
}

TFBStatus TFIBDatabase::CheckStatus(TFBStatus status, bool raiseError) {
  if (raiseError && status > 0) RaiseServerError(*FClientLibrary, this);
  return status;
}

void TFIBDatabase::NotifyStatements(TFIBNotice notice, bool raise) {
  const std::vector<TFIBBase*> links = FStatements;
  for (TFIBBase* link : links) {
    if (std::find(FStatements.begin(), FStatements.end(), link) == FStatements.end()) continue;
    if (raise) {
      link->Notify(notice);
    } else {
      try {
        link->Notify(notice);
      } catch (...) {
      }
    }
  }
}

void TFIBDatabase::BuildDPB() {
  // Any line leaves the block to be built again at the next attach.
  if (FDBParams.Count() > 0) FDPBStale = true;
  FDPB = FIBBuildDPB(FDBParams);
}

void TFIBDatabase::OpenConnection(bool raiseOnError) { OpenConnectionBase(raiseOnError); }

void TFIBDatabase::OpenConnectionBase(bool raiseOnError) {
  if (Connected()) return;
  if (BeforeConnect) {
    bool cancel = false;
    BeforeConnect(*this, cancel);
    if (cancel) return;
  }
  for (int& part : FServerVersion) part = -1;
  if (FInternalTransaction->Name() != Name() + "_InternalTransaction")
    FInternalTransaction->SetName(Name() + "_InternalTransaction");

  ISC_STATUS status = 0;
  {
    std::unique_lock<std::mutex> guard(ConnectLock());
    RequireDisconnected();
    if (FDBName.empty()) RaiseClientError(fbceDatabaseNameMissing);
    if (!FClientLibrary) FClientLibrary = AcquireClientLibrary(FLibraryName);
    NotifyStatements(fnDatabaseConnecting, true);
    if (FUseLoginPrompt) {
      std::string user = FConnectParams.UserName();
      std::string password = FConnectParams.Password();
      if (!OnLogin || !OnLogin(*this, user, password)) RaiseClientError(fbceOperationCancelled);
      FConnectParams.SetUserName(user);
      FConnectParams.SetPassword(password);
    }
    if (FDPBStale) {
      FDPBStale = false;
      BuildDPB();
    }
    if (FDBName.size() > kMaxNameLength)
      RaiseClientErrorText(
          Format("Database name is longer than %d bytes.", {static_cast<int>(kMaxNameLength)}));
    IIBClientLibrary& library = *FClientLibrary;
    status = FHandle.Open(library, [&](TFBHandleValue* handle) {
      return library.isc_attach_database(StatusVector(), static_cast<short>(FDBName.size()),
                                         FDBName.c_str(), handle, static_cast<short>(FDPB.size()),
                                         FDPB.data());
    });
    CheckStatus(status, false);
  }
  if (status > 0) {
    if (raiseOnError) RaiseServerError(*FClientLibrary, this);
    return;
  }
  FAbortLibrary = FClientLibrary.get();
  FAbortHandle = FHandle.Value();
  // An abort asked for while the attach ran found no handle: it applies now.
  if (FAbortRequested) AbortConnection();
  FInternalTransaction->SetTimeout(1000);
  FAttachmentID = DatabaseInfoInt(isc_info_attachment_id);
  FClockOffset = 0;
  bool answered = false;
  int dbDialect = DatabaseInfoInt(isc_info_db_sql_dialect, &answered);
  if (!answered) dbDialect = 1;
  if (dbDialect < FSQLDialect) FSQLDialect = dbDialect;
  if (FSynchronizeTime) SynchronizeClock();
  ReadServerFacts();
  if (AfterConnect) AfterConnect(*this);
  NotifyStatements(fnDatabaseConnected, true);
}

void TFIBDatabase::SynchronizeClock() {
  const std::string sql = FSQLDialect < 2 ? "SELECT CAST('NOW' AS DATE) from RDB$DATABASE"
                                          : "SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE";
  TFIBTransaction& t = *FInternalTransaction;
  try {
    if (!t.Active()) t.StartTransaction();
    const double server =
        FServerClockQuery ? FServerClockQuery(t, sql) : FIBServerClock(*this, t, sql);
    t.Commit();
    FClockOffset = platform::LocalNow() - server;
  } catch (...) {
    try {
      if (t.Active()) t.Rollback();
    } catch (...) {
    }
    throw;
  }
}

int TFIBDatabase::AttachmentID() {
  if (FAttachmentID == -1 && Connected()) FAttachmentID = DatabaseInfoInt(isc_info_attachment_id);
  return FAttachmentID;
}

int TFIBDatabase::DatabaseInfoInt(int item, bool* answered) {
  char result[512] = {};
  const char request = static_cast<char>(item);
  CheckStatus(FClientLibrary->isc_database_info(StatusVector(), FHandle.Ref(), 1, &request,
                                                static_cast<short>(sizeof result), result),
              true);
  const bool ok = static_cast<unsigned char>(result[0]) == item;
  if (answered) *answered = ok;
  if (!ok) return 0;
  const int length = FClientLibrary->isc_vax_integer(result + 1, 2);
  if (length < 0 || length > static_cast<int>(sizeof result) - 3) return 0;
  return static_cast<int>(FClientLibrary->isc_vax_integer(result + 3, static_cast<short>(length)));
}

std::string TFIBDatabase::DatabaseInfoText(int item, int bufferLength, bool* answered) {
  std::string result(static_cast<size_t>(bufferLength), '\0');
  const char request = static_cast<char>(item);
  CheckStatus(FClientLibrary->isc_database_info(StatusVector(), FHandle.Ref(), 1, &request,
                                                static_cast<short>(bufferLength), result.data()),
              true);
  const bool ok = static_cast<unsigned char>(result[0]) == item;
  if (answered) *answered = ok;
  // item, two length bytes, the number of texts, then each text with a length byte.
  if (result.size() < 5) return "";
  const size_t length = static_cast<unsigned char>(result[4]);
  if (5 + length > result.size()) return "";
  return result.substr(5, length);
}

void TFIBDatabase::ReadServerFacts() {
  bool answered = false;
  std::string version = DatabaseInfoText(isc_info_firebird_version, 512, &answered);
  if (!answered) version.clear();
  FIsFirebird = !version.empty();
  if (!FIsFirebird) version = DatabaseInfoText(isc_info_isc_version, 1024);
  // From the fifth character up to the last one excluded, digits make a number and
  // every other character ends a part.
  int part = 0, number = 0;
  for (size_t i = 4; i + 1 < version.size() && part < 4; ++i) {
    const char c = version[i];
    if (c >= '0' && c <= '9') {
      number = number * 10 + (c - '0');
    } else {
      FServerVersion[part++] = number;
      number = 0;
    }
  }
  if (FIsFirebird && FServerVersion[0] >= 2) {
    // The server's character set ids of NONE, UNICODE_FSS and UTF8.
    constexpr int kCharSetNone = 0, kCharSetUnicodeFss = 3, kCharSetUtf8 = 4;
    const int charset = DatabaseInfoInt(frb_info_att_charset);
    FUnicodeConnection = charset == kCharSetUnicodeFss || charset == kCharSetUtf8;
    FNoneConnection = charset == kCharSetNone;
    const bool serverAware =
        FServerVersion[0] > 2 || (FServerVersion[0] == 2 && FServerVersion[1] >= 1);
    bool aware = false;
    if (UnicodeOrNoneConnection() && serverAware) {
      const int ods = DatabaseInfoInt(isc_info_ods_version);
      const int odsMinor = DatabaseInfoInt(isc_info_ods_minor_version);
      aware = ods > 11 || (ods == 11 && odsMinor >= 1);
    }
    FBlobCharsetAware = aware;
  } else {
    const std::string charSet = FConnectParams.CharSet();
    FUnicodeConnection = charSet == "UNICODE_FSS" || charSet == "UTF8";
    FNoneConnection = charSet == "NONE" || charSet.empty();
    FBlobCharsetAware = false;
  }
}

void TFIBDatabase::CloseConnection(bool force) { CloseConnectionBase(force); }

void TFIBDatabase::CloseConnectionBase(bool force) {
  RequireConnected();
  if (BeforeDisconnect) BeforeDisconnect(*this);
  const std::vector<TFIBTransaction*> transactions = FTransactions;
  for (TFIBTransaction* t : transactions) {
    if (!t->Active()) continue;
    if (force) {
      try {
        t->EndTransaction(PlainAction(t->TimeoutAction()), true);
      } catch (...) {
      }
    } else {
      t->EndTransaction(PlainAction(t->TimeoutAction()), true);
    }
  }
  NotifyStatements(fnDatabaseDisconnecting, !force);
  FAbortHandle = TFBHandleValue{};
  // Forced, the handle is given up whatever the server answers.
  const TFBStatus status = FHandle.End(
      [&](TFBHandleValue* handle) {
        return FClientLibrary->isc_detach_database(StatusVector(), handle);
      },
      force);
  if (!force) CheckStatus(status, true);
  NotifyStatements(fnDatabaseDisconnected, !force);
  if (AfterDisconnect) AfterDisconnect(*this);
}

// Tried against a server stopped after the connect (its relay sent SIGSTOP), with
// the Firebird 3 client: the abort returns at once; a call blocked in a read
// (a transaction start, an execute, a fetch) returns isc_net_read_err ("Error
// reading data from the connection.") within milliseconds; the rollback of a
// transaction still open and the detach then succeed at once, locally, without
// waiting for the peer. A cancel that asks the server (fb_cancel_raise) would
// have to travel over the silent connection and never arrives.
bool TFIBDatabase::AbortConnection() noexcept {
  // Set before the handle is read, as the connect stores the handle before it
  // reads the flag: one of the two sides sees the other.
  FAbortRequested = true;
  IIBClientLibrary* library = FAbortLibrary;
  TFBHandleValue handle = FAbortHandle;
  if (!library) return true;  // no connect has loaded a library yet
  const auto cancel = library->Entries().fb_cancel_operation;
  if (!cancel) return false;
  if (handle == TFBHandleValue{}) return true;
  // A failure means the handle is gone already (detached meanwhile): nothing
  // is left to cut off.
  ISC_STATUS status[kStatusVectorLength] = {};
  cancel(status, &handle, fb_cancel_abort);
  return true;
}

std::string TFIBDatabase::ClientLibraryVersion() const {
  IIBClientLibrary* library = ClientLibrary();
  if (!library) return "";
  std::string version =
      Format("%d.%d", {library->ClientMajorVersion(), library->ClientMinorVersion()});
  try {
    char text[256] = {};
    library->isc_get_client_version(text);
    if (text[0]) version = text;
  } catch (const Exception&) {
  }
  return version;
}

std::string TryLoadClientLibrary(const std::string& name) {
  try {
    AcquireClientLibrary(name);
    return "";
  } catch (const ELibraryLoadError& e) {
    return e.Reason();
  }
}
