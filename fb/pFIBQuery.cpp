#include "fb/pFIBQuery.h"

#include "fb/fib.h"
#include "runtime/Exception.h"

TpFIBQuery::TpFIBQuery(TComponent* owner) : TFIBQuery(owner) {}

std::string TpFIBQuery::About() const { return "Dorvana statement"; }

void TpFIBQuery::ExecQuery() {
  for (;;) {
    try {
      TFIBQuery::ExecQuery();
      return;
    } catch (EFIBError& e) {
      if (!OnExecuteError) throw;
      int action = eaFail;
      OnExecuteError(*this, e, action);
      if (action == eaRetry) continue;
      if (action == eaAbort) throw EAbort("Operation aborted");
      throw;
    }
  }
}
