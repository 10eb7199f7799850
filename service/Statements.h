// The statements the terminal commands run, each as the lines its query is
// given. Kept in one place so that an installation check prepares exactly what
// the commands execute.
#pragma once

#include <string>
#include <vector>

class TFIBQuery;

namespace service {

using TSqlLines = std::vector<std::string>;

// getsprfood: the price list of a waiter's card at a station.
inline const TSqlLines kSqlFoodList = {
    "select * from RESTAURANT_GETPRICEFORMOBILE(:CARDCODE,:STATION)"};
// getsprfoodgroup: the groups of that price list, in their order.
inline const TSqlLines kSqlFoodGroups = {
    "select Distinct g.Id,g.Name,g.nOrder  from "
    "RESTAURANT_GETPRICEFORMOBILE(:CARDCODE,:STATION) p",
    "left outer join RESTAURANT_PRICEGROUPS g on p.IdGroup = g.Id", "Order by g.nOrder"};
// getsprstewards: the active waiters and their card codes.
inline const TSqlLines kSqlStewards = {"select c.code, w.name from RESTAURANT_WAITERS W ",
                                       "left outer join RESTAURANT_CARDS c on c.id = w.IdCard",
                                       "where w.Status >=0 Order by W.Name"};
// addorder: the duplicate check, the order's head, each row, the procedure that
// takes the imported order over.
inline const TSqlLines kSqlOrderExists = {
    "select count(id) as cnt from Restaurant_ImportedOrders where Guid =:Guid"};
inline const TSqlLines kSqlInsertOrder = {
    "Insert into Restaurant_ImportedOrders (id,guid,DEVICEID,WAITERCARDCODE,TABLENUMBER)",
    "values "
    "(Gen_id(Restaurant_ImportedOrders,1),:GUID,:DEVICEID,:WAITERCARDCODE,:TABLENUMBER)"};
inline const TSqlLines kSqlInsertOrderRow = {
    "Insert into Restaurant_ImportedOrderRows "
    "(id,guidOrder,IDPRICE,Quantity,Volume,isModificator)",
    "values (Gen_id(Restaurant_ImportedOrderRows,1),:GUIDORDER,:IDPRICE,:Quantity,:Volume,"
    ":isModificator)"};
inline const TSqlLines kSqlImportOrder = {"execute procedure restaurant_importorders(:guid)"};

// Every statement above with the command that runs it, in the commands' order,
// and the pair that runs it: the module's Query in TransactionRead for what only
// reads, QueryOrder in TransactionRW for the order's own writes.
enum class TStatementRunner { Read, Write };
struct TCommandStatement {
  const char* Command;
  const TSqlLines* Lines;
  TStatementRunner Runner;
};
inline const std::vector<TCommandStatement> kCommandStatements = {
    {"getsprfood", &kSqlFoodList, TStatementRunner::Read},
    {"getsprfoodgroup", &kSqlFoodGroups, TStatementRunner::Read},
    {"getsprstewards", &kSqlStewards, TStatementRunner::Read},
    {"addorder", &kSqlOrderExists, TStatementRunner::Read},
    {"addorder", &kSqlInsertOrder, TStatementRunner::Write},
    {"addorder", &kSqlInsertOrderRow, TStatementRunner::Write},
    {"addorder", &kSqlImportOrder, TStatementRunner::Write}};

// Replaces the query's text by these lines.
void SetSql(TFIBQuery& query, const TSqlLines& lines);

}  // namespace service
