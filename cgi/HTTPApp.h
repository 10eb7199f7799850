// The web request and response as the rest of the system sees them, and the
// dispatcher that routes a request to an action item or to a component that
// dispatches itself by path.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Component.h"
#include "runtime/Exception.h"
#include "runtime/StringList.h"

class TMask;

// Request methods; the ordinals are part of the terminal protocol's echo.
enum TMethodType : uint8_t { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// A body or content source read from the start to its end. Owned by whoever
// holds the std::unique_ptr.
class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  // Reads up to count bytes at the position and moves past them; 0 at the end.
  virtual long Read(void* buffer, long count) = 0;
};

// A stream over bytes held in memory.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string data = {}) : FData(std::move(data)) {}
  int64_t Size() const override { return static_cast<int64_t>(FData.size()); }
  int64_t Position() const override { return static_cast<int64_t>(FPosition); }
  long Read(void* buffer, long count) override;
  void SetPosition(int64_t position);
  const std::string& DataString() const { return FData; }
  void WriteString(const std::string& s) { FData += s; }

 private:
  std::string FData;
  size_t FPosition = 0;
};

// The decoded fields of a query string or a body. The fields are kept back to
// back in the list's text, each followed by CR LF, with the offset where each
// begins: a body of many small fields costs little more than its text (a
// TStringList would spend a string object on each).
class TFieldList {
 public:
  int Count() const { return static_cast<int>(FStarts.size()); }
  // The field at index, without its line end.
  std::string_view operator[](int index) const;
  // Every field followed by CR LF; empty for an empty list.
  const std::string& Text() const { return FText; }
  // Index of the first field whose name (the text before its first "=") equals
  // name, ignoring the case of ASCII letters; -1 when none does. Fields without
  // "=" never match.
  int IndexOfName(std::string_view name) const;
  // The text after "name=" of that field; empty when none matches.
  std::string Values(std::string_view name) const;
  // A copy of the fields.
  std::vector<std::string> Lines() const;

  // Room for fields that take bytes of text in all, line ends included.
  void Reserve(size_t fields, size_t bytes);
  void Add(std::string_view field);
  // Adds the decoded form of a raw field (DecodeField); a field that fails to
  // decode adds nothing.
  void AddDecoded(std::string_view raw);

 private:
  std::string FText;
  std::vector<uint32_t> FStarts;
};

// One HTTP request. Every property is a numbered variable; the CGI request reads
// them from the environment. The field lists are built on first use and kept;
// building them raises the decoding errors of DecodeField, and a list that raised
// keeps the fields added before the failing one.
class TWebRequest {
 public:
  // Indices of StringVariable.
  enum : int {
    kRequestMethod = 0,
    kServerProtocol = 1,
    kUrl = 2,
    kQueryString = 3,
    kPathInfo = 4,
    kPathTranslated = 5,
    kCacheControl = 6,
    kDate = 7,
    kAccept = 8,
    kFrom = 9,
    kHost = 10,
    kIfModifiedSince = 11,
    kReferer = 12,
    kUserAgent = 13,
    kContentEncoding = 14,
    kContentType = 15,
    kContentLength = 16,
    kContentVersion = 17,
    kDerivedFrom = 18,
    kExpires = 19,
    kTitle = 20,
    kRemoteAddr = 21,
    kRemoteHost = 22,
    kScriptName = 23,
    kServerPort = 24,
    kContent = 25,
    kConnection = 26,
    kCookie = 27,
    kAuthorization = 28
  };

  TWebRequest();
  virtual ~TWebRequest();
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  virtual std::string StringVariable(int index) = 0;
  // The variable parsed as an HTTP date (days since 1899-12-30); -1.0 when empty
  // or not a date.
  virtual double DateVariable(int index) = 0;
  // The variable as an integer; -1 when empty or not a number.
  virtual int32_t IntegerVariable(int index) = 0;
  virtual std::string RoutingPathInfo() = 0;
  virtual std::string RoutingScriptName() = 0;
  virtual long ReadBytes(void* buffer, long count) = 0;
  // Up to count bytes of the body still unread; fewer when the input ends.
  virtual std::string ReadContent(int32_t count) = 0;
  virtual std::string MapUriToPath(const std::string& uri) = 0;
  virtual long WriteBytes(const void* buffer, long count) = 0;
  // False for the empty text (nothing written) and for a short write.
  virtual bool WriteText(const std::string& text) = 0;
  virtual bool WriteHeaderBlock(int statusCode, const std::string& statusText,
                                const std::string& headers) = 0;
  virtual std::string EnvironmentField(const std::string& name) = 0;
  // The body as read at construction (Content), without a copy.
  virtual const std::string& ContentBytes() = 0;

  // The failure log. Every answer that reports a failure also leaves one line in
  // the web server's error log: the command, the remote address, the order's GUID
  // when known and the message (FailureLogText). The answer's bytes
  // are not touched. A CGI process writes the line to standard error; a
  // persistent process overrides WriteFailureLine to send it where its web server
  // logs it.
  void LogFailure(const std::string& message);
  // What the line names: the command being served (the path when none is set)
  // and the order's GUID.
  void SetLogCommand(const std::string& command) { FLogCommand = command; }
  void SetLogGuid(const std::string& guid) { FLogGuid = guid; }
  virtual void WriteFailureLine(const std::string& command, const std::string& text);
  // When the request began (platform::SteadyMilliseconds at construction: the
  // process start of a CGI process, the accept of a persistent one); its
  // deadline counts from here.
  int64_t StartTime() const { return FStartTime; }

  TMethodType MethodType() const { return FMethodType; }
  // The fields of QueryString, split at "&" and decoded.
  const TFieldList& QueryFieldList();
  // The fields of the body, split at "&" and line breaks and decoded, whatever
  // the body's content type.
  const TFieldList& ContentFieldList();

  std::string RequestMethod() { return StringVariable(kRequestMethod); }
  std::string ServerProtocol() { return StringVariable(kServerProtocol); }
  std::string Url() { return StringVariable(kUrl); }
  std::string QueryString() { return StringVariable(kQueryString); }
  std::string PathInfo() { return StringVariable(kPathInfo); }
  std::string PathTranslated() { return StringVariable(kPathTranslated); }
  std::string Host() { return StringVariable(kHost); }
  std::string ContentType() { return StringVariable(kContentType); }
  int32_t ContentLength() { return IntegerVariable(kContentLength); }
  std::string RemoteAddr() { return StringVariable(kRemoteAddr); }
  std::string ScriptName() { return StringVariable(kScriptName); }
  std::string Content() { return StringVariable(kContent); }

 protected:
  void SetMethodType(TMethodType methodType) { FMethodType = methodType; }

 private:
  TMethodType FMethodType = mtAny;
  std::string FLogCommand;
  std::string FLogGuid;
  int64_t FStartTime = 0;
  std::unique_ptr<TFieldList> FQueryFields;
  std::unique_ptr<TFieldList> FContentFields;
};

// The text of a failure-log line (runtime/LogLine.h adds the time and command):
// "failure from ADDRESS[ order GUID]: MESSAGE", the message's lines joined by
// blanks, at most 1000 bytes of it. "-" stands for an unknown address.
std::string FailureLogText(std::string_view remoteAddr, std::string_view guid,
                           std::string_view message);

// Splits text into fields at the separators and line breaks, skipping leading
// blanks and line breaks, and adds each field decoded to list. Double quotes
// group text: a field that starts with one ends at its match and loses both.
void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TStringList& list);
// The same into a field list, whose room is reserved first in one pass.
void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TFieldList& list);
// Decodes one URL-encoded field: "+" is a blank, "%%" a "%", "%XX" a byte.
// Raises EWebBrokerException or EConvertError for a broken "%" sequence.
std::string DecodeField(std::string_view field);
// The same, appended to out; on a failure out may hold part of the field.
void AppendDecodedField(std::string_view field, std::string& out);
// Encodes for a URL: a blank becomes "+", bytes other than letters, digits and
// "*-._@" become "%XX".
std::string HTTPEncode(const std::string& text);
// An HTTP date, as the response writes it: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHTTPDate(double dateTime);
// Parses the three HTTP date forms; false when text is none of them.
bool ParseHTTPDate(const std::string& text, double& dateTime);

// A cookie the response sets.
struct TCookie {
  std::string Name, Value, Domain, Path;
  double Expires = -1.0;
  bool Secure = false;
  // The Set-Cookie header value.
  std::string HeaderValue() const;
};
using TCookieCollection = std::vector<TCookie>;

// The answer to the one request. Bound to the request it writes through; owns a
// content stream that was set. Sent at most once by its callers.
class TWebResponse {
 public:
  // Indices of StringItem.
  enum : int {
    kVersion = 0,
    kReasonText = 1,
    kServer = 2,
    kWwwAuthenticate = 3,
    kRealm = 4,
    kAllow = 5,
    kLocation = 6,
    kContentEncoding = 7,
    kContentType = 8,
    kContentVersion = 9,
    kDerivedFrom = 10,
    kTitle = 11
  };
  // Indices of DateItem.
  enum : int { kDate = 0, kExpires = 1, kLastModified = 2 };

  explicit TWebResponse(TWebRequest* request);
  virtual ~TWebResponse();
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;

  virtual std::string StringItem(int index) = 0;
  virtual void SetStringItem(int index, const std::string& value) = 0;
  virtual double DateItem(int index) = 0;
  virtual void SetDateItem(int index, double value) = 0;
  virtual int32_t IntegerItem(int index) = 0;
  virtual void SetIntegerItem(int index, int32_t value) = 0;
  virtual std::string Content() = 0;
  virtual void SetContent(const std::string& content) = 0;
  // Takes ownership; destroys the stream it replaces.
  virtual void SetContentStream(std::unique_ptr<TStream> stream);
  virtual int StatusCode() = 0;
  virtual void SetStatusCode(int code) = 0;
  virtual std::string LogText() { return ""; }
  virtual void SetLogText(const std::string&) {}
  virtual void Send() = 0;
  virtual void Redirect(const std::string& uri);
  virtual void WriteStream(TStream& stream);
  virtual bool AlreadySent() = 0;

  TWebRequest* HTTPRequest() const { return FHTTPRequest; }
  TStream* ContentStream() const { return FContentStream.get(); }
  TStringList& CustomHeaders() { return FCustomHeaders; }
  TCookieCollection& Cookies() { return FCookies; }

  std::string ContentType() { return StringItem(kContentType); }
  void SetContentType(const std::string& v) { SetStringItem(kContentType, v); }
  std::string ReasonText() { return StringItem(kReasonText); }
  void SetReasonText(const std::string& v) { SetStringItem(kReasonText, v); }
  std::string Location() { return StringItem(kLocation); }
  void SetLocation(const std::string& v) { SetStringItem(kLocation, v); }
  int32_t ContentLength() { return IntegerItem(0); }
  void SetContentLength(int32_t v) { SetIntegerItem(0, v); }

 protected:
  // Fills the defaults; run once by the constructor of the concrete response.
  virtual void ApplyDefaults() = 0;

  TWebRequest* FHTTPRequest;
  std::unique_ptr<TStream> FContentStream;
  TStringList FCustomHeaders;
  TCookieCollection FCookies;
};

// The reason text of a status code; empty for codes outside the table.
std::string StatusString(int code);

// The handler of an action and of the dispatch events. Sender is the action item
// or the dispatcher; a handler that declines clears Handled.
using THTTPMethodEvent = std::function<void(TComponent* Sender, TWebRequest* Request,
                                            TWebResponse* Response, bool& Handled)>;
// Turns an exception raised while routing into an answer.
using TWebExceptionEvent =
    std::function<void(TComponent* Sender, const Exception& E, bool& Handled)>;

// A component on the module that serves the requests whose path matches its mask.
class IWebAutoDispatch {
 public:
  virtual ~IWebAutoDispatch() = default;
  virtual bool Enabled() = 0;
  virtual TMethodType MethodType() = 0;
  // True when the component served the request.
  virtual bool TakeRequest(TComponent* sender, TWebRequest* request, TWebResponse* response) = 0;
  virtual TMask& PathMask() = 0;
};

// Builds an answer for an exception raised while routing.
class IWebErrorHandler {
 public:
  virtual ~IWebErrorHandler() = default;
  virtual void HandleError(const Exception& e, bool& handled) = 0;
};

// Takes one request and routes it; true when it was handled.
class IWebRequestHandler {
 public:
  virtual ~IWebRequestHandler() = default;
  virtual bool HandleRequest(TWebRequest* request, TWebResponse* response) = 0;
};

// Replaces backslashes by "/" and puts "/" in front of a non-empty pattern that
// lacks one.
std::string NormalizePathPattern(const std::string& pattern);

// The routing settings of an auto-dispatching component (its WebDispatch).
// PathInfo empty means the owner's name; set to that name it is stored empty.
class TWebDispatch {
 public:
  explicit TWebDispatch(TComponent* owner);
  ~TWebDispatch();
  std::string PathInfo() const;
  void SetPathInfo(const std::string& value);
  TMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TMethodType value) { FMethodType = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  // The mask of the normalised pattern, rebuilt only when the pattern changed.
  TMask& Mask();

 private:
  TComponent* FOwner;
  std::string FPathInfo;
  TMethodType FMethodType = mtPost;
  bool FEnabled = true;
  std::unique_ptr<TMask> FMask;
  std::string FMaskText;
};

class TWebActionItems;

// One route of a dispatcher: a path pattern, a method and a handler. Owned by
// its collection.
class TWebActionItem : public TComponent {
 public:
  explicit TWebActionItem(TWebActionItems* collection);
  std::string ClassName() const override { return "TWebActionItem"; }

  // Raises EWebBrokerException "Duplicate action name" when another item of the
  // collection has the name (case-insensitive).
  void SetName(const std::string& name);
  std::string PathInfo() const;
  void SetPathInfo(const std::string& value);
  TMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TMethodType value) { FMethodType = value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  bool Default() const { return FDefault; }
  // At most one item is the default: setting it clears it on the others.
  void SetDefault(bool value);
  // A component that produces the whole content; its Name is all routing needs.
  TComponent* Producer() const { return FProducer; }
  void SetProducer(TComponent* producer, std::function<std::string()> content);
  const THTTPMethodEvent& OnAction() const { return FOnAction; }
  void SetOnAction(THTTPMethodEvent handler) { FOnAction = std::move(handler); }

  TMask& Mask();
  // Serves the request when the item fits it, or unconditionally as the default.
  bool TryDispatch(TWebRequest* request, TWebResponse* response, bool asDefault);

 private:
  TWebActionItems* FCollection;
  std::string FPathInfo;
  TMethodType FMethodType = mtAny;
  bool FEnabled = true;
  bool FDefault = false;
  TComponent* FProducer = nullptr;
  std::function<std::string()> FProducerContent;
  THTTPMethodEvent FOnAction;
  std::unique_ptr<TMask> FMask;
  std::string FMaskText;
};

// The ordered action items of a dispatcher.
class TWebActionItems {
 public:
  TWebActionItems() = default;
  TWebActionItems(const TWebActionItems&) = delete;
  TWebActionItems& operator=(const TWebActionItems&) = delete;
  TWebActionItem* Add();
  int Count() const { return static_cast<int>(FItems.size()); }
  TWebActionItem* Items(int index) const { return FItems.at(index).get(); }
  TWebActionItem* ItemByName(const std::string& name) const;
  TWebActionItem* DefaultItem() const;

 private:
  std::vector<std::unique_ptr<TWebActionItem>> FItems;
};

// Routes a request to its action items and to the auto-dispatching components it
// owns; turns an exception raised while routing into the "Internal Application
// Error" page.
class TCustomWebDispatcher : public TComponent, public IWebErrorHandler, public IWebRequestHandler {
 public:
  explicit TCustomWebDispatcher(TComponent* owner = nullptr);
  ~TCustomWebDispatcher() override;
  std::string ClassName() const override { return "TCustomWebDispatcher"; }

  TWebActionItems& Actions() { return FActions; }
  // The owned components that dispatch themselves, in the order they were added.
  std::vector<IWebAutoDispatch*> AutoDispatchList() const;

  THTTPMethodEvent BeforeDispatch;
  THTTPMethodEvent AfterDispatch;
  TWebExceptionEvent OnException;

  TWebRequest* Request() const { return FRequest; }
  TWebResponse* Response() const { return FResponse; }

  bool RouteRequest(TWebRequest* request, TWebResponse* response);
  void HandleError(const Exception& e, bool& handled) override;
  bool HandleRequest(TWebRequest* request, TWebResponse* response) override;

 private:
  TWebActionItems FActions;
  TWebRequest* FRequest = nullptr;
  TWebResponse* FResponse = nullptr;
};

// One entry of a module's form description: creates a component owned by the
// module with its fixed settings, and later links it to the form's other
// components.
struct TFormComponent {
  std::function<TComponent*(TComponent* module)> Create;
  std::function<void(TComponent* module)> Link;
};

// A module's form: the module's own properties, then its components in
// creation order.
struct TFormDescription {
  std::function<void(TComponent* module)> Properties;
  std::vector<TFormComponent> Components;
};

// Records the form description of a module class, by class name.
bool RegisterFormDescription(const std::string& className, std::function<TFormDescription()> form);

// Builds a form entry for a published field of TModule: the component of class T
// is created owned by the module, named, stored in the field and given its fixed
// settings; links run once every component of the form exists.
template <class TModule, class T>
TFormComponent FormComponent(const char* name, T* TModule::*field,
                             std::function<void(T&)> settings = {},
                             std::function<void(T&, TModule&)> links = {}) {
  TFormComponent entry;
  entry.Create = [name, field, settings](TComponent* module) -> TComponent* {
    auto& m = static_cast<TModule&>(*module);
    T* c = new T(module);  // owned by the module from here on
    c->SetName(name);
    m.*field = c;
    if (settings) settings(*c);
    return c;
  };
  if (links)
    entry.Link = [field, links](TComponent* module) {
      auto& m = static_cast<TModule&>(*module);
      links(*(m.*field), m);
    };
  return entry;
}

// A web module: a dispatcher built from the form description of its class.
class TWebModule : public TCustomWebDispatcher {
 public:
  explicit TWebModule(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TWebModule"; }

 protected:
  // Creates the components of className's form in order, then links them. Raises
  // EResNotFound "Resource %s not found" when the class has no form.
  void ReadForm(const std::string& className);
};
