// Connections and transactions of the Firebird client layer, and the link through
// which statements are bound to them.
//
// TFIBDatabase is one attachment to a database; TFIBTransaction one transaction at
// a time over the connections bound to it. Statements own a TFIBBase link that
// registers them with their connection and transaction; both tell the link what
// happens to them (TFIBNotice). Links between these objects are plain pointers,
// cleared when either side goes away.
//
// Every failure is an exception of the EFIBError family (fib.h) or a load failure
// of the client library (IB_Intf.h). Destructors never raise.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fb/FIBHandles.h"
#include "fb/FIBValueText.h"
#include "runtime/Component.h"
#include "runtime/StringList.h"

class TFIBDatabase;
class TFIBTransaction;
class IIBClientLibrary;  // fb/IB_Intf.h, inside the database layer
using IIBClientLibraryRef = std::shared_ptr<IIBClientLibrary>;

enum TTransactionAction {
  TARollback = 0,
  TARollbackRetaining = 1,
  TACommit = 2,
  TACommitRetaining = 3
};

// TransactionState values.
enum TTransactionState {
  tsActive = 0,
  tsInactive = 1,
  tsDoRollback = 2,
  tsDoRollbackRetaining = 3,
  tsDoCommit = 4,
  tsDoCommitRetaining = 5
};

// What a connection or transaction tells the statements bound to it.
enum TFIBNotice {
  fnDatabaseConnecting,
  fnDatabaseConnected,
  fnDatabaseDisconnecting,
  fnDatabaseDisconnected,
  fnDatabaseFree,  // the connection is being destroyed; the link is already unbound
  fnTransactionStarting,
  fnTransactionStarted,
  fnTransactionEnding,  // before the commit or rollback call; see TransactionState
  fnTransactionEnded,
  fnTransactionFree  // the transaction is being destroyed; the link is already unbound
};

// A statement's link to its connection and transaction. Owned by the statement;
// registers the statement with both and unregisters it when destroyed or rebound.
class TFIBBase {
 public:
  // owner is the statement: its FullName fills the messages of the checks.
  explicit TFIBBase(TComponent* owner);
  ~TFIBBase();
  TFIBBase(const TFIBBase&) = delete;
  TFIBBase& operator=(const TFIBBase&) = delete;

  TComponent* Owner() const { return FOwner; }
  TFIBDatabase* Database() const { return FDatabase; }
  void SetDatabase(TFIBDatabase* database);
  TFIBTransaction* Transaction() const { return FTransaction; }
  void SetTransaction(TFIBTransaction* transaction);

  // Database assigned (client message 21 with the owner's FullName) and connected.
  void CheckDatabase() const;
  // Transaction assigned (client message 22 with the owner's FullName) and active.
  void CheckTransaction() const;

  // Null when no connection or transaction is assigned.
  TFBHandleValue* DBHandle() const;
  TFBHandleValue* TRHandle() const;

  // Called for every notice, after the link has unbound itself on a freed notice.
  std::function<void(TFIBNotice)> OnNotice;

 private:
  friend class TFIBDatabase;
  friend class TFIBTransaction;
  void Notify(TFIBNotice notice);

  TComponent* FOwner;
  TFIBDatabase* FDatabase = nullptr;
  TFIBTransaction* FTransaction = nullptr;
};

// The DPB lines as user name, password, role and character set.
class TConnectParams {
 public:
  // Each setter replaces its entry where it stands, appends it when there is
  // none, and removes it for an empty value: the entries keep the order in which
  // they were first set.
  explicit TConnectParams(TFIBDatabase& database) : FDatabase(database) {}
  std::string UserName() const { return Get("user_name"); }
  void SetUserName(const std::string& v) { Set("user_name", v); }
  std::string Password() const { return Get("password"); }
  void SetPassword(const std::string& v) { Set("password", v); }
  std::string RoleName() const { return Get("sql_role_name"); }
  void SetRoleName(const std::string& v) { Set("sql_role_name", v); }
  std::string CharSet() const { return Get("lc_ctype"); }
  // The value is upper-cased first.
  void SetCharSet(const std::string& v);

 private:
  std::string Get(const std::string& name) const;
  void Set(const std::string& name, const std::string& value);
  TFIBDatabase& FDatabase;
};

// One attachment to a Firebird database. Owns its internal transaction; never owns
// the transactions and statements bound to it. Raises EFIBClientError for misuse,
// EFIBInterBaseError for what the server reports, and the client library's load
// failures on the first connect.
class TFIBDatabase : public TComponent {
 public:
  explicit TFIBDatabase(TComponent* owner = nullptr);
  ~TFIBDatabase() override;
  std::string ClassName() const override { return "TFIBDatabase"; }

  const std::string& DBName() const { return FDBName; }
  void SetDBName(const std::string& value);
  // The DPB lines. Read freely; change them through SetDBParams or the
  // ConnectParams views, which check that the connection is closed.
  const TStringList& DBParams() const { return FDBParams; }
  void SetDBParams(const TStringList& lines);
  // Appends one line (same checks as SetDBParams).
  void AddDBParam(const std::string& line);
  TConnectParams& ConnectParams() { return FConnectParams; }
  const std::string& LibraryName() const { return FLibraryName; }
  void SetLibraryName(const std::string& value);
  int SQLDialect() const { return FSQLDialect; }
  void SetSQLDialect(int value);
  bool Connected() const { return static_cast<bool>(FHandle); }
  void SetConnected(bool value);
  uint32_t Timeout() const { return FTimeout; }
  // Stored only: this system runs no idle timer.
  void SetTimeout(uint32_t value) { FTimeout = value; }
  bool UseLoginPrompt() const { return FUseLoginPrompt; }
  void SetUseLoginPrompt(bool value) { FUseLoginPrompt = value; }
  bool AutoReconnect() const { return FAutoReconnect; }
  void SetAutoReconnect(bool value) { FAutoReconnect = value; }
  bool SynchronizeTime() const { return FSynchronizeTime; }
  void SetSynchronizeTime(bool value) { FSynchronizeTime = value; }
  TFIBTransaction* DefaultTransaction() const { return FDefaultTransaction; }
  void SetDefaultTransaction(TFIBTransaction* value);
  TFIBTransaction* DefaultUpdateTransaction() const { return FDefaultUpdateTransaction; }
  void SetDefaultUpdateTransaction(TFIBTransaction* value);

  // Events; none is set by the service. BeforeConnect may cancel the connect.
  std::function<void(TFIBDatabase&, bool& cancel)> BeforeConnect;
  std::function<void(TFIBDatabase&)> AfterConnect;
  std::function<void(TFIBDatabase&)> BeforeDisconnect;
  std::function<void(TFIBDatabase&)> AfterDisconnect;
  // Asked for user name and password when UseLoginPrompt is set; false refuses.
  std::function<bool(TFIBDatabase&, std::string& user, std::string& password)> OnLogin;

  virtual void CloseConnection(bool force);
  virtual void OpenConnection(bool raiseOnError);
  // Cuts the connection off at once, from any thread, while a call on it may be
  // blocked on a server that went silent: the client library closes its socket
  // without sending anything, the blocked call and every later one fail at once
  // with a network error, and CloseConnection(true) then ends the connection
  // without a round trip. A connection opened later is cut off as soon as its
  // attach returns, until ClearAbort. False only when the client library in use
  // cannot do this (older libraries lack the call). Never raises.
  bool AbortConnection() noexcept;
  void ClearAbort() noexcept { FAbortRequested = false; }

  // Raises client message 12 with FullName when not connected (AutoReconnect
  // connects instead).
  void RequireConnected();
  // Raises client message 13 when connected.
  void RequireDisconnected() const;
  // Raises the server error (this connection as raiser) when raiseError and
  // status > 0. Returns status.
  TFBStatus CheckStatus(TFBStatus status, bool raiseError);

  // The client library; null until the first connect acquired it.
  IIBClientLibrary* ClientLibrary() const { return FClientLibrary.get(); }
  // The client library's version for an operator: its own version text where it
  // has one, else "major.minor"; empty until the first connect acquired it.
  std::string ClientLibraryVersion() const;
  TFBHandleValue* Handle() { return FHandle.Ref(); }
  TFIBTransaction* InternalTransaction() const { return FInternalTransaction.get(); }

  // The built DPB (bytes as sent by the last connect).
  const std::string& DPB() const { return FDPB; }
  // Builds the DPB from the lines, trimming them in place. Raises for unknown,
  // unsupported or oversized entries.
  void BuildDPB();

  // The regional forms this connection's values are shown and read in: the
  // host's unless set.
  const TFIBFormatSettings& FormatSettings() const {
    return FFormatSettings ? *FFormatSettings : HostFormatSettings();
  }
  void SetFormatSettings(const TFIBFormatSettings& value) { FFormatSettings = value; }

  // Facts read at connect.
  int AttachmentID();
  double ClockOffset() const { return FClockOffset; }
  bool IsFirebird() const { return FIsFirebird; }
  int ServerMajorVersion() const { return FServerVersion[0]; }
  int ServerMinorVersion() const { return FServerVersion[1]; }
  int ServerRelease() const { return FServerVersion[2]; }
  int ServerBuild() const { return FServerVersion[3]; }
  bool UnicodeConnection() const { return FUnicodeConnection; }
  bool NoneConnection() const { return FNoneConnection; }
  bool UnicodeOrNoneConnection() const { return FUnicodeConnection || FNoneConnection; }
  bool BlobCharsetAware() const { return FBlobCharsetAware; }
  // Character-set ids that statements treat as Unicode.
  bool IsUnicodeCharSet(int id) const { return id == 3 || (id == 4 && FIsFirebird); }

  // One database-info item read as a number; answered false when the server does
  // not know the item. Raises the server error when the call fails.
  int DatabaseInfoInt(int item, bool* answered = nullptr);
  // One database-info item read as its first counted text.
  std::string DatabaseInfoText(int item, int bufferLength, bool* answered = nullptr);

  // The server-clock query run after each connect when SynchronizeTime is set
  // runs sql ("SELECT CAST('NOW' AS ...) from RDB$DATABASE") through a statement
  // in transaction (already started) and returns the server's date and time as
  // days since 1899-12-30. A test may put another query in its place for this
  // connection; an empty one restores the statement.
  using TServerClockQuery =
      std::function<double(TFIBTransaction& transaction, const std::string& sql)>;
  void SetServerClockQuery(TServerClockQuery query) { FServerClockQuery = std::move(query); }

  // Transactions and statements bound to this connection, in binding order.
  const std::vector<TFIBTransaction*>& Transactions() const { return FTransactions; }
  const std::vector<TFIBBase*>& Statements() const { return FStatements; }

 protected:
  // Hooks for the descendant's transaction events.
  virtual void DoBeforeStartTransaction(TFIBTransaction&) {}
  virtual void DoAfterStartTransaction(TFIBTransaction&) {}
  virtual void DoBeforeEndTransaction(TFIBTransaction&, TTransactionAction) {}
  virtual void DoAfterEndTransaction(TFIBTransaction&, TTransactionAction) {}
  void NotifyStatements(TFIBNotice notice, bool raise);
  void CloseConnectionBase(bool force);
  void OpenConnectionBase(bool raiseOnError);

 private:
  friend class TFIBBase;
  friend class TFIBTransaction;
  friend class TConnectParams;
  friend class TpFIBTransaction;
  void ChangeDBParams(const std::function<void(TStringList&)>& change);
  void AddTransaction(TFIBTransaction* transaction);
  void RemoveTransaction(TFIBTransaction* transaction);
  void ReadServerFacts();
  void SynchronizeClock();

  std::string FDBName;
  TStringList FDBParams;
  TConnectParams FConnectParams{*this};
  std::string FLibraryName = "gds32.dll";
  int FSQLDialect = 1;
  uint32_t FTimeout = 0;
  bool FUseLoginPrompt = false;
  bool FAutoReconnect = false;
  bool FSynchronizeTime = true;
  TFIBTransaction* FDefaultTransaction = nullptr;
  TFIBTransaction* FDefaultUpdateTransaction = nullptr;

  IIBClientLibraryRef FClientLibrary;
  TFBDatabaseHandle FHandle;
  // The open handle and its library as AbortConnection reads them from another
  // thread: set once the attach succeeded, cleared before the detach.
  std::atomic<TFBHandleValue> FAbortHandle{};
  std::atomic<IIBClientLibrary*> FAbortLibrary{nullptr};
  std::atomic<bool> FAbortRequested{false};
  std::string FDPB;
  TServerClockQuery FServerClockQuery;
  std::optional<TFIBFormatSettings> FFormatSettings;
  bool FDPBStale = true;
  std::vector<TFIBTransaction*> FTransactions;
  std::vector<TFIBBase*> FStatements;
  std::unique_ptr<TFIBTransaction> FInternalTransaction;
  int FAttachmentID = -1;
  double FClockOffset = 0;
  bool FIsFirebird = false;
  int FServerVersion[4] = {-1, -1, -1, -1};
  bool FUnicodeConnection = false;
  bool FNoneConnection = false;
  bool FBlobCharsetAware = false;
};

// One Firebird transaction at a time over the connections bound to it. Never owns
// them. Raises EFIBClientError for misuse and EFIBInterBaseError for what the
// server reports; destroying an active transaction ends it by TimeoutAction.
class TFIBTransaction : public TComponent {
 public:
  explicit TFIBTransaction(TComponent* owner = nullptr);
  ~TFIBTransaction() override;
  std::string ClassName() const override { return "TFIBTransaction"; }

  bool Active() const { return static_cast<bool>(FHandle); }
  // true starts when inactive; false rolls back when active.
  void SetActive(bool value);
  TFIBDatabase* DefaultDatabase() const { return FDefaultDatabase; }
  void SetDefaultDatabase(TFIBDatabase* value);
  // Binds one more connection (must use the same LibraryName).
  void AddDatabase(TFIBDatabase* database);
  void RemoveDatabase(TFIBDatabase* database);
  const std::vector<TFIBDatabase*>& Databases() const { return FDatabases; }
  const TStringList& TRParams() const { return FTRParams; }
  // Raises client message 16 while active.
  void SetTRParams(const TStringList& lines);
  TTransactionAction TimeoutAction() const { return FTimeoutAction; }
  void SetTimeoutAction(TTransactionAction value) { FTimeoutAction = value; }
  uint32_t Timeout() const { return FTimeout; }
  // Stored only: this system runs no transaction timer.
  void SetTimeout(uint32_t value) { FTimeout = value; }
  int TransactionState() const { return FTransactionState; }

  std::function<void(TFIBTransaction&)> BeforeStart;
  std::function<void(TFIBTransaction&)> AfterStart;
  std::function<void(TFIBTransaction&, TTransactionAction)> BeforeEnd;
  std::function<void(TFIBTransaction&, TTransactionAction)> AfterEnd;

  virtual void EndTransaction(TTransactionAction action, bool force);
  // Called by statements before (before = true) and after they execute.
  virtual void SQLExecuteHook(TComponent* statement, bool before);
  virtual void StartTransaction();
  virtual void Commit() { EndTransaction(TACommit, false); }
  virtual void CommitRetaining() { EndTransaction(TACommitRetaining, false); }
  virtual void Rollback() { EndTransaction(TARollback, false); }
  virtual void RollbackRetaining() { EndTransaction(TARollbackRetaining, false); }

  // Raises client message 15 with FullName when inactive.
  void RequireActive();
  // Raises the server error (this transaction as raiser) when raiseError and
  // status > 0. Returns status.
  TFBStatus CheckStatus(TFBStatus status, bool raiseError);

  TFBHandleValue* Handle() { return FHandle.Ref(); }
  // The built TPB (bytes as sent by the last start).
  const std::string& TPB() const { return FTPB; }
  // Builds the TPB from the lines, trimming them in place.
  void BuildTPB();
  // The client library of the bound connections; null when none has one.
  IIBClientLibrary* ClientLibrary() const;

  // Statements bound to this transaction, in binding order.
  const std::vector<TFIBBase*>& Statements() const { return FStatements; }

 protected:
  void StartTransactionBase();
  void EndTransactionBase(TTransactionAction action, bool force);
  // Changes the lines without the active check (for the descendant's modes).
  void ReplaceTRParams(std::initializer_list<std::string> lines);

 private:
  friend class TFIBBase;
  friend class TFIBDatabase;
  void NotifyStatements(TFIBNotice notice, bool lastFirst);
  void UnbindAll();

  TFIBDatabase* FDefaultDatabase = nullptr;
  std::vector<TFIBDatabase*> FDatabases;
  std::vector<TFIBBase*> FStatements;
  TStringList FTRParams;
  TTransactionAction FTimeoutAction = TARollback;
  uint32_t FTimeout = 0;
  TFBTransactionHandle FHandle;
  std::string FTPB;
  bool FTPBStale = true;
  int FTransactionState = tsInactive;
};

// Loads the client library NAME for this process, as a connection would: empty
// when it loads, else the loader's reason (a missing file, a library built for
// another machine).
std::string TryLoadClientLibrary(const std::string& name);
