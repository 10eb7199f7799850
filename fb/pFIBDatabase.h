// The connection and transaction classes the service module uses: the base
// classes with the start and end events, the TPB modes and the reconnect setting.
#pragma once

#include <functional>

#include "fb/FIBDatabase.h"

enum TTPBMode { tpbDefault = 0, tpbReadCommitted = 1, tpbRepeatableRead = 2 };

// A connection with transaction events. Ownership and failures as TFIBDatabase.
class TpFIBDatabase : public TFIBDatabase {
 public:
  explicit TpFIBDatabase(TComponent* owner = nullptr);
  ~TpFIBDatabase() override;
  std::string ClassName() const override { return "TpFIBDatabase"; }

  // Interval of reconnect attempts after a lost connection; stored only, since
  // this system never reconnects on its own.
  uint32_t WaitForRestoreConnect() const { return FWaitForRestoreConnect; }
  void SetWaitForRestoreConnect(uint32_t value) { FWaitForRestoreConnect = value; }

  std::function<void(TFIBTransaction&)> BeforeStartTransaction;
  std::function<void(TFIBTransaction&)> AfterStartTransaction;
  std::function<void(TFIBTransaction&, TTransactionAction)> BeforeEndTransaction;
  std::function<void(TFIBTransaction&, TTransactionAction)> AfterEndTransaction;

  void CloseConnection(bool force) override;
  void OpenConnection(bool raiseOnError) override;

 protected:
  void DoBeforeStartTransaction(TFIBTransaction& t) override;
  void DoAfterStartTransaction(TFIBTransaction& t) override;
  void DoBeforeEndTransaction(TFIBTransaction& t, TTransactionAction a) override;
  void DoAfterEndTransaction(TFIBTransaction& t, TTransactionAction a) override;

 private:
  uint32_t FWaitForRestoreConnect = 0;
};

// A transaction whose start may first rewrite its lines by TPBMode. Ownership and
// failures as TFIBTransaction.
class TpFIBTransaction : public TFIBTransaction {
 public:
  explicit TpFIBTransaction(TComponent* owner = nullptr);
  ~TpFIBTransaction() override;
  std::string ClassName() const override { return "TpFIBTransaction"; }

  TTPBMode TPBMode() const { return FTPBMode; }
  void SetTPBMode(TTPBMode value) { FTPBMode = value; }

  std::function<void(TFIBTransaction&, TComponent* statement)> BeforeSQLExecute;
  std::function<void(TFIBTransaction&, TComponent* statement)> AfterSQLExecute;

  void EndTransaction(TTransactionAction action, bool force) override;
  void SQLExecuteHook(TComponent* statement, bool before) override;
  void StartTransaction() override;

 private:
  TTPBMode FTPBMode = tpbReadCommitted;
};
