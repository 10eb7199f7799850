#include "fb/pFIBDatabase.h"

// ---- TpFIBDatabase -------------------------------------------------------------

TpFIBDatabase::TpFIBDatabase(TComponent* owner) : TFIBDatabase(owner) {}

TpFIBDatabase::~TpFIBDatabase() = default;

void TpFIBDatabase::OpenConnection(bool raiseOnError) {
  if (Connected()) return;
  OpenConnectionBase(raiseOnError);
  // Schema caches and aliases are never switched on here, so nothing follows.
}

void TpFIBDatabase::CloseConnection(bool force) {
  if (Connected()) CloseConnectionBase(force);
}

void TpFIBDatabase::DoBeforeStartTransaction(TFIBTransaction& t) {
  if (BeforeStartTransaction) BeforeStartTransaction(t);
}

void TpFIBDatabase::DoAfterStartTransaction(TFIBTransaction& t) {
  if (AfterStartTransaction) AfterStartTransaction(t);
}

void TpFIBDatabase::DoBeforeEndTransaction(TFIBTransaction& t, TTransactionAction a) {
  if (BeforeEndTransaction) BeforeEndTransaction(t, a);
}

void TpFIBDatabase::DoAfterEndTransaction(TFIBTransaction& t, TTransactionAction a) {
  if (AfterEndTransaction) AfterEndTransaction(t, a);
}

// ---- TpFIBTransaction ----------------------------------------------------------

TpFIBTransaction::TpFIBTransaction(TComponent* owner) : TFIBTransaction(owner) {}

TpFIBTransaction::~TpFIBTransaction() = default;

void TpFIBTransaction::StartTransaction() {
  if (Active()) return;
  switch (FTPBMode) {
    case tpbReadCommitted:
      ReplaceTRParams({"write", "isc_tpb_nowait", "read_committed", "rec_version"});
      break;
    case tpbRepeatableRead:
      ReplaceTRParams({"write", "isc_tpb_nowait", "concurrency"});
      break;
    case tpbDefault:
      break;
  }
  TFIBDatabase* db = DefaultDatabase();
  if (db) db->DoBeforeStartTransaction(*this);
  if (BeforeStart) BeforeStart(*this);
  StartTransactionBase();
  if (AfterStart) AfterStart(*this);
  if (db) db->DoAfterStartTransaction(*this);
}

void TpFIBTransaction::EndTransaction(TTransactionAction action, bool force) {
  TFIBDatabase* db = DefaultDatabase();
  if (db) db->DoBeforeEndTransaction(*this, action);
  if (BeforeEnd) BeforeEnd(*this, action);
  EndTransactionBase(action, force);
  if (AfterEnd) AfterEnd(*this, action);
  if (db) db->DoAfterEndTransaction(*this, action);
}

void TpFIBTransaction::SQLExecuteHook(TComponent* statement, bool before) {
  if (before && BeforeSQLExecute) BeforeSQLExecute(*this, statement);
  if (!before && AfterSQLExecute) AfterSQLExecute(*this, statement);
}
