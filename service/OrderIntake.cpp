#include <algorithm>
#include <exception>

#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/OrderErrorLine.h"
#include "service/Statements.h"
#include "service/TerminalSession.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

// How long, in seconds, an import that collided with a concurrent import of the
// same order waits for that one to end, at most: no longer than what is left of
// the request's deadline. An order of 16 MiB (the most a body may hold) took 17
// to 21 s to import on two shared cores; 90 s is over four times that.
constexpr int kConflictWaitSeconds = 90;

// The first child of that name (letter case ignored); a missing element fails the
// import with a message naming it.
TXmlNode& Child(const TXmlNode& parent, const char* name) {
  TXmlNode* node = parent.FindChild(name);
  if (!node) throw Exception(Format("The order has no %s element.", {name}));
  return *node;
}

// The duplicate check, in its own read transaction. A failure leaves as an
// exception after the rollback.
bool OrderExists(TFIBTransaction& transaction, TFIBQuery& query, const std::string& guid) {
  bool exists = false;
  try {
    transaction.StartTransaction();
    SetSql(query, kSqlOrderExists);
    query.ParamNamed("GUID").SetAsText(guid);
    query.ExecQuery();
    exists = query.ColumnNamed("cnt").AsInt32() > 0;
    query.CloseResult();
    transaction.Commit();
  } catch (...) {
    if (transaction.Active()) transaction.Rollback();
    throw;
  }
  if (transaction.Active()) transaction.Rollback();
  return exists;
}

// The order once a colliding import of it has ended: a read that, unlike every
// other in this program, waits for the other transaction (read committed without
// record versions, in wait mode) up to waitSeconds, then sees its outcome. True
// when it committed the order; false when it rolled back. Raises when the wait
// runs out or the read fails.
bool OrderExistsAfterCompetingImport(TFIBDatabase& database, const std::string& guid,
                                     int waitSeconds) {
  TFIBTransaction transaction;
  transaction.SetTRParams({"read", "wait", "no_rec_version", "read_committed",
                           "lock_timeout=" + IntToStr(waitSeconds)});
  transaction.SetDefaultDatabase(&database);
  TFIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&transaction);
  return OrderExists(transaction, query, guid);
}

}  // namespace

void SetSql(TFIBQuery& query, const TSqlLines& lines) {
  // A session kept between requests runs the same few texts again and again: a
  // statement that already holds these lines, prepared and without an open
  // result, keeps its handle, with every parameter unset as after a prepare, so
  // that nothing of an earlier request's values carries over.
  query.SQL().Assign(lines);
}

// A kept connection may have been lost since the last request (the server
// restarted, the network was cut). The import then runs once more on a new
// connection (the session's rule), but only when the loss came before the
// commit was asked for: nothing of the order can be stored, and the new attempt
// begins with the identifier check. A loss during the commit is answered as the
// failure it is; the terminal's next post finds the order by its identifier if
// it was stored.
std::string TTerminalSession::ImportOrder(const TRequestContext& context, TNativeXml& document) {
  std::string answer;
  Run(context, [&] { answer = ImportOrderOnce(context, document); });
  return answer;
}

std::string TTerminalSession::ImportOrderOnce(const TRequestContext& context,
                                              TNativeXml& document) {
  const std::string failure = Connect(context);
  if (!failure.empty()) return Cp1251ToUtf8(failure);
  return ImportConnectedOrder(context, document);
}

std::string TTerminalSession::ImportConnectedOrder(const TRequestContext& context,
                                                   TNativeXml& document) {
  TpFIBTransaction& write = *F.TransactionRW;
  TpFIBQuery& order = *F.QueryOrder;
  TXmlNode* root = document.FirstElement();
  TXmlNode* guidNode = root ? root->FindChild("GUID") : nullptr;
  if (!guidNode) throw Exception(kNoGuidMessage);
  const std::string guid = guidNode->TextValue();
  // A blank identifier would make every blank order a duplicate of the first:
  // answered "ok" and lost.
  if (IsBlankGuid(guid)) throw Exception(kEmptyGuidMessage);

  if (OrderExists(*F.TransactionRead, *F.Query, guid)) return "ok";

  std::exception_ptr importFailure;
  bool commitAsked = false;
  // What kind of failure it was, told where it is caught.
  bool writeConflict = false;
  bool runsAgain = false;
  try {
    write.StartTransaction();

    SetSql(order, kSqlInsertOrder);
    order.ParamNamed("GUID").SetAsText(guid);
    order.ParamNamed("DEVICEID").SetAsText(Child(*root, "DEVICEID").TextValue());
    order.ParamNamed("WAITERCARDCODE").SetAsText(Child(*root, "PIN").TextValue());
    order.ParamNamed("TABLENUMBER").SetAsInt32(Child(*root, "TABLE").IntegerValue());
    order.ExecQuery();
    order.CloseResult();

    // One prepared statement serves every row.
    SetSql(order, kSqlInsertOrderRow);
    const TXmlNode& foods = Child(*root, "FOODS");
    for (int i = 0; i < foods.ChildCount(); ++i) {
      const TXmlNode& row = *foods.ChildAt(i);
      order.ParamNamed("GUIDORDER").SetAsText(guid);
      order.ParamNamed("IDPRICE").SetAsInt32(row.IntegerValue());
      order.ParamNamed("Quantity").SetAsInt32(Child(row, "count").IntegerValue());
      order.ParamNamed("Volume").SetAsInt32(Child(row, "weight").IntegerValue());
      order.ParamNamed("isModificator")
          .SetAsInt32(Child(row, "isModificator").BooleanValue() ? 1 : 0);
      order.ExecQuery();
    }

    SetSql(order, kSqlImportOrder);
    order.ParamNamed("GUID").SetAsText(guid);
    order.ExecQuery();

    commitAsked = true;
    write.Commit();
  } catch (const EFIBError& e) {
    importFailure = std::current_exception();
    // The same order posted twice at once: a lock conflict, or the uniqueness
    // of its identifier.
    writeConflict = IsLockConflict(e) || IsUniqueViolation(e);
    runsAgain = !commitAsked && RunsAgain(e);
  } catch (...) {
    importFailure = std::current_exception();
  }
  try {
    if (write.Active()) write.Rollback();
  } catch (...) {
    if (!importFailure) importFailure = std::current_exception();
  }
  // A commit that returned is the answer, whenever the deadline comes.
  if (!importFailure) return "ok";
  // Cut off by the deadline, perhaps during the commit: whether the order is
  // stored is unknown, and no error line may say that it is not.
  RaiseIfPastDeadline(context);
  if (runsAgain) std::rethrow_exception(importFailure);

  // The same order posted twice at once: both posts pass the duplicate check and
  // the later import fails on the first one (the uniqueness of the identifier in
  // the database). The order is in the database once the first commits, so that
  // is no failure for the terminal: wait for the first to end, however long its
  // import takes up to the bound, and answer "ok" when it kept the order. An
  // error answered here makes the waiter post again or key the order anew, so it
  // must mean the order is not stored.
  try {
    if (writeConflict
            ? OrderExistsAfterCompetingImport(
                  *F.Database, guid, std::min(kConflictWaitSeconds, DeadlineSecondsLeft(context)))
            : OrderExists(*F.TransactionRead, *F.Query, guid))
      return "ok";
  } catch (const EFIBError&) {
    // The re-check failed too (the connection is gone, the wait ran out): the
    // import's own failure is the answer, unless the deadline cut it short.
    RaiseIfPastDeadline(context);
  }
  return Cp1251ToUtf8(OrderErrorLine(ExceptionMessage(importFailure)));
}

}  // namespace service
