// What the program's connect and the destruction of its module cost: the
// service's connection and transactions, connected and destroyed, then the
// process ends as the program ends.
//   connect_bench DBNAME USER PASSWORD [COUNT]
// COUNT connect/destroy rounds in one process (default 1).
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fb/FIBQuery.h"
#include "fb/pFIBDatabase.h"
#include "platform/Platform.h"

namespace {

void ConnectAndDestroy(const char* dbName, const char* user, const char* password) {
  auto module = std::make_unique<TComponent>();
  module->SetName("DorvanaWebInterface");
  auto* db = new TpFIBDatabase(module.get());
  db->SetName("Database");
  auto* read = new TpFIBTransaction(module.get());
  read->SetName("TransactionRead");
  auto* rw = new TpFIBTransaction(module.get());
  rw->SetName("TransactionRW");
  db->SetDBParams({"lc_ctype=WIN1251"});
  db->SetLibraryName("fbclient.dll");
  db->SetDefaultTransaction(read);
  db->SetDefaultUpdateTransaction(rw);
  read->SetTRParams({"read", "nowait", "rec_version", "read_committed"});
  rw->SetTRParams({"write", "nowait", "rec_version", "read_committed"});
  for (TpFIBTransaction* t : {read, rw}) {
    t->SetDefaultDatabase(db);
    t->SetTPBMode(tpbDefault);
  }
  db->SetDBName(dbName);
  db->ConnectParams().SetUserName(user);
  db->ConnectParams().SetPassword(password);
  db->SetConnected(true);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s DBNAME USER PASSWORD [COUNT]\n", argv[0]);
    return 2;
  }
  platform::BlockTerminationSignal();
  const int count = argc > 4 ? std::atoi(argv[4]) : 1;
  try {
    for (int i = 0; i < count; ++i) ConnectAndDestroy(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  platform::ExitNow(0);
}
