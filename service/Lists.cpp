#include "service/Unit1.h"

#include <functional>
#include <initializer_list>

#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "runtime/Text.h"
#include "service/Service.h"

namespace {

const char kDeclaration[] = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>";
const char kCR[] = "\r";

// A name as the terminals show it: trimmed, in UTF-8 and safe inside markup (a
// menu item may well be called "Fish & Chips").
std::string NameValue(const TFIBXSQLVAR& column) {
  return EscapeMarkup(Cp1251ToUtf8(Trim(column.AsText())));
}

std::string TextValue(const TFIBXSQLVAR& column) { return EscapeMarkup(column.AsText()); }

// Runs a list's statement in its own read transaction and appends one piece per
// row. A failure leaves the transaction active; destroying the module rolls it
// back.
void RunList(TFIBTransaction& transaction, TFIBQuery& query,
             std::initializer_list<const char*> sql, const std::string* cardCode,
             const std::string* station, const std::function<std::string()>& row,
             std::string& reply) {
  transaction.StartTransaction();
  query.CloseResult();
  query.SQL().Clear();
  for (const char* line : sql) query.SQL().Add(line);
  if (cardCode) query.ParamNamed("CARDCODE").SetAsText(*cardCode);
  if (station) query.ParamNamed("STATION").SetAsText(*station);
  query.ExecQuery();
  while (!query.AtEnd()) {
    reply += row();
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
    Response->SetContentType("text/plain");
    Response->SetContent(Cp1251ToUtf8(failure));
    return;
  }
  const char decimalMark = platform::RegionalDecimalMark();
  std::string reply = std::string(kDeclaration) + kCR + "<foods>";
  RunList(*TransactionRead, *Query,
          {"select * from RESTAURANT_GETPRICEFORMOBILE(:CARDCODE,:STATION)"}, &cardCode, &station,
          [&] {
            std::string r;
            r += std::string(kCR) + "<food>" + NameValue(Query->ColumnNamed("Fullname"));
            r += std::string(kCR) + "<ID>" + TextValue(Query->ColumnNamed("Id")) + "</ID>";
            r += std::string(kCR) + "<IDGROUP>" + TextValue(Query->ColumnNamed("IdGroup")) +
                 "</IDGROUP>";
            r += std::string(kCR) + "<DEFQ>" + TextValue(Query->ColumnNamed("DefaultQuantity")) +
                 "</DEFQ>";
            r += std::string(kCR) + "<PRICE>" +
                 service::FormatPrice(Query->ColumnNamed("PRICE").AsReal(), decimalMark) +
                 "</PRICE>";
            r += std::string(kCR) + "<INPUTP>" + TextValue(Query->ColumnNamed("ISINPUTPRICE")) +
                 "</INPUTP>";
            r += std::string(kCR) + "<VOL>" + NameValue(Query->ColumnNamed("EdVolume")) + "</VOL>";
            r += std::string(kCR) + "<WGHT>" + TextValue(Query->ColumnNamed("ISINPUTVOLUME")) +
                 "</WGHT>";
            r += std::string(kCR) + "</food>";
            return r;
          },
          reply);
  reply += std::string(kCR) + "</foods>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}

void TDorvanaWebInterface::GetSprFoodGroup(TWebRequest* Request, TWebResponse* Response) {
  const std::string cardCode = Request->QueryFieldList().Values("user");
  const std::string station = Request->QueryFieldList().Values("device");
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) {
    Response->SetContentType("text/plain");
    Response->SetContent(failure);
    return;
  }
  std::string reply = std::string(kDeclaration) + kCR + "<foodgroups>";
  RunList(*TransactionRead, *Query,
          {"select Distinct g.Id,g.Name,g.nOrder  from RESTAURANT_GETPRICEFORMOBILE(:CARDCODE,:STATION) p",
           "left outer join RESTAURANT_PRICEGROUPS g on p.IdGroup = g.Id", "Order by g.nOrder"},
          &cardCode, &station,
          [&] {
            return std::string(kCR) + "<foodgroup>" + NameValue(Query->ColumnNamed("name")) + kCR +
                   "<ID>" + TextValue(Query->ColumnNamed("Id")) + "</ID>" + kCR + "</foodgroup>";
          },
          reply);
  reply += std::string(kCR) + "</foodgroups>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}

void TDorvanaWebInterface::GetSprStewards(TWebRequest*, TWebResponse* Response) {
  Response->SetContentType("text/xml");
  const std::string failure = ApplySettingsAndConnect();
  if (!failure.empty()) {
    Response->SetContentType("text/plain");
    Response->SetContent(failure);
    return;
  }
  std::string reply = std::string(kDeclaration) + kCR + "<stewards>";
  RunList(*TransactionRead, *Query,
          {"select c.code, w.name from RESTAURANT_WAITERS W ",
           "left outer join RESTAURANT_CARDS c on c.id = w.IdCard",
           "where w.Status >=0 Order by W.Name"},
          nullptr, nullptr,
          [&] {
            // The card code goes out as it is stored, without conversion.
            return std::string(kCR) + "<steward><pin>" +
                   EscapeMarkup(Trim(Query->ColumnNamed("code").AsText())) + "</pin>" +
                   NameValue(Query->ColumnNamed("name")) + "</steward>";
          },
          reply);
  reply += std::string(kCR) + "</stewards>";
  Response->SetContentType("text/xml");
  Response->SetContent(reply);
}
