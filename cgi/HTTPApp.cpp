#include "cgi/HTTPApp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "cgi/Masks.h"
#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

std::map<std::string, std::function<TFormDescription()>>& FormRegistry() {
  static std::map<std::string, std::function<TFormDescription()>> registry;
  return registry;
}

}  // namespace

// ---- Streams ---------------------------------------------------------------------

long TStringStream::Read(void* buffer, long count) {
  if (count <= 0 || FPosition >= FData.size()) return 0;
  size_t n = std::min(static_cast<size_t>(count), FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return static_cast<long>(n);
}

void TStringStream::SetPosition(int64_t position) {
  FPosition = static_cast<size_t>(std::clamp<int64_t>(position, 0, Size()));
}

// ---- Fields ----------------------------------------------------------------------

void AppendDecodedField(std::string_view field, std::string& result) {
  const size_t n = field.size();
  // Bytes past the end of the field read as NUL.
  auto at = [&](size_t i) { return i < n ? field[i] : '\0'; };
  for (size_t i = 0; i < n; ++i) {
    char c = field[i];
    if (c == '+') {
      result += ' ';
    } else if (c == '%') {
      if (at(i + 1) == '%') {
        result += '%';
        ++i;
        continue;
      }
      char a = at(i + 1), b = at(i + 2);
      if (a == '\0' || b == '\0')
        throw EWebBrokerException(
            Format("Error decoding URL style (%%XX) encoded string at position %d", {i + 1}));
      if (!IsHexDigit(a) || !IsHexDigit(b))
        throw EConvertError(Format("Invalid URL encoded character (%s) at position %d",
                                   {field.substr(i, 3), i + 1}));
      result += static_cast<char>(HexValue(a) * 16 + HexValue(b));
      i += 2;
    } else {
      result += c;
    }
  }
}

std::string DecodeField(std::string_view field) {
  std::string result;
  result.reserve(field.size());
  AppendDecodedField(field, result);
  return result;
}

namespace {

// Splits text into raw fields and hands each to add, in order.
template <class F>
void SplitFields(const std::string& separators, const std::string& blanks, std::string_view text,
                 F add) {
  // Processing stops at the first NUL; past the end every byte reads as NUL.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return;
  const size_t n = text.size();
  auto at = [&](size_t i) { return i < n ? text[i] : '\0'; };
  const std::string allBlanks = blanks + "\r\n";
  const std::string allSeparators = separators + "\r\n\"";
  auto isBlank = [&](char c) { return c != '\0' && allBlanks.find(c) != std::string::npos; };
  auto isSeparator = [&](char c) {
    return c == '\0' || allSeparators.find(c) != std::string::npos;
  };

  size_t tail = 0;
  char quote = '\0';
  for (;;) {
    while (isBlank(at(tail))) ++tail;
    size_t head = tail;
    bool inQuote = false;
    bool leadQuote = false;
    for (;;) {
      char c = at(tail);
      if (c == '"') {
        if (quote != '\0' && quote == c) {
          quote = '\0';
        } else {
          leadQuote = head == tail;
          quote = c;
          if (leadQuote) ++head;
        }
        inQuote = quote != '\0';
        if (inQuote) {
          ++tail;
          continue;
        }
        break;
      }
      if (c == '\0') break;
      if (inQuote || !isSeparator(c)) {
        ++tail;
        continue;
      }
      break;
    }
    // The closing quote of a run that began inside the field belongs to it.
    if (!leadQuote && at(tail) == '"') ++tail;
    const bool atEnd = at(tail) == '\0';
    if (at(head) != '\0') add(text.substr(head, std::min(tail, n) - head));
    ++tail;
    if (atEnd) break;
  }
}

}  // namespace

void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TStringList& list) {
  SplitFields(separators, blanks, text, [&](std::string_view raw) { list.Add(DecodeField(raw)); });
}

void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TFieldList& list) {
  // A decoded field is never longer than its raw form: the first pass sizes the
  // list, so its text and offsets are allocated once, to the byte.
  size_t fields = 0, bytes = 0;
  SplitFields(separators, blanks, text, [&](std::string_view raw) {
    ++fields;
    bytes += raw.size() + 2;
  });
  list.Reserve(fields, bytes);
  SplitFields(separators, blanks, text, [&](std::string_view raw) { list.AddDecoded(raw); });
}

std::string_view TFieldList::operator[](int index) const {
  const size_t i = static_cast<size_t>(index);
  if (index < 0 || i >= FStarts.size()) throw std::out_of_range("TFieldList index");
  const size_t end = i + 1 < FStarts.size() ? FStarts[i + 1] : FText.size();
  return std::string_view(FText).substr(FStarts[i], end - 2 - FStarts[i]);
}

int TFieldList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string_view field = (*this)[i];
    const size_t eq = field.find('=');
    if (eq != std::string_view::npos && eq == name.size() && SameText(field.substr(0, eq), name))
      return i;
  }
  return -1;
}

std::string TFieldList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : std::string((*this)[i].substr(name.size() + 1));
}

std::vector<std::string> TFieldList::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(FStarts.size());
  for (int i = 0; i < Count(); ++i) lines.emplace_back((*this)[i]);
  return lines;
}

void TFieldList::Reserve(size_t fields, size_t bytes) {
  FStarts.reserve(FStarts.size() + fields);
  FText.reserve(FText.size() + bytes);
}

void TFieldList::Add(std::string_view field) {
  if (FText.size() + field.size() + 2 > UINT32_MAX) throw EOutOfMemory("Out of memory");
  FStarts.push_back(static_cast<uint32_t>(FText.size()));
  FText += field;
  FText += "\r\n";
}

void TFieldList::AddDecoded(std::string_view raw) {
  if (FText.size() + raw.size() + 2 > UINT32_MAX) throw EOutOfMemory("Out of memory");
  const size_t start = FText.size();
  try {
    AppendDecodedField(raw, FText);
  } catch (...) {
    FText.resize(start);
    throw;
  }
  FStarts.push_back(static_cast<uint32_t>(start));
  FText += "\r\n";
}

std::string HTTPEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("*-._@", c) != nullptr) {
      result += static_cast<char>(c);
    } else if (c == ' ') {
      result += '+';
    } else {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 15];
    }
  }
  return result;
}

// ---- Dates -----------------------------------------------------------------------

std::string FormatHTTPDate(double dateTime) {
  // Rounded to the millisecond, as a date-time is stored.
  int64_t ms = static_cast<int64_t>(std::llround(dateTime * double(kMillisecondsPerDay)));
  int64_t day =
      ms >= 0 ? ms / kMillisecondsPerDay : -((-ms + kMillisecondsPerDay - 1) / kMillisecondsPerDay);
  int64_t msOfDay = ms - day * kMillisecondsPerDay;
  const TCivilDate date = CivilFromDays(UnixDaysFromDayNumber(day));
  int dow = static_cast<int>(((day + 6) % 7 + 7) % 7);  // day 0 was a Saturday
  constexpr int64_t kSecondsPerHour = 3600;
  int64_t secs = msOfDay / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02lld:%02lld:%02lld GMT", kDayNames[dow],
                date.Day, kMonthNames[date.Month - 1], static_cast<long long>(date.Year),
                static_cast<long long>(secs / kSecondsPerHour),
                static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  return buf;
}

bool ParseHTTPDate(const std::string& text, double& dateTime) {
  char dayName[16] = {}, month[4] = {};
  int d = 0, y = 0, hh = 0, mm = 0, ss = 0;
  int consumed = 0;
  bool ok = false;
  // "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
  // "Sun Nov  6 08:49:37 1994".
  if (std::sscanf(text.c_str(), "%15[A-Za-z], %2d %3s %4d %2d:%2d:%2d GMT%n", dayName, &d, month,
                  &y, &hh, &mm, &ss, &consumed) == 7 &&
      consumed == static_cast<int>(text.size())) {
    ok = true;
  } else if (std::sscanf(text.c_str(), "%15[A-Za-z], %2d-%3s-%2d %2d:%2d:%2d GMT%n", dayName, &d,
                         month, &y, &hh, &mm, &ss, &consumed) == 7 &&
             consumed == static_cast<int>(text.size())) {
    // Two-digit years: 70 to 99 are 1970 to 1999, 00 to 69 are 2000 to 2069.
    constexpr int kTwoDigitYearPivot = 70;
    y += y < kTwoDigitYearPivot ? 2000 : 1900;
    ok = true;
  } else if (std::sscanf(text.c_str(), "%15[A-Za-z] %3s %2d %2d:%2d:%2d %4d%n", dayName, month, &d,
                         &hh, &mm, &ss, &y, &consumed) == 7 &&
             consumed == static_cast<int>(text.size())) {
    ok = true;
  }
  if (!ok) return false;
  int mon = -1;
  for (int i = 0; i < 12; ++i)
    if (SameText(month, kMonthNames[i])) mon = i + 1;
  if (mon < 0 || d < 1 || d > 31 || hh > 23 || mm > 59 || ss > 59) return false;
  int64_t day =
      DayNumberFromUnixDays(DaysFromCivil(y, static_cast<unsigned>(mon), static_cast<unsigned>(d)));
  dateTime =
      static_cast<double>(day) + (hh * 3600 + mm * 60 + ss) / static_cast<double>(kSecondsPerDay);
  return true;
}

std::string TCookie::HeaderValue() const {
  std::string result = Format("%s=%s; ", {HTTPEncode(Name), HTTPEncode(Value)});
  if (!Domain.empty()) result += Format("domain=%s; ", {Domain});
  if (!Path.empty()) result += Format("path=%s; ", {Path});
  if (Expires > -1.0) result += Format("expires=%s; ", {FormatHTTPDate(Expires)});
  if (Secure) result += "secure";
  if (result.size() >= 2 && result.compare(result.size() - 2, 2, "; ") == 0)
    result.resize(result.size() - 2);
  return result;
}

// ---- Request ---------------------------------------------------------------------

TWebRequest::TWebRequest() : FStartTime(platform::SteadyMilliseconds()) {}
TWebRequest::~TWebRequest() = default;

void TWebRequest::LogFailure(const std::string& message) {
  // Logging must never turn an answer into another failure.
  try {
    const std::string command = FLogCommand.empty() ? PathInfo() : FLogCommand;
    WriteFailureLine(command, FailureLogText(RemoteAddr(), FLogGuid, message));
  } catch (...) {
  }
}

void TWebRequest::WriteFailureLine(const std::string& command, const std::string& text) {
  platform::WriteLogLine(command, text);
}

std::string FailureLogText(std::string_view remoteAddr, std::string_view guid,
                           std::string_view message) {
  std::string text = "failure from ";
  text += remoteAddr.empty() ? std::string_view("-") : remoteAddr;
  if (!guid.empty()) text.append(" order ").append(guid);
  text += ": ";
  // The message's lines joined by blanks: a client-library error's first line
  // names only the component ("DorvanaWebInterface.Database:"), the reason
  // follows. Bounded, since a message may echo the request's own bytes.
  constexpr size_t kMaxMessage = 1000;
  bool gap = false;
  size_t kept = 0;
  for (const char c : message) {
    if (c == '\r' || c == '\n') {
      gap = kept > 0;
      continue;
    }
    if (kept == kMaxMessage) {
      text += "...";
      break;
    }
    if (gap && c != ' ') text += ' ';
    gap = false;
    text += c;
    ++kept;
  }
  return text;
}

const TFieldList& TWebRequest::QueryFieldList() {
  if (!FQueryFields) {
    FQueryFields = std::make_unique<TFieldList>();
    ExtractHTTPFields("&", "", QueryString(), *FQueryFields);
  }
  return *FQueryFields;
}

const TFieldList& TWebRequest::ContentFieldList() {
  if (!FContentFields) {
    FContentFields = std::make_unique<TFieldList>();
    int32_t length = ContentLength();
    if (length > 0) {
      const std::string& content = ContentBytes();
      if (static_cast<int64_t>(content.size()) < length) {
        // The body is read at construction, so what is missing never arrives;
        // the copy is made only for that case.
        std::string text = content + ReadContent(length - static_cast<int32_t>(content.size()));
        ExtractHTTPFields("&", "", text, *FContentFields);
      } else {
        ExtractHTTPFields("&", "", content, *FContentFields);
      }
    }
  }
  return *FContentFields;
}

// ---- Response --------------------------------------------------------------------

std::string StatusString(int code) {
  static const struct {
    int code;
    const char* text;
  } kStatusTexts[] = {{100, "Continue"},
                      {101, "Switching Protocols"},
                      {200, "OK"},
                      {201, "Created"},
                      {202, "Accepted"},
                      {203, "Non-Authoritative Information"},
                      {204, "No Content"},
                      {205, "Reset Content"},
                      {206, "Partial Content"},
                      {300, "Multiple Choices"},
                      {301, "Moved Permanently"},
                      {302, "Moved Temporarily"},
                      {303, "See Other"},
                      {304, "Not Modified"},
                      {305, "Use Proxy"},
                      {400, "Bad Request"},
                      {401, "Unauthorized"},
                      {402, "Payment Required"},
                      {403, "Forbidden"},
                      {404, "Not Found"},
                      {405, "Method Not Allowed"},
                      {406, "None Acceptable"},
                      {407, "Proxy Authentication Required"},
                      {408, "Request Timeout"},
                      {409, "Conflict"},
                      {410, "Gone"},
                      {411, "Length Required"},
                      {412, "Unless True"},
                      {413, "Request Entity Too Large"},
                      {500, "Internal Server Error"},
                      {501, "Not Implemented"},
                      {502, "Bad Gateway"},
                      {503, "Service Unavailable"},
                      {504, "Gateway Timeout"}};
  for (const auto& s : kStatusTexts)
    if (s.code == code) return s.text;
  return "";
}

TWebResponse::TWebResponse(TWebRequest* request) : FHTTPRequest(request) {}
TWebResponse::~TWebResponse() = default;

void TWebResponse::SetContentStream(std::unique_ptr<TStream> stream) {
  if (stream.get() == FContentStream.get()) {
    stream.release();  // the same object: keep the one owner
    return;
  }
  FContentStream = std::move(stream);
  if (FContentStream)
    SetContentLength(static_cast<int32_t>(FContentStream->Size()));
  else
    SetContentLength(static_cast<int32_t>(Content().size()));
}

void TWebResponse::Redirect(const std::string& uri) {
  SetLocation(uri);
  SetStatusCode(302);
  SetContentType("text/html");
  SetContent(
      Format("<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
             "This Object may be found <a HREF=\"%s\">here.</a><br>\r\n<br></body></html>\r\n",
             {uri}));
  Send();
}

void TWebResponse::WriteStream(TStream& stream) {
  char buffer[8192];
  while (stream.Position() < stream.Size()) {
    long n = stream.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    FHTTPRequest->WriteBytes(buffer, n);
  }
}

// ---- Routing ---------------------------------------------------------------------

std::string NormalizePathPattern(const std::string& pattern) {
  std::string result = pattern;
  std::replace(result.begin(), result.end(), '\\', '/');
  if (!result.empty() && result[0] != '/') result.insert(result.begin(), '/');
  return result;
}

TWebDispatch::TWebDispatch(TComponent* owner) : FOwner(owner) {}
TWebDispatch::~TWebDispatch() = default;

std::string TWebDispatch::PathInfo() const {
  return FPathInfo.empty() && FOwner ? FOwner->Name() : FPathInfo;
}

void TWebDispatch::SetPathInfo(const std::string& value) {
  FPathInfo = FOwner && value == FOwner->Name() ? std::string() : value;
}

TMask& TWebDispatch::Mask() {
  std::string text = NormalizePathPattern(PathInfo());
  if (!FMask || text != FMaskText) {
    FMask = std::make_unique<TMask>(text);
    FMaskText = text;
  }
  return *FMask;
}

TWebActionItem::TWebActionItem(TWebActionItems* collection) : FCollection(collection) {}

void TWebActionItem::SetName(const std::string& name) {
  if (SameText(name, Name())) {
    TComponent::SetName(name);
    return;
  }
  if (!name.empty() && FCollection && FCollection->ItemByName(name))
    throw EWebBrokerException("Duplicate action name");
  TComponent::SetName(name);
}

std::string TWebActionItem::PathInfo() const {
  if (FPathInfo.empty() && FProducer) return "/" + FProducer->Name();
  return FPathInfo;
}

void TWebActionItem::SetPathInfo(const std::string& value) {
  std::string text = NormalizePathPattern(value);
  if (FProducer && text == "/" + FProducer->Name()) text.clear();
  if (SameText(text, FPathInfo)) return;
  FPathInfo = text;
}

void TWebActionItem::SetDefault(bool value) {
  if (value && FCollection)
    for (int i = 0; i < FCollection->Count(); ++i) FCollection->Items(i)->FDefault = false;
  FDefault = value;
}

void TWebActionItem::SetProducer(TComponent* producer, std::function<std::string()> content) {
  FProducer = producer;
  FProducerContent = std::move(content);
}

TMask& TWebActionItem::Mask() {
  std::string text = PathInfo();
  if (!FMask || text != FMaskText) {
    FMask = std::make_unique<TMask>(text);
    FMaskText = text;
  }
  return *FMask;
}

bool TWebActionItem::TryDispatch(TWebRequest* request, TWebResponse* response, bool asDefault) {
  bool result = false;
  if (!(FDefault && asDefault)) {
    if (!FEnabled) return false;
    if (FMethodType != mtAny && FMethodType != request->MethodType()) return false;
    if (!Mask().Matches(request->PathInfo())) return false;
  }
  if (FProducer && FProducerContent) {
    result = true;
    response->SetContent(FProducerContent());
  }
  if (FOnAction) {
    result = true;
    FOnAction(this, request, response, result);
  }
  return result;
}

TWebActionItem* TWebActionItems::Add() {
  FItems.push_back(std::make_unique<TWebActionItem>(this));
  return FItems.back().get();
}

TWebActionItem* TWebActionItems::ItemByName(const std::string& name) const {
  for (const auto& item : FItems)
    if (SameText(item->Name(), name)) return item.get();
  return nullptr;
}

TWebActionItem* TWebActionItems::DefaultItem() const {
  for (const auto& item : FItems)
    if (item->Default()) return item.get();
  return nullptr;
}

TCustomWebDispatcher::TCustomWebDispatcher(TComponent* owner) : TComponent(owner) {}

TCustomWebDispatcher::~TCustomWebDispatcher() {
  // The components go first: they may still look at the dispatcher.
  DestroyComponents();
}

std::vector<IWebAutoDispatch*> TCustomWebDispatcher::AutoDispatchList() const {
  std::vector<IWebAutoDispatch*> result;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* d = dynamic_cast<IWebAutoDispatch*>(Components(i))) result.push_back(d);
  return result;
}

bool TCustomWebDispatcher::RouteRequest(TWebRequest* request, TWebResponse* response) {
  FRequest = request;
  FResponse = response;
  TWebActionItem* defaultItem = nullptr;
  if (response->AlreadySent()) return true;

  bool handled = false;
  if (BeforeDispatch) BeforeDispatch(this, request, response, handled);
  bool result = handled || response->AlreadySent();

  for (int i = 0; i < FActions.Count() && !result; ++i) {
    TWebActionItem* item = FActions.Items(i);
    result = item->TryDispatch(request, response, false);
    if (item->Default()) defaultItem = item;
  }

  if (!result) {
    for (IWebAutoDispatch* d : AutoDispatchList()) {
      if (result) break;
      if (d->Enabled() && (d->MethodType() == mtAny || d->MethodType() == request->MethodType()) &&
          d->PathMask().Matches(request->PathInfo()))
        result = d->TakeRequest(this, request, response);
    }
  }

  if (!result && defaultItem) result = defaultItem->TryDispatch(request, response, true);

  if (result && !response->AlreadySent()) {
    handled = true;
    if (AfterDispatch) AfterDispatch(this, request, response, handled);
    result = handled;
  }
  return result;
}

bool TCustomWebDispatcher::HandleRequest(TWebRequest* request, TWebResponse* response) {
  return RouteRequest(request, response);
}

void TCustomWebDispatcher::HandleError(const Exception& e, bool& handled) {
  handled = false;
  if (FRequest) FRequest->LogFailure(e.Message());
  if (OnException) {
    handled = true;
    if (FResponse) FResponse->SetStatusCode(500);
    OnException(this, e, handled);
    if (handled && FResponse) FResponse->Send();
  }
  if (!handled && FResponse) {
    // The message and the path are the request's own text: escaped for HTML.
    FResponse->SetContent(
        Format("<html><body><h1>Internal Application Error</h1>\r\n<p>%0:s\r\n"
               "<p><hr width=\"100%%\"><i>%1:s</i></body></html>",
               {EscapeMarkup(e.Message()),
                EscapeMarkup(FRequest ? FRequest->PathInfo() : std::string())}));
    if (!FResponse->AlreadySent()) {
      FResponse->SetStatusCode(500);
      FResponse->Send();
    }
    handled = true;
  }
}

// ---- Web module and forms ----------------------------------------------------------

bool RegisterFormDescription(const std::string& className, std::function<TFormDescription()> form) {
  FormRegistry()[className] = std::move(form);
  return true;
}

TWebModule::TWebModule(TComponent* owner) : TCustomWebDispatcher(owner) {}

void TWebModule::ReadForm(const std::string& className) {
  auto it = FormRegistry().find(className);
  if (it == FormRegistry().end()) throw EResNotFound(Format("Resource %s not found", {className}));
  const TFormDescription form = it->second();
  if (form.Properties) form.Properties(this);
  for (const TFormComponent& entry : form.Components)
    if (entry.Create) entry.Create(this);
  // References between components are resolved once all of them exist.
  for (const TFormComponent& entry : form.Components)
    if (entry.Link) entry.Link(this);
}
