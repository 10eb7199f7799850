#include <array>
#include <functional>
#include <iterator>

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Text.h"
#include "service/Prices.h"
#include "service/Statements.h"
#include "service/TerminalSession.h"

namespace service {

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
// row. A failure leaves the transaction active; the session's rule ends it.
void RunList(TFIBTransaction& transaction, TFIBQuery& query, const TSqlLines& sql,
             const std::string* cardCode, const std::string* station,
             const std::function<void()>& row) {
  transaction.StartTransaction();
  query.CloseResult();
  SetSql(query, sql);
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

// Every list connects first; a failed connect is the terminal's answer, raised
// as EConnectFailed (the handler answers it), and never run again.
std::string TTerminalSession::FoodList(const TRequestContext& context, const std::string& cardCode,
                                       const std::string& station) {
  std::string reply;
  Run(context, [&] {
    ConnectOrRaise(context);
    const char decimalMark = platform::RegionalDecimalMark();
    reply = std::string(kDeclaration) + kCR + "<foods>";
    std::array<TFIBXSQLVAR*, 8> columns{};
    TpFIBQuery& query = *F.Query;
    RunList(*F.TransactionRead, query, kSqlFoodList, &cardCode, &station, [&] {
      // The columns are looked up once, at the first row, in the order
      // the reply names them.
      if (!columns[0]) {
        const char* const kNames[] = {"Fullname", "Id",           "IdGroup",  "DefaultQuantity",
                                      "PRICE",    "ISINPUTPRICE", "EdVolume", "ISINPUTVOLUME"};
        for (size_t i = 0; i < std::size(kNames); ++i) columns[i] = &query.ColumnNamed(kNames[i]);
      }
      reply.append(kCR).append("<food>");
      AppendName(reply, *columns[0]);
      AppendElement(reply, "ID", *columns[1]);
      AppendElement(reply, "IDGROUP", *columns[2]);
      AppendElement(reply, "DEFQ", *columns[3]);
      reply.append(kCR).append("<PRICE>");
      reply += FormatPrice(columns[4]->AsReal(), decimalMark);
      reply.append("</PRICE>");
      AppendElement(reply, "INPUTP", *columns[5]);
      reply.append(kCR).append("<VOL>");
      AppendName(reply, *columns[6]);
      reply.append("</VOL>");
      AppendElement(reply, "WGHT", *columns[7]);
      reply.append(kCR).append("</food>");
    });
    reply += std::string(kCR) + "</foods>";
  });
  return reply;
}

std::string TTerminalSession::FoodGroups(const TRequestContext& context,
                                         const std::string& cardCode, const std::string& station) {
  std::string reply;
  Run(context, [&] {
    ConnectOrRaise(context);
    reply = std::string(kDeclaration) + kCR + "<foodgroups>";
    TpFIBQuery& query = *F.Query;
    RunList(*F.TransactionRead, query, kSqlFoodGroups, &cardCode, &station, [&] {
      reply.append(kCR).append("<foodgroup>");
      AppendName(reply, query.ColumnNamed("name"));
      AppendElement(reply, "ID", query.ColumnNamed("Id"));
      reply.append(kCR).append("</foodgroup>");
    });
    reply += std::string(kCR) + "</foodgroups>";
  });
  return reply;
}

std::string TTerminalSession::Stewards(const TRequestContext& context) {
  std::string reply;
  Run(context, [&] {
    ConnectOrRaise(context);
    reply = std::string(kDeclaration) + kCR + "<stewards>";
    TpFIBQuery& query = *F.Query;
    RunList(*F.TransactionRead, query, kSqlStewards, nullptr, nullptr, [&] {
      // The card code goes out as it is stored, without conversion.
      reply.append(kCR).append("<steward><pin>");
      AppendEscapedMarkup(reply, TrimView(query.ColumnNamed("code").AsText()));
      reply.append("</pin>");
      AppendName(reply, query.ColumnNamed("name"));
      reply.append("</steward>");
    });
    reply += std::string(kCR) + "</stewards>";
  });
  return reply;
}

}  // namespace service
