#include "fb/FIBDatabase.h"

#include <algorithm>
#include <mutex>

#include "fb/FIBQuery.h"
#include "fb/fib.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

// DPB parameter names; a name's code is its position counting from 1.
const char* const kDPBNames[] = {
    "cdd_pathname",
    "allocation",
    "journal",
    "page_size",
    "num_buffers",
    "buffer_length",
    "debug",
    "garbage_collect",
    "verify",
    "sweep",
    "enable_journal",
    "disable_journal",
    "dbkey_scope",
    "number_of_users",
    "trace",
    "no_garbage_collect",
    "damaged",
    "license",
    "sys_user_name",
    "encrypt_key",
    "activate_shadow",
    "sweep_interval",
    "delete_shadow",
    "force_write",
    "begin_log",
    "quit_log",
    "no_reserve",
    "user_name",
    "password",
    "password_enc",
    "sys_user_name_enc",
    "interp",
    "online_dump",
    "old_file_size",
    "old_num_files",
    "old_file",
    "old_start_page",
    "old_start_seqno",
    "old_start_file",
    "drop_walfile",
    "old_dump_id",
    "wal_backup_dir",
    "wal_chkptlen",
    "wal_numbufs",
    "wal_bufsize",
    "wal_grp_cmt_wait",
    "lc_messages",
    "lc_ctype",
    "cache_manager",
    "shutdown",
    "online",
    "shutdown_delay",
    "reserved",
    "overwrite",
    "sec_attach",
    "disable_wal",
    "connect_timeout",
    "dummy_packet_interval",
    "gbak_attach",
    "sql_role_name",
    "set_page_buffers",
    "working_directory",
    "sql_dialect",
    "set_db_readonly",
    "set_db_sql_dialect",
    "gfix_attach",
    "gstat_attach",
    "gbak_ods_version",
    "gbak_ods_minor_version",
    "set_group_commit",
    "gbak_validate",
    "client_interbase_var",
    "admin_option",
    "flush_interval",
    "instance_name",
    "old_overwrite",
    "archive_database",
    "archive_journals",
    "archive_sweep",
    "archive_dumps",
    "archive_recover",
    "recover_until",
    "force",
};
constexpr int kDPBNameCount = sizeof kDPBNames / sizeof kDPBNames[0];
static_assert(kDPBNameCount == 83);

// TPB parameter names; a name's code is its position counting from 1.
const char* const kTPBNames[] = {
    "consistency",  "concurrency",    "shared",           "protected",
    "exclusive",    "wait",           "nowait",           "read",
    "write",        "lock_read",      "lock_write",       "verb_time",
    "commit_time",  "ignore_limbo",   "read_committed",   "autocommit",
    "rec_version",  "no_rec_version", "restart_requests", "no_auto_undo",
    "no_savepoint",
};
constexpr int kTPBNameCount = sizeof kTPBNames / sizeof kTPBNames[0];
static_assert(kTPBNameCount == 21);

// Position (from 1) of name in the table, ASCII case ignored; 0 when absent.
template <size_t N>
int CodeOf(const char* const (&table)[N], const std::string& name) {
  for (size_t i = 0; i < N; ++i)
    if (SameText(table[i], name)) return static_cast<int>(i) + 1;
  return 0;
}

// A parameter line split into its lower-cased name without the prefix and its
// value.
void SplitParam(const std::string& line, const char* prefix, std::string& name,
                std::string& value) {
  const size_t eq = line.find('=');
  name = LowerCase(line.substr(0, eq));
  value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
  if (name.starts_with(prefix)) name.erase(0, 8);
}

// One length byte can't carry more.
constexpr size_t kMaxParamValue = 255;
// The attach call takes the buffer length as a 16-bit signed count.
constexpr size_t kMaxParamBuffer = 32767;

std::mutex& ConnectLock() {
  static std::mutex lock;
  return lock;
}

// A retaining action taken as its plain form.
TTransactionAction PlainAction(TTransactionAction action) {
  if (action == TARollbackRetaining) return TARollback;
  if (action == TACommitRetaining) return TACommit;
  return action;
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

template <class T>
void EraseOne(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
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

isc_db_handle* TFIBBase::DBHandle() const { return FDatabase ? FDatabase->Handle() : nullptr; }
isc_tr_handle* TFIBBase::TRHandle() const {
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

std::function<double(TFIBDatabase&, TFIBTransaction&, const std::string&)>
    TFIBDatabase::ServerClockQuery;

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
  if (FHandle != 0) return;
  if (!FAutoReconnect) RaiseClientError(fbceDatabaseClosed, {FullName()});
  OpenConnection(true);
}

void TFIBDatabase::RequireDisconnected() const {
  if (FHandle != 0) RaiseClientError(fbceDatabaseOpen);
}

ISC_STATUS TFIBDatabase::CheckStatus(ISC_STATUS status, bool raiseError) {
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
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  for (int i = 0; i < FDBParams.Count(); ++i) {
    const std::string line = Trim(FDBParams[i]);
    FDBParams[i] = line;
    FDPBStale = true;
    if (line.empty()) continue;
    std::string name, value;
    SplitParam(line, "isc_dpb_", name, value);
    const int code = CodeOf(kDPBNames, name);
    if (code == 0) RaiseClientError(fbceDPBConstantUnknown, {name});
    const char* tableName = kDPBNames[code - 1];
    auto appendText = [&](std::string text) {
      if (text.size() > kMaxParamValue)
        RaiseClientErrorText(Format("DPB Constant (isc_dpb_%s) value is longer than %d bytes.",
                                    {tableName, static_cast<int>(kMaxParamValue)}));
      dpb += static_cast<char>(code);
      dpb += static_cast<char>(text.size());
      dpb += text;
    };
    auto appendByte = [&](int byte) {
      dpb += static_cast<char>(code);
      dpb += '\1';
      dpb += static_cast<char>(byte & 0xFF);
    };
    switch (code) {
      case 18:
      case 19:
      case 20:
      case 28:
      case 29:
      case 30:
      case 36:
      case 47:
      case 48:
      case 60:
      case 75:
        appendText(value);
        break;
      case 63:
        if (!value.empty()) value[0] = static_cast<char>(value[0] - 48);
        appendText(value);
        break;
      case 5:
      case 9:
      case 13:
      case 17:
      case 24:
      case 27:
      case 33:
      case 34:
      case 54:
      case 57:
      case 58:
        appendByte(StrToInt(value));
        break;
      case 10:
        appendByte(2);
        break;
      case 22: {
        const uint32_t n = static_cast<uint32_t>(StrToInt(value));
        dpb += static_cast<char>(code);
        dpb += '\4';
        for (int b = 0; b < 4; ++b) dpb += static_cast<char>((n >> (8 * b)) & 0xFF);
        break;
      }
      case 8:
      case 16:
      case 21:
      case 23:
      case 25:
      case 26:
        appendByte(0);
        break;
      default:
        RaiseClientError(fbceDPBConstantNotSupported, {tableName});
    }
  }
  if (dpb.size() > kMaxParamBuffer)
    RaiseClientErrorText(
        Format("DPB is longer than %d bytes.", {static_cast<int>(kMaxParamBuffer)}));
  FDPB = std::move(dpb);
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
    if (FDBName.size() > kMaxParamBuffer)
      RaiseClientErrorText(
          Format("Database name is longer than %d bytes.", {static_cast<int>(kMaxParamBuffer)}));
    status = FClientLibrary->isc_attach_database(StatusVector(), static_cast<short>(FDBName.size()),
                                                 FDBName.c_str(), &FHandle,
                                                 static_cast<short>(FDPB.size()), FDPB.data());
    CheckStatus(status, false);
  }
  if (status > 0) {
    FHandle = 0;
    if (raiseOnError) RaiseServerError(*FClientLibrary, this);
    return;
  }
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
  // A program that has not created a statement yet gets the statement layer's
  // query all the same.
  if (!ServerClockQuery) InstallServerClockQuery();
  const std::string sql = FSQLDialect < 2 ? "SELECT CAST('NOW' AS DATE) from RDB$DATABASE"
                                          : "SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE";
  TFIBTransaction& t = *FInternalTransaction;
  try {
    if (!t.Active()) t.StartTransaction();
    const double server = ServerClockQuery(*this, t, sql);
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
  CheckStatus(FClientLibrary->isc_database_info(StatusVector(), &FHandle, 1, &request,
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
  CheckStatus(FClientLibrary->isc_database_info(StatusVector(), &FHandle, 1, &request,
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
    const int charset = DatabaseInfoInt(frb_info_att_charset);
    FUnicodeConnection = charset == 3 || charset == 4;
    FNoneConnection = charset == 0;
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
  const ISC_STATUS status = FClientLibrary->isc_detach_database(StatusVector(), &FHandle);
  if (force) {
    FHandle = 0;
  } else {
    CheckStatus(status, true);
  }
  NotifyStatements(fnDatabaseDisconnected, !force);
  if (AfterDisconnect) AfterDisconnect(*this);
}

// ---- TFIBTransaction -----------------------------------------------------------

TFIBTransaction::TFIBTransaction(TComponent* owner) : TComponent(owner) {}

TFIBTransaction::~TFIBTransaction() {
  if (Active()) {
    try {
      EndTransactionBase(PlainAction(FTimeoutAction), true);
    } catch (...) {
    }
  }
  while (!FStatements.empty()) {
    TFIBBase* link = FStatements.back();
    FStatements.pop_back();
    link->FTransaction = nullptr;
    try {
      link->Notify(fnTransactionFree);
    } catch (...) {
    }
  }
  UnbindAll();
}

void TFIBTransaction::UnbindAll() {
  while (!FDatabases.empty()) {
    TFIBDatabase* db = FDatabases.back();
    FDatabases.pop_back();
    db->RemoveTransaction(this);
  }
  FDefaultDatabase = nullptr;
}

void TFIBTransaction::SetActive(bool value) {
  if (value) {
    if (!Active()) StartTransaction();
  } else if (Active()) {
    Rollback();
  }
}

void TFIBTransaction::SetDefaultDatabase(TFIBDatabase* value) {
  if (Active()) RaiseClientError(fbceInTransaction, {FullName()});
  if (value == FDefaultDatabase) return;
  if (value) AddDatabase(value);
  if (FDefaultDatabase) RemoveDatabase(FDefaultDatabase);
  FDefaultDatabase = value;
}

void TFIBTransaction::AddDatabase(TFIBDatabase* database) {
  if (!database) return;
  if (std::find(FDatabases.begin(), FDatabases.end(), database) != FDatabases.end()) return;
  for (TFIBDatabase* db : FDatabases)
    if (db->LibraryName() != database->LibraryName())
      throw Exception(
          Format("%s.\r\nTransaction can't work with different client library.", {FullName()}));
  FDatabases.push_back(database);
  database->AddTransaction(this);
}

void TFIBTransaction::RemoveDatabase(TFIBDatabase* database) {
  EraseOne(FDatabases, database);
  if (database) database->RemoveTransaction(this);
  if (FDefaultDatabase == database) FDefaultDatabase = nullptr;
}

void TFIBTransaction::SetTRParams(const TStringList& lines) {
  if (Active()) RaiseClientError(fbceInTransaction, {FullName()});
  FTRParams = lines;
  FTPBStale = true;
}

void TFIBTransaction::ReplaceTRParams(std::initializer_list<std::string> lines) {
  FTRParams = TStringList(lines);
  FTPBStale = true;
}

IIBClientLibrary* TFIBTransaction::ClientLibrary() const {
  if (FDefaultDatabase && FDefaultDatabase->ClientLibrary())
    return FDefaultDatabase->ClientLibrary();
  for (TFIBDatabase* db : FDatabases)
    if (db->ClientLibrary()) return db->ClientLibrary();
  return nullptr;
}

void TFIBTransaction::RequireActive() {
  if (FHandle != 0) return;
  const bool reconnect =
      !FDatabases.empty() && std::all_of(FDatabases.begin(), FDatabases.end(),
                                         [](TFIBDatabase* db) { return db->AutoReconnect(); });
  if (!reconnect) RaiseClientError(fbceNotInTransaction, {FullName()});
  StartTransaction();
}

ISC_STATUS TFIBTransaction::CheckStatus(ISC_STATUS status, bool raiseError) {
  if (raiseError && status > 0) RaiseServerError(*ClientLibrary(), this);
  return status;
}

void TFIBTransaction::NotifyStatements(TFIBNotice notice, bool lastFirst) {
  std::vector<TFIBBase*> links = FStatements;
  if (lastFirst) std::reverse(links.begin(), links.end());
  for (TFIBBase* link : links)
    if (std::find(FStatements.begin(), FStatements.end(), link) != FStatements.end())
      link->Notify(notice);
}

void TFIBTransaction::BuildTPB() {
  FTPB.clear();
  if (FTRParams.Empty()) return;
  std::string tpb(1, static_cast<char>(isc_tpb_version3));
  for (int i = 0; i < FTRParams.Count(); ++i) {
    const std::string line = Trim(FTRParams[i]);
    FTRParams[i] = line;
    FTPBStale = true;
    if (line.empty()) continue;
    std::string name, value;
    SplitParam(line, "isc_tpb_", name, value);
    // Besides the table: how long, in seconds, a "wait" transaction waits for a
    // lock before it fails (the client library's lock_timeout item, which shares
    // its code with the table's last name but carries a 4-byte value).
    if (name == "lock_timeout") {
      int32_t seconds = 0;
      if (!TryStrToInt(value, seconds) || seconds < 1)
        RaiseClientErrorText(
            Format("TPB Constant (isc_tpb_lock_timeout) needs a number of seconds "
                   "from 1 up, not '%s'.",
                   {value}));
      tpb += static_cast<char>(isc_tpb_lock_timeout);
      tpb += '\4';
      for (int b = 0; b < 4; ++b)
        tpb += static_cast<char>((static_cast<uint32_t>(seconds) >> (8 * b)) & 0xFF);
      continue;
    }
    const int code = CodeOf(kTPBNames, name);
    if (code == 0) RaiseClientError(fbceTPBConstantUnknown, {name});
    switch (code) {
      case 10:
      case 11:
        if (value.size() > kMaxParamValue)
          RaiseClientErrorText(Format("TPB Constant (isc_tpb_%s) value is longer than %d bytes.",
                                      {kTPBNames[code - 1], static_cast<int>(kMaxParamValue)}));
        tpb += static_cast<char>(code);
        tpb += static_cast<char>(value.size());
        tpb += value;
        break;
      case 12:
      case 13:
      case 16:
      case 19:
        RaiseClientError(fbceTPBConstantNotSupported, {kTPBNames[code - 1]});
      default:
        tpb += static_cast<char>(code);
    }
  }
  if (tpb.size() > kMaxParamBuffer)
    RaiseClientErrorText(
        Format("TPB is longer than %d bytes.", {static_cast<int>(kMaxParamBuffer)}));
  FTPB = std::move(tpb);
}

void TFIBTransaction::StartTransaction() { StartTransactionBase(); }

namespace {
// The client library's transaction-existence block.
struct TTransactionBlock {
  isc_db_handle* database;
  int tpbLength;
  const char* tpb;
};
}  // namespace

void TFIBTransaction::StartTransactionBase() {
  if (FHandle != 0) RaiseClientError(fbceInTransaction, {FullName()});
  if (FDatabases.empty()) RaiseClientError(fbceNoDatabasesInTransaction, {FullName()});
  if (FTPBStale) {
    FTPBStale = false;
    BuildTPB();
  }
  std::vector<TTransactionBlock> blocks;
  for (TFIBDatabase* db : FDatabases) {
    db->RequireConnected();
    blocks.push_back({db->Handle(), static_cast<int>(FTPB.size()), FTPB.data()});
  }
  NotifyStatements(fnTransactionStarting, false);
  IIBClientLibrary& library = *ClientLibrary();
  const ISC_STATUS status = library.isc_start_multiple(
      StatusVector(), &FHandle, static_cast<short>(blocks.size()), blocks.data());
  CheckStatus(status, false);
  if (status > 0) {
    FHandle = 0;
    RaiseServerError(library, this);
  }
  NotifyStatements(fnTransactionStarted, false);
  FTransactionState = tsActive;
}

void TFIBTransaction::SQLExecuteHook(TComponent*, bool) {}

void TFIBTransaction::EndTransaction(TTransactionAction action, bool force) {
  EndTransactionBase(action, force);
}

void TFIBTransaction::EndTransactionBase(TTransactionAction action, bool force) {
  RequireActive();
  IIBClientLibrary& library = *ClientLibrary();
  switch (action) {
    case TARollbackRetaining:
    case TACommitRetaining: {
      FTransactionState =
          action == TARollbackRetaining ? tsDoRollbackRetaining : tsDoCommitRetaining;
      NotifyStatements(fnTransactionEnding, true);
      try {
        const ISC_STATUS status = action == TARollbackRetaining
                                      ? library.isc_rollback_retaining(StatusVector(), &FHandle)
                                      : library.isc_commit_retaining(StatusVector(), &FHandle);
        CheckStatus(status, true);
      } catch (...) {
        FTransactionState = FHandle != 0 ? tsActive : tsInactive;
        throw;
      }
      NotifyStatements(fnTransactionEnded, false);
      break;
    }
    case TARollback:
    case TACommit: {
      FTransactionState = action == TARollback ? tsDoRollback : tsDoCommit;
      NotifyStatements(fnTransactionEnding, true);
      ISC_STATUS status = action == TARollback
                              ? library.isc_rollback_transaction(StatusVector(), &FHandle)
                              : library.isc_commit_transaction(StatusVector(), &FHandle);
      CheckStatus(status, false);
      if (force) {
        if (status > 0) library.isc_rollback_transaction(StatusVector(), &FHandle);
        FHandle = 0;
      } else if (status > 0) {
        // The transaction stays active; the caller decides how to end it.
        FTransactionState = tsActive;
        RaiseServerError(library, this);
      }
      NotifyStatements(fnTransactionEnded, false);
      break;
    }
  }
  FTransactionState = FHandle != 0 ? tsActive : tsInactive;
}
