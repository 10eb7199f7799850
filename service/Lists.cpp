#include <array>
#include <functional>
#include <iterator>

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Text.h"
#include "service/Prices.h"
#include "service/Statements.h"
#include "service/Unit1.h"

namespace {

const char kDeclaration[] = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>";
const char kCR[] = "\r";

// A name as the terminals show it: trimmed, in UTF-8 and safe inside markup (a
// menu item may well be called "Fish & Chips").
void AppendName(std::string& out, const TFIBXSQLVAR& column) {
  AppendCp1251ToUtf8(out, TrimView(column.AsText()), true);
}

void AppendText(std::string& out, const TFIBXSQLVAR& column) {
  AppendEscapedMarkup(out, column.AsText());
}

// An element holding a column's text: CR <tag>value</tag>.
void AppendElement(std::string& out, const char* tag, const TFIBXSQLVAR& column) {
  out.append(kCR).append("<").append(tag).append(">");
  AppendText(out, column);
  out.append("</").append(tag).append(">");
}

// Runs a list's statement in its own read transaction and calls `row` for each
// row. A failure leaves the transaction active; destroying the module rolls it
// back.
void RunList(TFIBTransaction& transaction, TFIBQuery& query, const service::TSqlLines& sql,
             const std::string* cardCode, const std::string* station,
             const std::function<void()>& row) {
  transaction.StartTransaction();
  query.CloseResult();
  service::SetSql(query, sql);
  if (cardCode) query.ParamNamed("CARDCODE").SetAsText(*cardCode);
  if (station) query.ParamNamed("STATION").SetAsText(*station);
  query.ExecQuery();
  while (!query.AtEnd()) {
    row();
    query.FetchNext();
  }
  query.CloseResult();
  transaction.Commit();
}

}  // namespace

void TDorvanaWebInterface::GetSprFood(TWebRequest* Request, TWebResponse* Response) {
  const std::string cardCode = Request->QueryFieldList().Values("user");
  const std::string station = Request->QueryFieldList().Values("device");
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) {
    Request->LogFailure(failure);
    Response->SetContentType("text/plain");
    Response->SetContent(Cp1251ToUtf8(failure));
    return;
  }
  const char decimalMark = platform::RegionalDecimalMark();
  std::string reply = std::string(kDeclaration) + kCR + "<foods>";
  std::array<TFIBXSQLVAR*, 8> columns{};
  RunList(*TransactionRead, *Query, service::kSqlFoodList, &cardCode, &station, [&] {
    // The columns are looked up once, at the first row, in the order
    // the reply names them.
    if (!columns[0]) {
      const char* const kNames[] = {"Fullname", "Id",           "IdGroup",  "DefaultQuantity",
                                    "PRICE",    "ISINPUTPRICE", "EdVolume", "ISINPUTVOLUME"};
      for (size_t i = 0; i < std::size(kNames); ++i) columns[i] = &Query->ColumnNamed(kNames[i]);
    }
    reply.append(kCR).append("<food>");
    AppendName(reply, *columns[0]);
    AppendElement(reply, "ID", *columns[1]);
    AppendElement(reply, "IDGROUP", *columns[2]);
    AppendElement(reply, "DEFQ", *columns[3]);
    reply.append(kCR).append("<PRICE>");
    reply += service::FormatPrice(columns[4]->AsReal(), decimalMark);
    reply.append("</PRICE>");
    AppendElement(reply, "INPUTP", *columns[5]);
    reply.append(kCR).append("<VOL>");
    AppendName(reply, *columns[6]);
    reply.append("</VOL>");
    AppendElement(reply, "WGHT", *columns[7]);
    reply.append(kCR).append("</food>");
  });
  reply += std::string(kCR) + "</foods>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}

void TDorvanaWebInterface::GetSprFoodGroup(TWebRequest* Request, TWebResponse* Response) {
  const std::string cardCode = Request->QueryFieldList().Values("user");
  const std::string station = Request->QueryFieldList().Values("device");
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) {
    Request->LogFailure(failure);
    Response->SetContentType("text/plain");
    Response->SetContent(failure);
    return;
  }
  std::string reply = std::string(kDeclaration) + kCR + "<foodgroups>";
  RunList(*TransactionRead, *Query, service::kSqlFoodGroups, &cardCode, &station, [&] {
    reply.append(kCR).append("<foodgroup>");
    AppendName(reply, Query->ColumnNamed("name"));
    AppendElement(reply, "ID", Query->ColumnNamed("Id"));
    reply.append(kCR).append("</foodgroup>");
  });
  reply += std::string(kCR) + "</foodgroups>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}

void TDorvanaWebInterface::GetSprStewards(TWebRequest* Request, TWebResponse* Response) {
  Response->SetContentType("text/xml");
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) {
    Request->LogFailure(failure);
    Response->SetContentType("text/plain");
    Response->SetContent(failure);
    return;
  }
  std::string reply = std::string(kDeclaration) + kCR + "<stewards>";
  RunList(*TransactionRead, *Query, service::kSqlStewards, nullptr, nullptr, [&] {
    // The card code goes out as it is stored, without conversion.
    reply.append(kCR).append("<steward><pin>");
    AppendEscapedMarkup(reply, TrimView(Query->ColumnNamed("code").AsText()));
    reply.append("</pin>");
    AppendName(reply, Query->ColumnNamed("name"));
    reply.append("</steward>");
  });
  reply += std::string(kCR) + "</stewards>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}
