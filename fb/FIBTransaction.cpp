#include <algorithm>
#include <vector>

#include "fb/FIBDatabase.h"
#include "fb/FIBInternal.h"
#include "fb/FIBParamBlocks.h"
#include "fb/fib.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

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
  if (FHandle) return;
  const bool reconnect =
      !FDatabases.empty() && std::all_of(FDatabases.begin(), FDatabases.end(),
                                         [](TFIBDatabase* db) { return db->AutoReconnect(); });
  if (!reconnect) RaiseClientError(fbceNotInTransaction, {FullName()});
  StartTransaction();
}

TFBStatus TFIBTransaction::CheckStatus(TFBStatus status, bool raiseError) {
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
  // Any line leaves the block to be built again at the next start.
  if (FTRParams.Count() > 0) FTPBStale = true;
  FTPB = FIBBuildTPB(FTRParams);
}

void TFIBTransaction::StartTransaction() { StartTransactionBase(); }

namespace {
// The client library's transaction-existence block.
struct TTransactionBlock {
  TFBHandleValue* database;
  int tpbLength;
  const char* tpb;
};
}  // namespace

void TFIBTransaction::StartTransactionBase() {
  if (FHandle) RaiseClientError(fbceInTransaction, {FullName()});
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
  const TFBStatus status = FHandle.Open(library, [&](TFBHandleValue* handle) {
    return library.isc_start_multiple(StatusVector(), handle, static_cast<short>(blocks.size()),
                                      blocks.data());
  });
  CheckStatus(status, false);
  if (status > 0) RaiseServerError(library, this);
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
        const TFBStatus status = action == TARollbackRetaining
                                     ? library.isc_rollback_retaining(StatusVector(), FHandle.Ref())
                                     : library.isc_commit_retaining(StatusVector(), FHandle.Ref());
        CheckStatus(status, true);
      } catch (...) {
        FTransactionState = FHandle ? tsActive : tsInactive;
        throw;
      }
      NotifyStatements(fnTransactionEnded, false);
      break;
    }
    case TARollback:
    case TACommit: {
      FTransactionState = action == TARollback ? tsDoRollback : tsDoCommit;
      NotifyStatements(fnTransactionEnding, true);
      const auto rollback = [&](TFBHandleValue* handle) {
        return library.isc_rollback_transaction(StatusVector(), handle);
      };
      const auto commit = [&](TFBHandleValue* handle) {
        return library.isc_commit_transaction(StatusVector(), handle);
      };
      const TFBStatus status =
          action == TARollback ? FHandle.End(rollback, false) : FHandle.End(commit, false);
      CheckStatus(status, false);
      if (force) {
        // Forced, a failed end is rolled back and the handle given up either way.
        if (status > 0) FHandle.End(rollback, true);
      } else if (status > 0) {
        // The transaction stays active; the caller decides how to end it.
        FTransactionState = tsActive;
        RaiseServerError(library, this);
      }
      NotifyStatements(fnTransactionEnded, false);
      break;
    }
  }
  FTransactionState = FHandle ? tsActive : tsInactive;
}
