// What the value objects, descriptor areas and statements share inside the
// database layer; not for users of it.
#pragma once

#include <ibase.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fb/FIBDatabase.h"
#include "fb/FIBQuery.h"
#include "fb/IB_Intf.h"

// The other code the server uses for a truth value.
constexpr int kSQLBooleanLegacy = 590;

// The server counts days from 1858-11-17; date-time numbers from 1899-12-30.
constexpr int kServerDayOf1970 = 40587;
constexpr int kServerDayOf1899 = 15018;

// Bytes of the data buffer for a described type; client message 30 for a type
// code that is not known.
size_t FIBBufferSize(int type, int length);

// value * 10^scale rounded once; client message 33 for a scale beyond +-18.
double FIBScaledValue(int64_t value, int scale);

// A server date or time (1/10000 s since midnight) in a regional pattern.
std::string FIBServerDateText(int32_t serverDay, const std::string& datePattern);
std::string FIBServerTimeText(uint32_t serverTime, const std::string& timePattern);

// A decimal number with the regional mark; blanks around it are allowed.
bool FIBParseNumber(std::string_view s, char mark, double& out);
// A date in the regional short date form, optionally followed by a time h:n[:s],
// as days since 1899-12-30.
bool FIBParseDateTime(std::string_view s, const std::string& datePattern, double& out);

static_assert(sizeof(XSQLVAR) > 0 && sizeof(XSQLDA) > 0);
inline auto* TFIBXSQLVAR::Data() const { return reinterpret_cast<XSQLVAR*>(FSlot); }
inline int TFIBXSQLVAR::SQLType() const { return Data()->sqltype & ~1; }
inline auto* TFIBXSQLDA::AsXSQLDA() const { return reinterpret_cast<XSQLDA*>(FBlock.get()); }

template <class T>
T FIBRead(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The server's date and time as days since 1899-12-30, read by running sql (a
// select of one date or timestamp) in transaction.
double FIBServerClock(TFIBDatabase& database, TFIBTransaction& transaction, const std::string& sql);

// A retaining action taken as its plain form.
inline TTransactionAction PlainAction(TTransactionAction action) {
  if (action == TARollbackRetaining) return TARollback;
  if (action == TACommitRetaining) return TACommit;
  return action;
}

template <class T>
inline void EraseOne(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}
