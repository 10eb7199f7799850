#include <algorithm>
#include <cmath>
#include <cstring>

#include "fb/FIBInternal.h"
#include "fb/FIBQuery.h"
#include "fb/fib.h"
#include "runtime/Text.h"

namespace {

// The most bytes a value of type text carries (its length is a 16-bit signed count).
constexpr size_t kMaxTextValue = 32767;

[[noreturn]] void InvalidConversion() { RaiseClientError(fbceInvalidDataConversion); }

// A value read from text by parse(text, value); client message 33 where it fails.
template <class Parse>
double ParsedText(const std::string& text, Parse parse) {
  double value = 0;
  if (!parse(text, value)) InvalidConversion();
  return value;
}

bool IsNumericType(int t) {
  return t == SQL_DOUBLE || t == SQL_FLOAT || t == SQL_LONG || t == SQL_SHORT || t == SQL_D_FLOAT ||
         t == SQL_INT64;
}
bool IsDateType(int t) { return t == SQL_TIMESTAMP || t == SQL_TYPE_TIME || t == SQL_TYPE_DATE; }

// Bytes of value 0x20 or less at the end of a text value go with qoTrimCharFields.
std::string TrimTrailing(std::string s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.pop_back();
  return s;
}

}  // namespace

size_t FIBBufferSize(int type, int length) {
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

// ---- TFIBXSQLVAR -------------------------------------------------------------------

TFIBXSQLVAR::TFIBXSQLVAR(TFIBXSQLDA* area, int index) : FArea(area), FIndex(index) {}

bool TFIBXSQLVAR::IsColumn() const { return !FArea->IsParams(); }
TFIBQuery* TFIBXSQLVAR::Query() const { return FArea->Query(); }

void TFIBXSQLVAR::Attach(TFIBSlot* slot) { FSlot = slot; }

void TFIBXSQLVAR::ResizeData(size_t size) {
  FData.resize(size == 0 ? 1 : size);
  Data()->sqldata = FData.data();
}

void TFIBXSQLVAR::AllocateIndicator() { Data()->sqlind = &FIndicator; }

void TFIBXSQLVAR::FreeIndicator() { Data()->sqlind = nullptr; }

void TFIBXSQLVAR::LookupDescription() const {
  if (FDescType != 0 || !FArea->IsParams()) return;
  TFIBQuery* q = Query();
  if (!q || !q->Prepared() || FArea != &q->ParamArea()) return;
  if (const TFIBXSQLVAR* s = q->ServerParamArea().FindOwnName(UpperCase(FName))) {
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
  if ((Data()->sqltype & 1) && Data()->sqlind && *Data()->sqlind == -1) return true;
  return SQLType() == 0;
}

void TFIBXSQLVAR::SetNullOne() {
  if (SQLType() == 0) {
    Data()->sqltype = SQL_TEXT;
    Data()->sqllen = 0;
  }
  Data()->sqltype |= 1;
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
    else if ((v.Data()->sqltype & 1) && v.Data()->sqlind)
      *v.Data()->sqlind = 0;
  }
}

void TFIBXSQLVAR::StoreOne(int type, int length, const void* bytes) {
  if (Data()->sqltype & 1) {
    AllocateIndicator();
    FIndicator = 0;
  }
  Data()->sqlscale = 0;
  Data()->sqllen = static_cast<ISC_SHORT>(length);
  ResizeData(static_cast<size_t>(length));
  Data()->sqltype = static_cast<ISC_SHORT>(type | (Data()->sqltype & 1));
  if (length > 0) std::memcpy(FData.data(), bytes, static_cast<size_t>(length));
  FBlobContent.reset();
  FModified = true;
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
  // Longer text than a parameter of type text can carry goes as a blob.
  if (value.size() > kMaxTextValue) d = SQL_BLOB;
  if (d == SQL_BLOB) {
    // Written into a new blob at the next execution.
    const std::vector<int>* equal = FArea->IsParams() ? FArea->EqualNames(FName) : nullptr;
    std::vector<int> one{FIndex};
    for (int i : equal ? *equal : one) {
      TFIBXSQLVAR& v = *FArea->FVars[i];
      v.StoreOne(SQL_BLOB, sizeof(ISC_QUAD), "\0\0\0\0\0\0\0\0");
      v.Data()->sqlsubtype = static_cast<ISC_SHORT>(FDescSubtype);
      v.Data()->sqlscale = FDescScale;
      v.FBlobContent = value;
    }
    return;
  }
  if (value.empty()) {
    if (IsNumericType(d) || IsDateType(d)) return SetIsNull(true);
    return Store(SQL_TEXT, 0, nullptr);
  }
  if (!IsNumericType(d)) return Store(SQL_TEXT, static_cast<int>(value.size()), value.data());
  // A number typed with a decimal comma reaches the server with a full stop.
  std::string s = value;
  const char mark = FormatSettings().DecimalMark;
  for (char& c : s)
    if (c == ',' || (mark != ',' && mark != '.' && c == mark)) c = '.';
  Store(SQL_TEXT, static_cast<int>(s.size()), s.data());
}

const TFIBFormatSettings& TFIBXSQLVAR::FormatSettings() const {
  const TFIBQuery* q = Query();
  if (q && q->Database()) return q->Database()->FormatSettings();
  return FArea->FFormat ? *FArea->FFormat : HostFormatSettings();
}

bool TFIBXSQLVAR::TrimChars() const {
  const TFIBQuery* q = Query();
  return q && q->Options().Contains(qoTrimCharFields);
}

std::string TFIBXSQLVAR::TextOfChars() const {
  const char* p = Data()->sqldata;
  std::string s;
  if (!p) return s;
  if (SQLType() == SQL_TEXT) {
    s.assign(p, static_cast<size_t>(std::max<int>(Data()->sqllen, 0)));
  } else {
    // A length prefix beyond the buffer would read past it: keep to the buffer.
    const size_t len = std::min<size_t>(FIBRead<uint16_t>(p),
                                        static_cast<size_t>(std::max<int>(Data()->sqllen, 0)));
    s.assign(p + 2, len);
  }
  return TrimChars() ? TrimTrailing(std::move(s)) : s;
}

std::string TFIBXSQLVAR::AsText() const {
  if (FBlobContent) return *FBlobContent;
  if (IsNull()) return "";
  const char* p = Data()->sqldata;
  const int scale = Data()->sqlscale;
  // The regional forms are looked up only by the types that use them.
  const auto mark = [this] { return FormatSettings().DecimalMark; };
  switch (SQLType()) {
    case SQL_TEXT:
    case SQL_VARYING:
      return TextOfChars();
    case SQL_SHORT:
      return scale == 0 ? IntToStr(FIBRead<int16_t>(p))
                        : FIBGeneralNumberText(NumberValue(), mark());
    case SQL_LONG:
      return scale == 0 ? IntToStr(FIBRead<int32_t>(p))
                        : FIBGeneralNumberText(NumberValue(), mark());
    case SQL_INT64:
      return scale == 0 ? IntToStr(FIBRead<int64_t>(p))
                        : FIBScaledIntegerText(FIBRead<int64_t>(p), scale, mark());
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return FIBGeneralNumberText(NumberValue(), mark());
    case SQL_TIMESTAMP: {
      const ISC_TIMESTAMP ts = FIBRead<ISC_TIMESTAMP>(p);
      const TFIBFormatSettings& format = FormatSettings();
      std::string s = FIBServerDateText(ts.timestamp_date, format.ShortDateFormat);
      if (ts.timestamp_time / 10 != 0) {
        // Appended in two steps: " " + text draws a false -Wrestrict from the
        // 32-bit compiler.
        s += ' ';
        s += FIBServerTimeText(ts.timestamp_time, format.LongTimeFormat);
      }
      return s;
    }
    case SQL_TYPE_DATE:
      return FIBServerDateText(FIBRead<ISC_DATE>(p), FormatSettings().ShortDateFormat);
    case SQL_TYPE_TIME:
      return FIBServerTimeText(FIBRead<ISC_TIME>(p), FormatSettings().LongTimeFormat);
    case SQL_BLOB:
      if (!IsColumn()) return "(BLOB)";
      return TrimChars() ? TrimTrailing(BlobText()) : BlobText();
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
  const char* p = Data()->sqldata;
  switch (SQLType()) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return FIBRead<double>(p);
    case SQL_FLOAT:
      return FIBRead<float>(p);
    case SQL_SHORT:
      return FIBScaledValue(FIBRead<int16_t>(p), Data()->sqlscale);
    case SQL_LONG:
      return FIBScaledValue(FIBRead<int32_t>(p), Data()->sqlscale);
    case SQL_INT64:
      return FIBScaledValue(FIBRead<int64_t>(p), Data()->sqlscale);
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
      return static_cast<unsigned char>(p[0]) == 1 ? 1.0 : 0.0;
    case SQL_TEXT:
    case SQL_VARYING:
      return ParsedText(TextOfChars(), [&](std::string_view text, double& value) {
        return FIBParseNumber(text, FormatSettings().DecimalMark, value);
      });
    default:
      InvalidConversion();
  }
}

double TFIBXSQLVAR::AsReal() const { return NumberValue(); }

int32_t TFIBXSQLVAR::AsInt32() const {
  if (IsNull()) return 0;
  const char* p = Data()->sqldata;
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
      v = FIBRead<int16_t>(p);
      break;
    case SQL_LONG:
      v = FIBRead<int32_t>(p);
      break;
    case SQL_INT64:
      v = FIBRead<int64_t>(p);
      break;
    case SQL_BOOLEAN:
    case kSQLBooleanLegacy:
      return static_cast<unsigned char>(p[0]);
    default:
      InvalidConversion();
  }
  // Scaled integers are divided exactly: a power of ten held as a double is
  // slightly off and would let 1.000000 truncate to 0.
  const int scale = Data()->sqlscale;
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
  const char* p = Data()->sqldata;
  switch (SQLType()) {
    case SQL_TIMESTAMP: {
      const ISC_TIMESTAMP ts = FIBRead<ISC_TIMESTAMP>(p);
      return (static_cast<double>(ts.timestamp_date) - kServerDayOf1899) +
             static_cast<double>(ts.timestamp_time / 10) / 86400000.0;
    }
    case SQL_TYPE_DATE:
      return static_cast<double>(FIBRead<ISC_DATE>(p)) - kServerDayOf1899;
    case SQL_TYPE_TIME:
      return static_cast<double>(FIBRead<ISC_TIME>(p)) / 864000000.0;
    case SQL_TEXT:
    case SQL_VARYING:
      return ParsedText(TextOfChars(), [&](std::string_view text, double& value) {
        return FIBParseDateTime(text, FormatSettings().ShortDateFormat, value);
      });
    default:
      InvalidConversion();
  }
}

void TFIBXSQLVAR::CopyValueFrom(const TFIBXSQLVAR& other) {
  const XSQLVAR& o = *other.Data();
  Data()->sqltype = o.sqltype;
  Data()->sqlscale = o.sqlscale;
  Data()->sqlsubtype = o.sqlsubtype;
  Data()->sqllen = o.sqllen;
  FData = other.FData;
  Data()->sqldata = FData.empty() ? nullptr : FData.data();
  if (o.sqlind) {
    AllocateIndicator();
    FIndicator = *o.sqlind;
  } else {
    FreeIndicator();
  }
  FBlobContent = other.FBlobContent;
  FModified = other.FModified;
}

void TFIBXSQLVAR::SetupFromSlot() {
  const int type = Data()->sqltype & ~1;
  FDescType = type;
  FDescSubtype = Data()->sqlsubtype;
  FDescLength = Data()->sqllen;
  FDescScale = Data()->sqlscale;
  const size_t size = FIBBufferSize(type, Data()->sqllen);
  FData.assign(size == 0 ? 1 : size, 0);
  Data()->sqldata = FData.data();
  if (Data()->sqltype & 1) {
    AllocateIndicator();
    FIndicator = 0;
  } else {
    FreeIndicator();
  }
}

void TFIBXSQLVAR::SetNullAsDescribed(const TFIBXSQLVAR& described) {
  const XSQLVAR& s = *described.Data();
  const int type = s.sqltype & ~1;
  XSQLVAR& slot = *Data();
  slot.sqltype = static_cast<ISC_SHORT>(type | 1);
  slot.sqlscale = s.sqlscale;
  slot.sqlsubtype = s.sqlsubtype;
  slot.sqllen = s.sqllen;
  const size_t size = FIBBufferSize(type, s.sqllen);
  FData.assign(size == 0 ? 1 : size, 0);
  slot.sqldata = FData.data();
  AllocateIndicator();
  FIndicator = -1;
}

void TFIBXSQLVAR::Unset(const TFIBXSQLVAR* described) {
  FBlobContent.reset();
  FModified = false;
  FDescType = FDescSubtype = 0;
  FDescLength = FDescScale = 0;
  if (described) return SetNullAsDescribed(*described);
  XSQLVAR& slot = *Data();
  slot.sqltype = slot.sqlscale = slot.sqlsubtype = slot.sqllen = 0;
  FData.clear();
  slot.sqldata = nullptr;
  FreeIndicator();
  FIndicator = 0;
}
