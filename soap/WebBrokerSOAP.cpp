#include "soap/WebBrokerSOAP.h"

#include <memory>

#include "runtime/Format.h"
#include "runtime/StringList.h"
#include "runtime/Text.h"

namespace {

// The namespace a SOAPAction names: one pair of surrounding quotes and the
// "#operation" part removed.
std::string ActionNamespace(std::string action) {
  if (!action.empty() && action.front() == '"') action.erase(0, 1);
  if (!action.empty() && action.back() == '"') action.pop_back();
  return action.substr(0, action.find('#'));
}

// A parameter of a header value such as `multipart/related; boundary="x"`;
// names compare without regard to case, quotes are removed.
std::string HeaderParam(const std::string& value, const std::string& name) {
  size_t pos = value.find(';');
  while (pos != std::string::npos) {
    size_t next = value.find(';', pos + 1);
    std::string item = value.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
    size_t eq = item.find('=');
    if (eq != std::string::npos && SameText(Trim(item.substr(0, eq)), name)) {
      std::string v = Trim(item.substr(eq + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v;
    }
    pos = next;
  }
  return "";
}

// The SOAP envelope of a multipart/related body: the part the "start" parameter
// names by its Content-ID, else the first part. The other parts are attachments,
// which no operation of this service takes.
std::string RootPart(const std::string& contentType, const std::string& body) {
  const std::string boundary = HeaderParam(contentType, "boundary");
  if (boundary.empty()) throw Exception("Multipart request without a boundary");
  std::string start = HeaderParam(contentType, "start");
  const std::string delimiter = "--" + boundary;
  size_t pos = body.find(delimiter);
  std::string first;
  bool any = false;
  while (pos != std::string::npos) {
    pos += delimiter.size();
    if (body.compare(pos, 2, "--") == 0) break;  // the closing delimiter
    size_t headerStart = body.find("\r\n", pos);
    size_t headerEnd =
        headerStart == std::string::npos ? headerStart : body.find("\r\n\r\n", headerStart);
    if (headerEnd == std::string::npos) break;
    size_t end = body.find("\r\n" + delimiter, headerEnd + 4);
    if (end == std::string::npos) break;
    std::string part = body.substr(headerEnd + 4, end - headerEnd - 4);
    TStringList headers;
    if (headerEnd > headerStart)
      headers.SetText(body.substr(headerStart + 2, headerEnd - headerStart - 2));
    std::string id;
    for (const std::string& line : headers.Lines()) {
      size_t colon = line.find(':');
      if (colon != std::string::npos && SameText(Trim(line.substr(0, colon)), "Content-ID"))
        id = Trim(line.substr(colon + 1));
    }
    if (!start.empty() && (id == start || id == "<" + start + ">")) return part;
    if (!any) first = part;
    any = true;
    pos = end + 2;
  }
  if (!any) throw Exception("Multipart request without a complete part");
  return first;
}

std::string QualifiedName(const TSoapInterface& intf) {
  return intf.UnitName.empty() ? "(Unknown)" : intf.UnitName + "." + intf.Name;
}

std::string NoClassMessage(const TSoapInterface& intf, const std::string& where) {
  return Format(
      "No invokable class registered that implements interface %s of (soap action/path) %s",
      {QualifiedName(intf), where});
}

}  // namespace

void THTTPSoapPascalInvoker::DispatchSOAP(const std::string& path, const std::string& soapAction,
                                          const std::string& request, std::string& response) {
  const TInvocationRegistry& registry = InvocationRegistry();
  const TInvocationRegistry::TEntry* entry = nullptr;
  const TInvokableClassInfo* cls = nullptr;
  if (!soapAction.empty() && soapAction != "\"\"") {
    entry = registry.FindByNamespace(ActionNamespace(soapAction));
    if (!entry)
      throw Exception(Format("No interface  registered for soap action '%s'", {soapAction}));
    cls = registry.ClassFor(*entry->Intf);
    if (!cls) throw Exception(NoClassMessage(*entry->Intf, soapAction));
  } else {
    size_t slash = path.rfind('/');
    entry = registry.FindByName(slash == std::string::npos ? path : path.substr(slash + 1));
    if (!entry) throw Exception(Format("No interface  registered for URL '%s'", {path}));
    cls = registry.ClassFor(*entry->Intf);
    if (!cls) throw Exception(NoClassMessage(*entry->Intf, path));
  }

  try {
    std::unique_ptr<TInvokableClass> instance = cls->Create ? cls->Create() : nullptr;
    if (!instance)
      throw Exception(
          Format("No class registered for invokable interface %s", {entry->Intf->Name}));
    const TSOAPConvertOptions& options = FConverter.Options();
    TSoapCall call = ReadSoapRequest(request, *entry->Intf, options);
    TSoapValue result = call.Method->Call(*instance, call.Args);
    // The arguments are done with: their memory goes before the answer is written.
    std::vector<TSoapValue>().swap(call.Args);
    response = WriteSoapResponse(*call.Method, entry->Namespace, result, options);
  } catch (const Exception& e) {
    response = WriteSoapFault(e.Message());
  }
}

THTTPSoapDispatcher::THTTPSoapDispatcher(TComponent* owner)
    : TComponent(owner), FWebDispatch(this) {}

THTTPSoapDispatcher::~THTTPSoapDispatcher() = default;

void THTTPSoapDispatcher::SetDispatcher(TComponent* dispatcher) {
  if (dispatcher == FDispatcher) return;
  if (dispatcher && !dynamic_cast<IHTTPSoapDispatch*>(dispatcher))
    throw EInvalidCast(dispatcher->Name() + " does not dispatch SOAP requests");
  if (FDispatcher) RemoveFreeNotification(FDispatcher);
  FDispatcher = dispatcher;
  if (FDispatcher) FreeNotification(FDispatcher);
}

void THTTPSoapDispatcher::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == FDispatcher) FDispatcher = nullptr;
}

bool THTTPSoapDispatcher::TakeRequest(TComponent* /*sender*/, TWebRequest* request,
                                      TWebResponse* response) {
  try {
    auto* invoker = dynamic_cast<IHTTPSoapDispatch*>(FDispatcher);
    if (!invoker) throw Exception("No Dispatcher set");
    std::string soapAction = request->EnvironmentField("SOAPAction");
    if (soapAction.empty()) soapAction = request->EnvironmentField("HTTP_SOAPACTION");
    std::string path = request->PathInfo();
    // The envelope is read where it lies; only a multipart body is cut apart.
    const std::string& content = request->ContentBytes();
    std::string part;
    const bool multipart = StartsText("multipart/related", request->ContentType());
    if (multipart) part = RootPart(request->ContentType(), content);
    std::string answer;
    invoker->DispatchSOAP(path, soapAction, multipart ? part : content, answer);
    response->SetContentType("text/xml");
    response->SetContentStream(std::make_unique<TStringStream>(std::move(answer)));
    return true;
  } catch (const Exception& e) {
    // The message may carry the caller's SOAPAction or path, so it is escaped to
    // keep the fault well-formed.
    request->LogFailure(e.Message());
    response->SetStatusCode(500);
    response->SetContent(WriteSoapFault(Cp1251ToUtf8(e.Message()), TSoapFaultLayout::Dispatcher));
    response->SetContentType("text/xml");
    return true;
  } catch (...) {
    return false;
  }
}
