#include "fb/FIBQuery.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "fb/fib.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

// Client messages raised here.
[[noreturn]] void InvalidConversion() { RaiseClientError(fbceInvalidDataConversion); }

// The other code the server uses for a truth value.
constexpr int kSQLBooleanLegacy = 590;

bool IsNumericType(int t) {
  return t == SQL_DOUBLE || t == SQL_FLOAT || t == SQL_LONG || t == SQL_SHORT || t == SQL_D_FLOAT ||
         t == SQL_INT64;
}
bool IsDateType(int t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_TIME || t == SQL_TYPE_DATE; }

// Bytes of the data buffer for a described type; client message 30 for a type
// code that is not known.
size_t BufferSize(int type, int length) {
  switch (type) {
    case SQL_VARYING:
      return static_cast<size_t>(length) + 2;
    case SQL_TEXT:
      return length == 0 ? 1 : static_cast<size_t>(length);
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_BLOB:
    case SQL_ARRAY:
    case SQL_QUAD:
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
    case SQL_NULL:
      return static_cast<size_t>(length);
    default:
      RaiseClientError(fbceUnknownSQLDataType, {type});
  }
}

// Powers of ten from 10^-18 to 10^18, indexed by exponent + 18.
const double kPowersOfTen[37] = {
    1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
    1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,  1e5,  1e6,  1e7,
    1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17, 1e18};

double Scaled(int64_t value, int scale) {
  if (scale < -18 || scale > 18) InvalidConversion();
  // The product is formed in extended precision and rounded once.
  const long double product =
      static_cast<long double>(value) * static_cast<long double>(kPowersOfTen[scale + 18]);
  return static_cast<double>(product);
}

template <class T>
T Read(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Days of a civil date counted from 1970-01-01 (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// The server counts days from 1858-11-17; date-time numbers from 1899-12-30.
constexpr int kServerDayOf1970 = 40587;
constexpr int kServerDayOf1899 = 15018;

std::string DateText(int32_t serverDay) {
  int y, m, d;
  CivilFromDays(static_cast<int64_t>(serverDay) - kServerDayOf1970, y, m, d);
  return FIBFormatDateTime(FIBFormatSettings().ShortDateFormat, y, m, d, 0, 0, 0, 0);
}

// A stored time is counted in units of 1/10000 second since midnight.
std::string TimeText(uint32_t serverTime) {
  const uint32_t ms = serverTime / 10;
  return FIBFormatDateTime(FIBFormatSettings().LongTimeFormat, 0, 0, 0, ms / 3600000,
                           ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

// A decimal number with the regional mark; blanks around it are allowed.
bool ParseNumber(std::string_view s, char mark, double& out) {
  std::string t = Trim(s);
  if (t.empty()) return false;
  for (char& c : t) {
    if (c == mark) {
      c = '.';
    } else if (c == '.' || !(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' ||
                             c == 'e' || c == 'E')) {
      return false;
    }
  }
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// A date in the regional short date form, optionally followed by a time h:n[:s].
bool ParseDateTime(std::string_view s, const std::string& datePattern, double& out) {
  std::string order;  // the order of d, m and y in the pattern
  for (char c : datePattern) {
    const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos) order += l;
  }
  if (order.size() != 3) order = "mdy";
  const std::string t = Trim(s);
  std::vector<int64_t> parts;
  size_t i = 0;
  while (i < t.size() && parts.size() < 6) {
    if (!std::isdigit(static_cast<unsigned char>(t[i]))) {
      ++i;
      continue;
    }
    int64_t v = 0;
    size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) {
      if (++digits > 9) return false;
      v = v * 10 + (t[i++] - '0');
    }
    parts.push_back(v);
  }
  if (parts.size() < 3 || parts.size() == 4 || i < t.size()) return false;
  int64_t y = 0, m = 0, d = 0;
  for (int k = 0; k < 3; ++k) {
    if (order[k] == 'y') y = parts[k];
    if (order[k] == 'm') m = parts[k];
    if (order[k] == 'd') d = parts[k];
  }
  if (y < 100) y += y < 50 ? 2000 : 1900;
  if (m < 1 || m > 12 || d < 1 || y > 9999) return false;
  int cy, cm, cd;
  CivilFromDays(DaysFromCivil(y, static_cast<int>(m), static_cast<int>(d)), cy, cm, cd);
  if (cd != d) return false;  // 31 February and the like
  double result = static_cast<double>(DaysFromCivil(y, static_cast<int>(m), static_cast<int>(d)) -
                                      DaysFromCivil(1899, 12, 30));
  if (parts.size() >= 5) {
    const int64_t h = parts[3], n = parts[4], sec = parts.size() > 5 ? parts[5] : 0;
    if (h > 23 || n > 59 || sec > 59) return false;
    result += static_cast<double>(h * 3600 + n * 60 + sec) / 86400.0;
  }
  out = result;
  return true;
}

std::string UpperAscii(std::string_view s) { return UpperCase(s); }

bool StatusHolds(const ISC_STATUS* status, ISC_STATUS code) {
  // The vector is a list of (argument kind, value) pairs ended by isc_arg_end.
  for (int i = 0; i + 1 < kStatusVectorLength && status[i] != isc_arg_end; i += 2) {
    if (status[i] == isc_arg_gds && status[i + 1] == code) return true;
    if (status[i] == isc_arg_cstring) ++i;  // this kind carries a length and a pointer
  }
  return false;
}

// Bytes of value 0x20 or less at the end of a text value go with qoTrimCharFields.
std::string TrimTrailing(std::string s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.pop_back();
  return s;
}

}  // namespace

// ---- Text forms ------------------------------------------------------------------

TFIBFormatSettings& FIBFormatSettings() {
  static TFIBFormatSettings settings{platform::RegionalDecimalMark(),
                                     platform::RegionalShortDateFormat(),
                                     platform::RegionalLongTimeFormat()};
  return settings;
}

std::string FIBGeneralNumberText(double value, char decimalMark) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  // 18 significant digits first, then rounded to 15: two roundings, as the
  // figures the terminals have always shown were made.
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 17);
  int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  const bool up = digits[15] >= '5';
  digits.resize(15);
  if (up) {
    int k = 14;
    while (k >= 0 && digits[k] == '9') digits[k--] = '0';
    if (k < 0) {
      digits.insert(digits.begin(), '1');
      digits.resize(15);
      ++exponent;
    } else {
      ++digits[k];
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  const int e = exponent + 1;  // magnitude = 0.d1d2... * 10^e
  const int n = static_cast<int>(digits.size());
  std::string out = value < 0 ? "-" : "";
  if (e >= -3 && e <= 15) {
    if (e <= 0) {
      out += '0';
      out += decimalMark;
      out.append(-e, '0');
      out += digits;
    } else {
      out += digits.substr(0, std::min(e, n));
      if (n < e) out.append(e - n, '0');
      if (n > e) {
        out += decimalMark;
        out += digits.substr(e);
      }
    }
  } else {
    out += digits[0];
    if (n > 1) {
      out += decimalMark;
      out += digits.substr(1);
    }
    out += 'E';
    if (e - 1 < 0) out += '-';
    out += std::to_string(std::abs(e - 1));
  }
  return out;
}

std::string FIBScaledIntegerText(int64_t value, int scale, char decimalMark) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  if (scale >= 0) {
    digits.append(scale, '0');
    return (negative ? "-" : "") + digits;
  }
  const size_t k = static_cast<size_t>(-scale);
  std::string out;
  if (digits.size() > k) {
    out = digits.substr(0, digits.size() - k) + decimalMark + digits.substr(digits.size() - k);
  } else {
    out = std::string("0") + decimalMark + std::string(k - digits.size(), '0') + digits;
  }
  while (out.back() == '0') out.pop_back();
  if (out.back() == decimalMark) out.pop_back();
  return (negative ? "-" : "") + out;
}

std::string FIBFormatDateTime(const std::string& pattern, int year, int month, int day, int hour,
                              int minute, int second, int millisecond) {
  std::string out;
  auto number = [&](int v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    out += s;
  };
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '"' || c == '\'') {
      const size_t close = pattern.find(c, i + 1);
      const size_t end = close == std::string::npos ? pattern.size() : close;
      out.append(pattern, i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t run = 1;
    while (i + run < pattern.size() &&
           std::tolower(static_cast<unsigned char>(pattern[i + run])) == l)
      ++run;
    switch (l) {
      case 'd':
        number(day, run >= 2 ? 2 : 1);
        break;
      case 'm':
        number(month, run >= 2 ? 2 : 1);
        break;
      case 'y':
        if (run <= 2)
          number(year % 100, 2);
        else
          number(year, 4);
        break;
      case 'h':
        number(hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        number(minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        number(second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        number(millisecond, run >= 3 ? 3 : 1);
        break;
      default:
        out.append(run, c);
        break;
    }
    i += run;
  }
  return out;
}

// ---- TFIBXSQLVAR -------------------------------------------------------------------

TFIBXSQLVAR::TFIBXSQLVAR(TFIBXSQLDA* area, int index) : FArea(area), FIndex(index) {}

bool TFIBXSQLVAR::IsColumn() const { return !FArea->IsParams(); }
TFIBQuery* TFIBXSQLVAR::Query() const { return FArea->Query(); }

void TFIBXSQLVAR::Attach(XSQLVAR* slot) { FXSQLVAR = slot; }

void TFIBXSQLVAR::ResizeData(size_t size) {
  FData.resize(size == 0 ? 1 : size);
  FXSQLVAR->sqldata = FData.data();
}

void TFIBXSQLVAR::AllocateIndicator() { FXSQLVAR->sqlind = &FIndicator; }

void TFIBXSQLVAR::FreeIndicator() { FXSQLVAR->sqlind = nullptr; }

void TFIBXSQLVAR::LookupDescription() const {
  if (FDescType != 0 || !FArea->IsParams()) return;
  TFIBQuery* q = Query();
  if (!q || !q->Prepared() || FArea != q->FParams.get()) return;
  if (const TFIBXSQLVAR* s = q->FServerParams->FindOwnName(UpperAscii(FName))) {
    FDescType = s->FDescType;
    FDescSubtype = s->FDescSubtype;
    FDescLength = s->FDescLength;
    FDescScale = s->FDescScale;
  }
}

int TFIBXSQLVAR::DescribedType() const {
  LookupDescription();
  return FDescType;
}

int TFIBXSQLVAR::DescribedScale() const {
  LookupDescription();
  return FDescScale;
}

bool TFIBXSQLVAR::IsNull() const {
  if (FBlobContent) return false;
  if (IsColumn()) {
    const TFIBQuery* q = Query();
    if (q && q->FetchedRows() == 0 && q->SQLType() != SQLExecProcedure) return true;
  }
  if ((FXSQLVAR->sqltype & 1) && FXSQLVAR->sqlind && *FXSQLVAR->sqlind == -1) return true;
  return SQLType() == 0;
}

void TFIBXSQLVAR::SetNullOne() {
  if (SQLType() == 0) {
    FXSQLVAR->sqltype = SQL_TEXT;
    FXSQLVAR->sqllen = 0;
  }
  FXSQLVAR->sqltype |= 1;
  AllocateIndicator();
  FIndicator = -1;
  FBlobContent.reset();
  FModified = true;
}

void TFIBXSQLVAR::SetIsNull(bool value) {
  const std::vector<int>* equal = FArea->IsParams() ? FArea->EqualNames(FName) : nullptr;
  const std::vector<int> one{FIndex};
  for (int i : equal ? *equal : one) {
    TFIBXSQLVAR& v = *FArea->FVars[i];
    if (value)
      v.SetNullOne();
    else if ((v.FXSQLVAR->sqltype & 1) && v.FXSQLVAR->sqlind)
      *v.FXSQLVAR->sqlind = 0;
  }
}

void TFIBXSQLVAR::StoreOne(int type, int length, const void* bytes) {
  if (FXSQLVAR->sqltype & 1) {
    AllocateIndicator();
    FIndicator = 0;
  }
  FXSQLVAR->sqlscale = 0;
  FXSQLVAR->sqllen = static_cast<ISC_SHORT>(length);
  ResizeData(static_cast<size_t>(length));
  FXSQLVAR->sqltype = static_cast<ISC_SHORT>(type | (FXSQLVAR->sqltype & 1));
  if (length > 0) std::memcpy(FData.data(), bytes, static_cast<size_t>(length));
  FBlobContent.reset();
  FModified = true;
  FSetUp = true;
}

void TFIBXSQLVAR::Store(int type, int length, const void* bytes) {
  const std::vector<int>* equal = FArea->IsParams() ? FArea->EqualNames(FName) : nullptr;
  if (!equal) return StoreOne(type, length, bytes);
  for (int i : *equal) FArea->FVars[i]->StoreOne(type, length, bytes);
}

void TFIBXSQLVAR::SetAsInt32(int32_t value) { Store(SQL_LONG, 4, &value); }

void TFIBXSQLVAR::SetAsText(const std::string& value) {
  LookupDescription();
  int d = FDescType;
  if (value.size() > 32767) d = SQL_BLOB;
  if (d == SQL_BLOB) {
    // Written into a new blob at the next execution.
    const std::vector<int>* equal = FArea->IsParams() ? FArea->EqualNames(FName) : nullptr;
    std::vector<int> one{FIndex};
    for (int i : equal ? *equal : one) {
      TFIBXSQLVAR& v = *FArea->FVars[i];
      v.StoreOne(SQL_BLOB, sizeof(ISC_QUAD), "\0\0\0\0\0\0\0\0");
      v.FXSQLVAR->sqlsubtype = static_cast<ISC_SHORT>(FDescSubtype);
      v.FXSQLVAR->sqlscale = FDescScale;
      v.FBlobContent = value;
    }
    if (TFIBQuery* q = Query()) q->FHasBlobParams = true;
    return;
  }
  if (value.empty()) {
    if (IsNumericType(d) || IsDateType(d)) return SetIsNull(true);
    return Store(SQL_TEXT, 0, nullptr);
  }
  if (!IsNumericType(d)) return Store(SQL_TEXT, static_cast<int>(value.size()), value.data());
  // A number typed with a decimal comma reaches the server with a full stop.
  std::string s = value;
  const char mark = FIBFormatSettings().DecimalMark;
  for (char& c : s)
    if (c == ',' || (mark != ',' && mark != '.' && c == mark)) c = '.';
  Store(SQL_TEXT, static_cast<int>(s.size()), s.data());
}

bool TFIBXSQLVAR::TrimChars() const {
  const TFIBQuery* q = Query();
  return q && q->Options().Contains(qoTrimCharFields);
}

std::string TFIBXSQLVAR::TextOfChars() const {
  const char* p = FXSQLVAR->sqldata;
  std::string s;
  if (!p) return s;
  if (SQLType() == SQL_TEXT) {
    s.assign(p, static_cast<size_t>(std::max<int>(FXSQLVAR->sqllen, 0)));
  } else {
    // A length prefix beyond the buffer would read past it: keep to the buffer.
    const size_t len = std::min<size_t>(Read<uint16_t>(p),
                                        static_cast<size_t>(std::max<int>(FXSQLVAR->sqllen, 0)));
    s.assign(p + 2, len);
  }
  return TrimChars() ? TrimTrailing(std::move(s)) : s;
}

std::string TFIBXSQLVAR::BlobText() const {
  static const std::string kBlob = "(BLOB)";
  TFIBQuery* q = Query();
  if (!q || !q->Database() || !q->Database()->ClientLibrary() || !q->Transaction()) return kBlob;
  IIBClientLibrary& lib = *q->Database()->ClientLibrary();
  ISC_STATUS* status = StatusVector();
  isc_blob_handle blob = 0;
  ISC_QUAD id = Read<ISC_QUAD>(FXSQLVAR->sqldata);
  if (lib.isc_open_blob2(status, q->Database()->Handle(), q->Transaction()->Handle(), &blob, &id, 0,
                         nullptr) != 0)
    return kBlob;
  std::string out;
  char buffer[16384];
  for (;;) {
    unsigned short got = 0;
    const ISC_STATUS st = lib.isc_get_segment(status, &blob, &got, sizeof buffer, buffer);
    if (st == 0 || st == isc_segment) {
      out.append(buffer, got);
    } else if (st == isc_segstr_eof) {
      break;
    } else {
      lib.isc_close_blob(status, &blob);
      return kBlob;
    }
  }
  lib.isc_close_blob(status, &blob);
  return TrimChars() ? TrimTrailing(std::move(out)) : out;
}

std::string TFIBXSQLVAR::AsText() const {
  if (FBlobContent) return *FBlobContent;
  if (IsNull()) return "";
  const char* p = FXSQLVAR->sqldata;
  const int scale = FXSQLVAR->sqlscale;
  const char mark = FIBFormatSettings().DecimalMark;
  switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING:
      return TextOfChars();
    case SQL_SHORT:
      return scale == 0 ? IntToStr(Read<int16_t>(p)) : FIBGeneralNumberText(NumberValue(), mark);
    case SQL_LONG:
      return scale == 0 ? IntToStr(Read<int32_t>(p)) : FIBGeneralNumberText(NumberValue(), mark);
    case SQL_INT64:
      return scale == 0 ? IntToStr(Read<int64_t>(p))
                        : FIBScaledIntegerText(Read<int64_t>(p), scale, mark);
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return FIBGeneralNumberText(NumberValue(), mark);
    case SQL_TIMESTAMP: {
      const ISC_TIMESTAMP ts = Read<ISC_TIMESTAMP>(p);
      std::string s = DateText(ts.timestamp_date);
      if (ts.timestamp_time / 10 != 0) s += " " + TimeText(ts.timestamp_time);
      return s;
    }
    case SQL_TYPE_DATE:
      return DateText(Read<ISC_DATE>(p));
    case SQL_TYPE_TIME:
      return TimeText(Read<ISC_TIME>(p));
    case SQL_BLOB:
      return IsColumn() ? BlobText() : "(BLOB)";
    case SQL_ARRAY:
      return "(ARRAY)";
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
      return static_cast<unsigned char>(p[0]) == 1 ? "True" : "False";
    default:
      InvalidConversion();
  }
}

double TFIBXSQLVAR::NumberValue() const {
  if (IsNull()) return 0;
  const char* p = FXSQLVAR->sqldata;
  switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
      double v = 0;
      if (!ParseNumber(TextOfChars(), FIBFormatSettings().DecimalMark, v)) InvalidConversion();
      return v;
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return Read<double>(p);
    case SQL_FLOAT:
      return Read<float>(p);
    case SQL_SHORT:
      return Scaled(Read<int16_t>(p), FXSQLVAR->sqlscale);
    case SQL_LONG:
      return Scaled(Read<int32_t>(p), FXSQLVAR->sqlscale);
    case SQL_INT64:
      return Scaled(Read<int64_t>(p), FXSQLVAR->sqlscale);
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
      return static_cast<unsigned char>(p[0]) == 1 ? 1.0 : 0.0;
    default:
      InvalidConversion();
  }
}

double TFIBXSQLVAR::AsReal() const { return NumberValue(); }

int32_t TFIBXSQLVAR::AsInt32() const {
  if (IsNull()) return 0;
  const char* p = FXSQLVAR->sqldata;
  int64_t v = 0;
  switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
      int32_t i;
      if (!TryStrToInt(Trim(TextOfChars()), i)) InvalidConversion();
      return i;
    }
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT: {
      const double d = std::trunc(NumberValue());
      if (!(d >= -2147483648.0 && d <= 2147483647.0)) InvalidConversion();
      return static_cast<int32_t>(d);
    }
    case SQL_SHORT:
      v = Read<int16_t>(p);
      break;
    case SQL_LONG:
      v = Read<int32_t>(p);
      break;
    case SQL_INT64:
      v = Read<int64_t>(p);
      break;
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
      return static_cast<unsigned char>(p[0]);
    default:
      InvalidConversion();
  }
  // Scaled integers are divided exactly: a power of ten held as a double is
  // slightly off and would let 1.000000 truncate to 0.
  const int scale = FXSQLVAR->sqlscale;
  if (scale < -18 || scale > 18) InvalidConversion();
  for (int k = 0; k < -scale; ++k) v /= 10;
  for (int k = 0; k < scale; ++k) {
    if (v > INT32_MAX || v < INT32_MIN) break;
    v *= 10;
  }
  if (v > INT32_MAX || v < INT32_MIN) InvalidConversion();
  return static_cast<int32_t>(v);
}

double TFIBXSQLVAR::DateTimeValue() const {
  if (IsNull()) return 0;
  const char* p = FXSQLVAR->sqldata;
  switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
      double v = 0;
      if (!ParseDateTime(TextOfChars(), FIBFormatSettings().ShortDateFormat, v))
        InvalidConversion();
      return v;
    }
    case SQL_TIMESTAMP: {
      const ISC_TIMESTAMP ts = Read<ISC_TIMESTAMP>(p);
      return (static_cast<double>(ts.timestamp_date) - kServerDayOf1899) +
             static_cast<double>(ts.timestamp_time / 10) / 86400000.0;
    }
    case SQL_TYPE_DATE:
      return static_cast<double>(Read<ISC_DATE>(p)) - kServerDayOf1899;
    case SQL_TYPE_TIME:
      return static_cast<double>(Read<ISC_TIME>(p)) / 864000000.0;
    default:
      InvalidConversion();
  }
}

void TFIBXSQLVAR::CopyValueFrom(const TFIBXSQLVAR& other) {
  const XSQLVAR& o = *other.FXSQLVAR;
  FXSQLVAR->sqltype = o.sqltype;
  FXSQLVAR->sqlscale = o.sqlscale;
  FXSQLVAR->sqlsubtype = o.sqlsubtype;
  FXSQLVAR->sqllen = o.sqllen;
  FData = other.FData;
  FXSQLVAR->sqldata = FData.empty() ? nullptr : FData.data();
  if (o.sqlind) {
    AllocateIndicator();
    FIndicator = *o.sqlind;
  } else {
    FreeIndicator();
  }
  FBlobContent = other.FBlobContent;
  FModified = other.FModified;
  FSetUp = other.FSetUp;
}

void TFIBXSQLVAR::SetupFromSlot() {
  const int type = FXSQLVAR->sqltype & ~1;
  FDescType = type;
  FDescSubtype = FXSQLVAR->sqlsubtype;
  FDescLength = FXSQLVAR->sqllen;
  FDescScale = FXSQLVAR->sqlscale;
  FSetUp = true;
  const size_t size = BufferSize(type, FXSQLVAR->sqllen);
  FData.assign(size == 0 ? 1 : size, 0);
  FXSQLVAR->sqldata = FData.data();
  if (FXSQLVAR->sqltype & 1) {
    AllocateIndicator();
    FIndicator = 0;
  } else {
    FreeIndicator();
  }
}

// ---- TFIBXSQLDA --------------------------------------------------------------------

TFIBXSQLDA::TFIBXSQLDA(TFIBQuery* query, bool isParams) : FQuery(query), FIsParams(isParams) {}

TFIBXSQLDA::~TFIBXSQLDA() { std::free(FXSQLDA); }

void TFIBXSQLDA::SetCount(int n) {
  FNames.clear();
  FCachedNames.clear();
  if (n > FSize) {
    const size_t oldBytes = FSize > 0 ? XSQLDA_LENGTH(FSize) : 0;
    const size_t bytes = XSQLDA_LENGTH(n);
    void* block = std::realloc(FXSQLDA, bytes);
    if (!block) throw std::bad_alloc();
    std::memset(static_cast<char*>(block) + oldBytes, 0, bytes - oldBytes);
    FXSQLDA = static_cast<XSQLDA*>(block);
    FXSQLDA->version = SQLDA_VERSION1;
    for (int i = FSize; i < n; ++i) FVars.push_back(std::make_unique<TFIBXSQLVAR>(this, i));
    FSize = n;
    // The block may have moved.
    for (int i = 0; i < n; ++i) FVars[i]->Attach(&FXSQLDA->sqlvar[i]);
  }
  FCount = n;
  if (FXSQLDA) FXSQLDA->sqln = FXSQLDA->sqld = static_cast<ISC_SHORT>(n);
}

TFIBXSQLVAR& TFIBXSQLDA::operator[](int index) const {
  if (index < 0 || index >= FCount) RaiseClientError(fbceXSQLDAIndexOutOfRange);
  return *FVars[index];
}

void TFIBXSQLDA::AddName(const std::string& name, int index) {
  FCachedNames.clear();
  FNames[UpperAscii(name)].push_back(index);
}

TFIBXSQLVAR* TFIBXSQLDA::FindOwnName(const std::string& key) const {
  const auto it = FNames.find(key);
  return it == FNames.end() ? nullptr : FVars[it->second.front()].get();
}

const std::vector<int>* TFIBXSQLDA::EqualNames(const std::string& name) const {
  const auto it = FNames.find(UpperAscii(name));
  return it != FNames.end() && it->second.size() > 1 ? &it->second : nullptr;
}

TFIBXSQLVAR* TFIBXSQLDA::ByName(const std::string& name) const {
  for (const auto& [asked, v] : FCachedNames)
    if (asked == name) return v;
  const std::string key = UpperAscii(name);
  if (TFIBXSQLVAR* v = FindOwnName(key)) {
    FCachedNames.emplace_back(name, v);
    return v;
  }
  if (FQuery && this == FQuery->FParams.get()) return FQuery->FServerParams->FindOwnName(key);
  return nullptr;
}

void TFIBXSQLDA::Setup() {
  const bool nameThem = FNames.empty();
  int unnamed = 0;
  for (int i = 0; i < FCount; ++i) {
    TFIBXSQLVAR& v = *FVars[i];
    XSQLVAR& slot = *v.FXSQLVAR;
    if (nameThem) {
      const size_t maxLen = std::min<size_t>(std::max<int>(slot.aliasname_length, 0), 32);
      std::string name(slot.aliasname, strnlen(slot.aliasname, maxLen));
      bool changed = false;
      if (name.empty()) {
        name = "F_" + std::to_string(++unnamed);
        changed = true;
      }
      if (FindOwnName(UpperAscii(name))) {
        for (int k = 1;; ++k) {
          const std::string counter = std::to_string(k);
          std::string candidate = name + counter;
          if (candidate.size() >= 31) candidate = name.substr(0, 32 - counter.size()) + counter;
          if (!FindOwnName(UpperAscii(candidate))) {
            name = candidate;
            break;
          }
        }
        changed = true;
      }
      if (changed) {
        const size_t len = std::min<size_t>(name.size(), sizeof slot.aliasname);
        std::memset(slot.aliasname, 0, sizeof slot.aliasname);
        std::memcpy(slot.aliasname, name.data(), len);
        slot.aliasname_length = static_cast<ISC_SHORT>(len);
      }
      v.FName = name;
      AddName(name, i);
    }
    v.SetupFromSlot();
  }
}

// ---- TFIBQuery: lines ----------------------------------------------------------------

void TFIBQuery::TSQLLines::Clear() {
  if (FLines.Empty()) return;
  FQuery.BeforeSQLChange();
  FLines.Clear();
  FQuery.AfterSQLChange();
}

void TFIBQuery::TSQLLines::Add(const std::string& line) {
  FQuery.BeforeSQLChange();
  FLines.Add(line);
  FQuery.AfterSQLChange();
}

void TFIBQuery::TSQLLines::SetText(const std::string& text) {
  FQuery.BeforeSQLChange();
  FLines.SetText(text);
  FQuery.AfterSQLChange();
}

// ---- TFIBQuery -------------------------------------------------------------------------

TFIBQuery::TFIBQuery(TComponent* owner)
    : TComponent(owner),
      FParams(std::make_unique<TFIBXSQLDA>(this, true)),
      FServerParams(std::make_unique<TFIBXSQLDA>(this, true)),
      FColumns(std::make_unique<TFIBXSQLDA>(this, false)) {
  FBase.OnNotice = [this](TFIBNotice notice) { OnNotice(notice); };
  InstallServerClockQuery();
}

TFIBQuery::~TFIBQuery() {
  try {
    if (FOpen) CloseResult();
  } catch (...) {
  }
  try {
    if (FHandle) DropHandle();
  } catch (...) {
  }
  FBase.OnNotice = nullptr;
}

void TFIBQuery::SetDatabase(TFIBDatabase* database) {
  if (database == Database()) return;
  // A handle belongs to the attachment it was made on.
  if (FHandle) {
    try {
      if (FOpen) CloseResult();
      DropHandle();
    } catch (...) {
      FHandle = 0;
      FPrepared = false;
      FOpen = false;
    }
  }
  FBase.SetDatabase(database);
}

void TFIBQuery::SetTransaction(TFIBTransaction* transaction) { FBase.SetTransaction(transaction); }

IIBClientLibrary& TFIBQuery::Library() const {
  if (!Database()) RaiseClientError(fbceDatabaseNotAssigned, {FullName()});
  IIBClientLibrary* lib = Database()->ClientLibrary();
  if (!lib) RaiseClientError(fbceDatabaseClosed, {Database()->FullName()});
  return *lib;
}

ISC_STATUS TFIBQuery::Check(ISC_STATUS status, bool raise) {
  if (TFIBTransaction* t = Transaction()) t->CheckStatus(status, false);
  if (raise && status > 0) RaiseServerError(Library(), this);
  return status;
}

void TFIBQuery::OnNotice(TFIBNotice notice) {
  switch (notice) {
    case fnTransactionEnding: {
      const TFIBTransaction* t = Transaction();
      if (t && FOpen &&
          (t->TransactionState() == tsDoRollback || t->TransactionState() == tsDoCommit))
        CloseResult();
      break;
    }
    case fnDatabaseDisconnecting:
      if (FHandle) {
        CloseResult();
        DropHandle();
      }
      break;
    case fnDatabaseFree:
      // The attachment is gone and its statement handles with it.
      FBase.SetTransaction(nullptr);
      FHandle = 0;
      FPrepared = false;
      FOpen = false;
      break;
    default:
      break;
  }
}

// ---- SQL changes -------------------------------------------------------------------------

void TFIBQuery::BeforeSQLChange() {
  if (FOpen) RaiseClientError(fbceSQLOpen, {"change sql text", FullName()});
  if (OnSQLChanging) OnSQLChanging(*this);
  if (FHandle) DropHandle();
}

void TFIBQuery::AfterSQLChange() {
  FKind = StatementKindOf(FSQL.Text());
  FParamCheckInForce = FParamCheck;
  FParamsScanned = false;
  FPrepared = false;
  ScanCallerParams();
  DropHandle();
}

void TFIBQuery::ScanCallerParams() {
  const std::string text = FSQL.Text();
  if (FParamCheckInForce && FSQL.Count() > 0 && HasParamMarker(text)) {
    TScanResult scan = ScanParams(text, FKind, smCaller, FullName());
    FParams = BuildParamArea(scan, *FParams);
    if (FParams->Count() > 0) {
      FServerText.clear();  // built at preparation
    } else {
      FServerParams->SetCount(0);
      FServerText = text;
    }
  } else {
    FParams->SetCount(0);
    FServerParams->SetCount(0);
    FServerText = text;
  }
  FParamsScanned = true;
}

std::unique_ptr<TFIBXSQLDA> TFIBQuery::BuildParamArea(const TScanResult& scan,
                                                      const TFIBXSQLDA& old) {
  auto area = std::make_unique<TFIBXSQLDA>(this, true);
  area->SetCount(static_cast<int>(scan.Params.size()));
  for (int i = 0; i < area->Count(); ++i) {
    const TParamRef& ref = scan.Params[i];
    TFIBXSQLVAR& v = *area->FVars[i];
    v.FName = ref.Quoted ? ref.Name : UpperAscii(ref.Name);
    area->AddName(v.FName, i);
    // A value assigned before the change survives it.
    const TFIBXSQLVAR* previous = old.FindOwnName(UpperAscii(v.FName));
    if (previous && previous->SQLType() != SQL_BLOB) v.CopyValueFrom(*previous);
  }
  return area;
}

// ---- Preparation -------------------------------------------------------------------------

void TFIBQuery::StartTransactionIfAsked() {
  TFIBTransaction* t = Transaction();
  if (FOptions.Contains(qoStartTransaction) && t && !t->Active()) t->StartTransaction();
}

void TFIBQuery::Prepare() {
  if (FOpen) CloseResult();
  FBase.CheckDatabase();
  StartTransactionIfAsked();
  FBase.CheckTransaction();
  // A text whose scan failed is scanned again, so its error repeats here rather
  // than the statement running with the parameters of an older text.
  if (FParamCheckInForce && (!FParamsScanned || FParams->Count() > 0)) {
    if (!FParamsScanned) ScanCallerParams();
    if (FParams->Count() > 0 && !FPrepared) {
      TScanResult scan = ScanParams(FSQL.Text(), FKind, smServer, FullName());
      FServerParams = BuildParamArea(scan, *FServerParams);
      FServerText = std::move(scan.ServerText);
      DropHandle();
    }
  }
  if (FPrepared) return;
  if (Trim(FServerText).empty()) RaiseClientError(fbceEmptyQuery, {"Prepare"});
  try {
    DoPrepare();
  } catch (...) {
    try {
      if (FHandle) DropHandle();
    } catch (...) {
      FHandle = 0;
    }
    FPrepared = false;
    throw;
  }
}

void TFIBQuery::DoPrepare() {
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());

  Check(lib.isc_dsql_alloc_statement2(status, FBase.DBHandle(), &FHandle), true);
  FColumns->SetCount(1);
  Check(lib.isc_dsql_prepare(status, FBase.TRHandle(), &FHandle, 0, FServerText.c_str(), dialect,
                             FColumns->AsXSQLDA()),
        true);

  char item = isc_info_sql_stmt_type;
  char info[8] = {};
  Check(lib.isc_dsql_sql_info(status, &FHandle, 1, &item, sizeof info, info), true);
  if (info[0] != isc_info_sql_stmt_type) RaiseClientError(fbceUnknownError);
  const int length = static_cast<int>(lib.isc_vax_integer(info + 1, 2));
  if (length < 0 || length > 4) RaiseClientError(fbceUnknownError);
  FSQLType = static_cast<TFIBSQLTypes>(lib.isc_vax_integer(info + 3, static_cast<short>(length)));

  if (FSQLType == SQLSelectForUpdate) {
    if (FCursorName.empty()) {
      static uint32_t counter = 0;
      char name[16];
      std::snprintf(name, sizeof name, "%010u",
                    static_cast<unsigned>(platform::TickCount() + ++counter) % 1000000000u);
      FCursorName = name;
    }
    Check(lib.isc_dsql_set_cursor_name(status, &FHandle, FCursorName.c_str(), 0), true);
  }

  switch (FSQLType) {
    case SQLSelect:
    case SQLInsert:
    case SQLUpdate:
    case SQLDelete:
    case SQLExecProcedure:
    case SQLSelectForUpdate: {
      if (FParams->AsXSQLDA() && FServerParams->AsXSQLDA()) {
        if (Check(lib.isc_dsql_describe_bind(status, &FHandle, dialect, FServerParams->AsXSQLDA()),
                  false) > 0)
          RaiseServerError(lib, this);
        ReconcileParams();
      }
      FServerParams->Setup();
      if (FSQLType == SQLSelect || FSQLType == SQLExecProcedure || FSQLType == SQLSelectForUpdate) {
        const XSQLDA* described = FColumns->AsXSQLDA();
        if (described->sqld > described->sqln) {
          FColumns->SetCount(described->sqld);
          Check(lib.isc_dsql_describe(status, &FHandle, dialect, FColumns->AsXSQLDA()), true);
        } else if (described->sqld == 0) {
          FColumns->SetCount(0);
        }
        FColumns->Setup();
      } else {
        FColumns->SetCount(0);
      }
      FPrepared = true;
      break;
    }
    case SQLGetSegment:
    case SQLPutSegment:
    case SQLStartTransaction:
      DropHandle();
      RaiseClientError(fbceNotPermitted);
    default:
      FPrepared = true;
      break;
  }
}

void TFIBQuery::ReconcileParams() {
  const int n = std::min(FParams->Count(), FServerParams->Count());
  for (int i = 0; i < n; ++i) {
    TFIBXSQLVAR& p = *FParams->FVars[i];
    const XSQLVAR& s = *FServerParams->FVars[i]->FXSQLVAR;
    const int described = s.sqltype & ~1;
    XSQLVAR& slot = *p.FXSQLVAR;
    if (p.IsNull()) {
      // An unassigned or NULL parameter takes the declared type and stays NULL.
      slot.sqltype = static_cast<ISC_SHORT>(described | 1);
      slot.sqlscale = s.sqlscale;
      slot.sqlsubtype = s.sqlsubtype;
      slot.sqllen = s.sqllen;
      const size_t size = BufferSize(described, s.sqllen);
      p.FData.assign(size == 0 ? 1 : size, 0);
      slot.sqldata = p.FData.data();
      p.AllocateIndicator();
      p.FIndicator = -1;
    } else if ((described == SQL_BLOB || described == SQL_ARRAY) && p.SQLType() != SQL_BLOB &&
               p.SQLType() != SQL_ARRAY) {
      const std::string text = p.SQLType() == SQL_TEXT
                                   ? std::string(slot.sqldata, std::max<int>(slot.sqllen, 0))
                                   : p.AsText();
      p.FDescType = described;
      p.FDescSubtype = s.sqlsubtype;
      p.FDescLength = s.sqllen;
      p.FDescScale = s.sqlscale;
      slot.sqltype = static_cast<ISC_SHORT>(described | (slot.sqltype & 1));
      slot.sqlscale = s.sqlscale;
      slot.sqlsubtype = s.sqlsubtype;
      p.SetAsText(text);
    }
  }
}

// ---- Execution ----------------------------------------------------------------------------

void TFIBQuery::ResetColumns() {
  for (int i = 0; i < FColumns->Count(); ++i) {
    TFIBXSQLVAR& v = *FColumns->FVars[i];
    const bool nullable = v.FXSQLVAR->sqltype & 1;
    v.SetNullOne();
    if (!nullable) {
      v.FXSQLVAR->sqltype &= ~1;
      v.FreeIndicator();
    }
  }
}

void TFIBQuery::WriteBlobParams() {
  if (!FHasBlobParams) return;
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  for (int i = 0; i < FParams->Count(); ++i) {
    TFIBXSQLVAR& v = *FParams->FVars[i];
    if (!v.FBlobContent) continue;
    isc_blob_handle blob = 0;
    ISC_QUAD id{};
    Check(lib.isc_create_blob2(status, FBase.DBHandle(), FBase.TRHandle(), &blob, &id, 0, nullptr),
          true);
    const std::string& content = *v.FBlobContent;
    for (size_t at = 0; at < content.size(); at += 32768) {
      const size_t chunk = std::min<size_t>(32768, content.size() - at);
      if (Check(lib.isc_put_segment(status, &blob, static_cast<unsigned short>(chunk),
                                    content.data() + at),
                false) > 0) {
        EFIBInterBaseError error = ServerError(lib, this);
        lib.isc_close_blob(status, &blob);
        throw error;
      }
    }
    Check(lib.isc_close_blob(status, &blob), true);
    std::memcpy(v.FXSQLVAR->sqldata, &id, sizeof id);
  }
}

void TFIBQuery::ExecuteImmediate() {
  if (BeforeExecute) BeforeExecute(*this);
  StartTransactionIfAsked();
  if (!Transaction()) RaiseClientError(fbceTransactionNotAssigned, {FullName()});
  FBase.CheckDatabase();
  FBase.CheckTransaction();
  ResetColumns();
  Transaction()->SQLExecuteHook(this, true);
  IIBClientLibrary& lib = Library();
  const std::string text = FSQL.Text();
  Check(lib.isc_dsql_execute_immediate(StatusVector(), FBase.DBHandle(), FBase.TRHandle(), 0,
                                       text.c_str(),
                                       static_cast<unsigned short>(Database()->SQLDialect()),
                                       FParams->Count() > 0 ? FParams->AsXSQLDA() : nullptr),
        true);
}

void TFIBQuery::ExecQuery() {
  if (FKind == skDDL) {
    ExecuteImmediate();
  } else {
    if (BeforeExecute) BeforeExecute(*this);
    StartTransactionIfAsked();
    if (!Transaction()) RaiseClientError(fbceTransactionNotAssigned, {FullName()});
    ResetColumns();
    Transaction()->SQLExecuteHook(this, true);
    if ((FParamCheckInForce && (FParams->Count() > 0 || !FParamsScanned)) || !FPrepared) Prepare();

    WriteBlobParams();
    IIBClientLibrary& lib = Library();
    ISC_STATUS* status = StatusVector();
    const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());
    XSQLDA* input = FParams->Count() > 0 ? FParams->AsXSQLDA() : nullptr;
    switch (FSQLType) {
      case SQLSelect:
      case SQLSelectForUpdate:
        if (FOpen) CloseResult();
        Check(lib.isc_dsql_execute(status, FBase.TRHandle(), &FHandle, dialect, input), true);
        FOpen = true;
        FEOF = false;
        FRecordCount = 0;
        ResetColumns();
        if (FGoToFirstRecordOnExecute) FetchNext();
        break;
      case SQLExecProcedure: {
        XSQLDA* output = FColumns->Count() > 0 ? FColumns->AsXSQLDA() : nullptr;
        if (Check(lib.isc_dsql_execute2(status, FBase.TRHandle(), &FHandle, dialect, input, output),
                  false) != 0)
          RaiseServerError(lib, this);
        FProcExecuted = true;
        break;
      }
      case SQLCommit:
        Transaction()->Commit();
        break;
      case SQLRollback:
        Transaction()->Rollback();
        break;
      default:
        Check(lib.isc_dsql_execute(status, FBase.TRHandle(), &FHandle, dialect, input), true);
        break;
    }
  }

  if (AfterExecute) AfterExecute(*this);
  if (TFIBTransaction* t = Transaction()) t->SQLExecuteHook(this, false);
  for (int i = 0; i < FParams->Count(); ++i) {
    FParams->FVars[i]->FModified = false;
    FParams->FVars[i]->FBlobContent.reset();
  }
  FHasBlobParams = false;
  if (FOptions.Contains(qoAutoCommit) && Transaction() && Transaction()->Active()) {
    if (Transaction()->TimeoutAction() == TACommitRetaining)
      Transaction()->CommitRetaining();
    else
      Transaction()->Commit();
  }
  if (!FOpen && FOptions.Contains(qoFreeHandleAfterExecute)) DropHandle();
}

// ---- Rows ------------------------------------------------------------------------------------

TFIBXSQLDA* TFIBQuery::FetchNext() {
  if (FEOF) return nullptr;
  if (!FOpen) RaiseClientError(fbceSQLClosed, {"fetch next record", FullName()});
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const ISC_STATUS result = Check(
      lib.isc_dsql_fetch(status, &FHandle, static_cast<unsigned short>(Database()->SQLDialect()),
                         FColumns->AsXSQLDA()),
      false);
  if (result == 0) {
    ++FRecordCount;
    return FColumns.get();
  }
  if (result == 100 || StatusHolds(status, isc_dsql_cursor_err)) {
    FEOF = true;
    if (FOptions.Contains(qoFreeHandleAfterExecute)) CloseResult();
    return nullptr;
  }
  // Closing overwrites the status vector: compose the error first.
  EFIBInterBaseError error = ServerError(lib, this);
  try {
    CloseResult();
  } catch (...) {
  }
  throw error;
}

void TFIBQuery::CloseResult() {
  std::optional<EFIBInterBaseError> error;
  if (FHandle && FOpen && (FSQLType == SQLSelect || FSQLType == SQLSelectForUpdate) && Database() &&
      Database()->ClientLibrary()) {
    IIBClientLibrary& lib = *Database()->ClientLibrary();
    ISC_STATUS* status = StatusVector();
    if (Check(lib.isc_dsql_free_statement(status, &FHandle, DSQL_close), false) > 0 &&
        !StatusHolds(status, isc_bad_stmt_handle) &&
        !StatusHolds(status, isc_dsql_cursor_close_err))
      error.emplace(ServerError(lib, this));
  }
  FOpen = false;
  FEOF = false;
  FProcExecuted = false;
  if (FOptions.Contains(qoFreeHandleAfterExecute)) {
    try {
      DropHandle();
    } catch (...) {
      if (!error) throw;
    }
  }
  if (error) throw *error;
}

void TFIBQuery::DropHandle() {
  std::optional<EFIBInterBaseError> error;
  FColumns->SetCount(0);
  if (FHandle) {
    if (Database() && Database()->ClientLibrary()) {
      IIBClientLibrary& lib = *Database()->ClientLibrary();
      ISC_STATUS* status = StatusVector();
      if (Check(lib.isc_dsql_free_statement(status, &FHandle, DSQL_drop), false) > 0 &&
          !StatusHolds(status, isc_bad_stmt_handle))
        error.emplace(ServerError(lib, this));
    }
    FEOF = true;
  }
  // Without a handle no result can be open.
  FOpen = false;
  FPrepared = false;
  FHandle = 0;
  if (error) throw *error;
}

// ---- Lookup ------------------------------------------------------------------------------------

TFIBXSQLVAR& TFIBQuery::ColumnNamed(const std::string& name) {
  if (TFIBXSQLVAR* v = FColumns->ByName(name)) return *v;
  RaiseClientError(fbceFieldNotFound, {name});
}

TFIBXSQLVAR& TFIBQuery::ParamNamed(const std::string& name) {
  if (!FParamsScanned) ScanCallerParams();
  if (TFIBXSQLVAR* v = FParams->ByName(name)) return *v;
  // Output values of a procedure answer to their names too.
  if (StartsText("EXECUTE ", TrimLeft(FSQL.Text()))) return ColumnNamed(name);
  throw Exception(Format("Parameter \"%s\" does not exist in %s", {name, FullName()}));
}

// ---- Server clock ------------------------------------------------------------------------------

void InstallServerClockQuery() {
  if (TFIBDatabase::ServerClockQuery) return;
  TFIBDatabase::ServerClockQuery = [](TFIBDatabase& database, TFIBTransaction& transaction,
                                      const std::string& sql) {
    TFIBQuery query;
    query.SetDatabase(&database);
    query.SetTransaction(&transaction);
    query.SQL().Add(sql);
    query.ExecQuery();
    const double now = query.ColumnArea().Count() > 0 ? query.ColumnArea()[0].DateTimeValue() : 0;
    query.CloseResult();
    return now;
  };
}
