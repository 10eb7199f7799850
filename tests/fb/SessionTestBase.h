// The service's arrangement of a connection and two transactions, against a real
// database made fresh for the suite.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FbTestSupport.h"
#include "fb/pFIBDatabase.h"

namespace fbtest {

struct TSession {
  explicit TSession(const std::string& dbName, const std::string& user,
                    const std::string& password) {
    module = std::make_unique<TComponent>();
    module->SetName("DorvanaWebInterface");
    db = new TpFIBDatabase(module.get());
    db->SetName("Database");
    read = new TpFIBTransaction(module.get());
    read->SetName("TransactionRead");
    rw = new TpFIBTransaction(module.get());
    rw->SetName("TransactionRW");
    db->SetDBParams({"lc_ctype=WIN1251"});
    db->SetDefaultTransaction(read);
    db->SetDefaultUpdateTransaction(rw);
    db->SetLibraryName("fbclient.dll");
    for (TpFIBTransaction* t : {read, rw}) {
      t->SetDefaultDatabase(db);
      t->SetTPBMode(tpbDefault);
    }
    read->SetTRParams({"read", "nowait", "rec_version", "read_committed"});
    rw->SetTRParams({"write", "nowait", "rec_version", "read_committed"});
    db->SetDBName(dbName);
    db->ConnectParams().SetUserName(user);
    db->ConnectParams().SetPassword(password);
  }
  std::unique_ptr<TComponent> module;
  TpFIBDatabase* db;
  TpFIBTransaction* read;
  TpFIBTransaction* rw;
};

// Rows in ORDERS seen by a fresh connection.
inline int CountOrders(const std::string& dbName, const std::string& user,
                       const std::string& password) {
  TSession s(dbName, user, password);
  s.db->SetConnected(true);
  s.read->StartTransaction();
  const int n = SelectInt(*s.db, *s.read, "SELECT COUNT(*) FROM ORDERS");
  s.read->Commit();
  return n;
}

}  // namespace fbtest
