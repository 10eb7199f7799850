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
#include "service/Unit1.h"
#include "xml/NativeXml.h"

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

// True for the failures of an import that collided with another transaction
// writing the same order (a lock conflict or the uniqueness of its identifier).
bool IsWriteConflict(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EFIBError& e) {
    return IsLockConflict(e) || IsUniqueViolation(e);
  } catch (...) {
    return false;
  }
}

bool IsConnectionLost(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const EFIBError& e) {
    return IsConnectionLost(e);
  } catch (...) {
    return false;
  }
}

// The duplicate check, in its own read transaction. A failure leaves as an
// exception after the rollback.
bool OrderExists(TFIBTransaction& transaction, TFIBQuery& query, const std::string& guid) {
  bool exists = false;
  try {
    transaction.StartTransaction();
    service::SetSql(query, service::kSqlOrderExists);
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

void service::SetSql(TFIBQuery& query, const TSqlLines& lines) {
  // A module kept between requests runs the same few texts again and again: a
  // statement that already holds these lines, prepared and without an open
  // result, keeps its handle, with every parameter unset as after a prepare, so
  // that nothing of an earlier request's values carries over.
  query.SQL().Assign(lines);
}

void TDorvanaWebInterface::AddOrder(TWebRequest* Request, TWebResponse* Response) {
  const std::string& text = Request->ContentFieldList().Text();
  // A request without a body (a GET, say) carries no order: there is nothing to
  // keep, and its copy would only use up the archive's names. It is refused by
  // the reader below as before.
  if (!text.empty()) service::ArchiveOrder(text, service::ClockSeed());
  TNativeXml document;
  document.LoadFromText(text);
  TXmlNode* root = document.FirstElement();
  TXmlNode* guidNode = root ? root->FindChild("GUID") : nullptr;
  if (guidNode) Request->SetLogGuid(guidNode->TextValue());
  const std::string answer = ImportOrder(document);
  if (answer != "ok") Request->LogFailure(answer);
  Response->SetContent(answer);
}

// A kept connection may have been lost since the last request (the server
// restarted, the network was cut). The import then runs once more on a new
// connection, but only when the loss came before the commit was asked for:
// nothing of the order can be stored, and the new attempt begins with the
// identifier check. A loss during the commit is answered as the failure it is;
// the terminal's next post finds the order by its identifier if it was stored.
std::string TDorvanaWebInterface::ImportOrder(TNativeXml& Document) {
  for (int attempt = 0;; ++attempt) {
    try {
      return ImportOrderOnce(Document);
    } catch (const EFIBError& e) {
      EndTransactions();
      // Cut off by the deadline: never imported again on a new connection.
      RaiseIfPastDeadline();
      if (!ForgetLostConnection(e, attempt)) throw;
    }
  }
}

std::string TDorvanaWebInterface::ImportOrderOnce(TNativeXml& Document) {
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) return Cp1251ToUtf8(failure);
  return ImportConnectedOrder(Document);
}

std::string TDorvanaWebInterface::ImportConnectedOrder(TNativeXml& Document) {
  TXmlNode* root = Document.FirstElement();
  TXmlNode* guidNode = root ? root->FindChild("GUID") : nullptr;
  if (!guidNode) throw Exception(service::kNoGuidMessage);
  const std::string guid = guidNode->TextValue();
  // A blank identifier would make every blank order a duplicate of the first:
  // answered "ok" and lost.
  if (service::IsBlankGuid(guid)) throw Exception(service::kEmptyGuidMessage);

  if (OrderExists(*TransactionRead, *Query, guid)) return "ok";

  std::exception_ptr importFailure;
  bool commitAsked = false;
  try {
    TransactionRW->StartTransaction();

    service::SetSql(*QueryOrder, service::kSqlInsertOrder);
    QueryOrder->ParamNamed("GUID").SetAsText(guid);
    QueryOrder->ParamNamed("DEVICEID").SetAsText(Child(*root, "DEVICEID").TextValue());
    QueryOrder->ParamNamed("WAITERCARDCODE").SetAsText(Child(*root, "PIN").TextValue());
    QueryOrder->ParamNamed("TABLENUMBER").SetAsInt32(Child(*root, "TABLE").IntegerValue());
    QueryOrder->ExecQuery();
    QueryOrder->CloseResult();

    // One prepared statement serves every row.
    service::SetSql(*QueryOrder, service::kSqlInsertOrderRow);
    const TXmlNode& foods = Child(*root, "FOODS");
    for (int i = 0; i < foods.ChildCount(); ++i) {
      const TXmlNode& row = *foods.ChildAt(i);
      QueryOrder->ParamNamed("GUIDORDER").SetAsText(guid);
      QueryOrder->ParamNamed("IDPRICE").SetAsInt32(row.IntegerValue());
      QueryOrder->ParamNamed("Quantity").SetAsInt32(Child(row, "count").IntegerValue());
      QueryOrder->ParamNamed("Volume").SetAsInt32(Child(row, "weight").IntegerValue());
      QueryOrder->ParamNamed("isModificator")
          .SetAsInt32(Child(row, "isModificator").BooleanValue() ? 1 : 0);
      QueryOrder->ExecQuery();
    }

    service::SetSql(*QueryOrder, service::kSqlImportOrder);
    QueryOrder->ParamNamed("GUID").SetAsText(guid);
    QueryOrder->ExecQuery();

    commitAsked = true;
    TransactionRW->Commit();
  } catch (...) {
    importFailure = std::current_exception();
  }
  try {
    if (TransactionRW->Active()) TransactionRW->Rollback();
  } catch (...) {
    if (!importFailure) importFailure = std::current_exception();
  }
  // A commit that returned is the answer, whenever the deadline comes.
  if (!importFailure) return "ok";
  // Cut off by the deadline, perhaps during the commit: whether the order is
  // stored is unknown, and no error line may say that it is not.
  RaiseIfPastDeadline();
  if (!commitAsked && FConnectionKept && IsConnectionLost(importFailure))
    std::rethrow_exception(importFailure);

  // The same order posted twice at once: both posts pass the duplicate check and
  // the later import fails on the first one (the uniqueness of the identifier in
  // the database). The order is in the database once the first commits, so that
  // is no failure for the terminal: wait for the first to end, however long its
  // import takes up to the bound, and answer "ok" when it kept the order. An
  // error answered here makes the waiter post again or key the order anew, so it
  // must mean the order is not stored.
  try {
    if (IsWriteConflict(importFailure)
            ? OrderExistsAfterCompetingImport(*Database, guid,
                                              std::min(kConflictWaitSeconds, DeadlineSecondsLeft()))
            : OrderExists(*TransactionRead, *Query, guid))
      return "ok";
  } catch (const EFIBError&) {
    // The re-check failed too (the connection is gone, the wait ran out): the
    // import's own failure is the answer, unless the deadline cut it short.
    RaiseIfPastDeadline();
  }
  return Cp1251ToUtf8(service::OrderErrorLine(ExceptionMessage(importFailure)));
}
