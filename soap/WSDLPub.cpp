#include "soap/WSDLPub.h"

#include <memory>

#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/StringList.h"
#include "runtime/Text.h"
#include "soap/SoapEnvelope.h"

const char kDefaultTargetNamespace[] = "urn:dorvana-services";

namespace {

const char kPublishNamespace[] = "urn:dorvana-wsdl-publish";
const char kForbidden[] =
    "<html><head></head><body><h1>Forbidden (403)</h1><P>Access Forbidden</P></body></html>";
const char kWSDLNS[] = "http://schemas.xmlsoap.org/wsdl/";
const char kWSDLSoapNS[] = "http://schemas.xmlsoap.org/wsdl/soap/";
const char kSoapHttpTransport[] = "http://schemas.xmlsoap.org/soap/http";

const char kStyleRules[] =
    "body {font-family: Verdana, Arial, Helvetica; font-size: 10pt; color: #333333; "
    "background-color: #ffffff}\r\n"
    "h1 {font-family: Verdana, Arial, Helvetica; font-size: 18pt; color: #333333}\r\n"
    "h2 {font-family: Verdana, Arial, Helvetica; font-size: 14pt; color: #333333}\r\n"
    "h3 {font-family: Verdana, Arial, Helvetica; font-size: 12pt; color: #333333}\r\n"
    ".h1Style {font-family: Verdana, Arial, Helvetica; font-size: 18pt; font-weight: bold; "
    "color: #333333}\r\n"
    ".TblRow {font-family: Verdana, Arial, Helvetica; font-size: 9pt; color: #333333; "
    "background-color: #f5f0e1}\r\n"
    ".TblRow1 {font-family: Verdana, Arial, Helvetica; font-size: 9pt; color: #333333; "
    "background-color: #f5f0e1}\r\n"
    ".TblRow0 {font-family: Verdana, Arial, Helvetica; font-size: 9pt; color: #333333; "
    "background-color: #ebe3cc}\r\n"
    ".TblHdr {font-family: Verdana, Arial, Helvetica; font-size: 10pt; font-weight: bold; "
    "color: #333333; background-color: #e0d5b4}\r\n"
    ".IntfName {font-family: Verdana, Arial, Helvetica; font-size: 10pt; font-weight: bold; "
    "color: #333333}\r\n"
    ".MethName {font-family: Verdana, Arial, Helvetica; font-size: 9pt; font-weight: bold; "
    "color: #333333}\r\n"
    ".ParmName {font-family: Verdana, Arial, Helvetica; font-size: 8pt; color: #333333}\r\n"
    ".Namespace {font-family: Verdana, Arial, Helvetica; font-size: 8pt; font-style: italic; "
    "color: #333333}\r\n"
    ".WSDL {font-family: Verdana, Arial, Helvetica; font-size: 9pt; color: #333333}\r\n"
    ".MainBkgnd {background-color: #f5f0e1}\r\n"
    ".Info {font-family: Verdana, Arial, Helvetica; font-size: 9pt; color: #333333}\r\n"
    ".NavBar {font-family: Verdana, Arial, Helvetica; font-size: 8pt; color: #333333; "
    "background-color: #ebe3cc}\r\n"
    ".Off {font-family: Verdana, Arial, Helvetica; font-size: 8pt; color: #999999}\r\n"
    ".Tip {font-family: Verdana, Arial, Helvetica; font-size: 8pt; font-style: italic; "
    "color: #333333}\r\n";

// ---- The publisher's own interface ------------------------------------------

class IWSDLPublish {
 public:
  virtual ~IWSDLPublish() = default;
  virtual std::vector<std::string> ListInterfaces() = 0;
};

class TWSDLPublish : public TInvokableClass, public IWSDLPublish {
 public:
  std::vector<std::string> ListInterfaces() override {
    std::vector<std::string> names;
    for (const auto* e : PublishedInterfaces(InvocationRegistry())) names.push_back(e->Intf->Name);
    return names;
  }
};

const TSoapType& StringArrayType() {
  static const TSoapType kType{
      TSoapTypeKind::tkDynArray, "TStringArray", "urn:WSDLPub", {}, &SoapStringType()};
  return kType;
}

// ---- Names and texts ----------------------------------------------------------

std::string FileNameOnly(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return path + ext;
  return path.substr(0, dot) + ext;
}

std::string PageHead(const std::string& title, bool withTitle) {
  return (withTitle ? Format("<html><head><title>%s</title></head>", {title})
                    : std::string("<html><head></head>")) +
         "<style type=\"text/css\"><!--\r\n" + kStyleRules + "--></style>\r\n<body>";
}

std::string Cell(const std::string& cls, const std::string& text) {
  return "<td class=\"" + cls + "\">" + text + "</td>";
}

// Escapes a text for an HTML attribute value in double quotes.
std::string HtmlAttribute(const std::string& s) { return EscapeMarkup(s, true); }

std::string TypeRef(const TSoapType& type) {
  return (type.IsScalar() ? "xs:" : "ns1:") + type.Name;
}

// The port table of the file beside the program: section [intfName], lines
// name=address. Section names compare without regard to case.
bool ReadPortTable(const std::string& file, const std::string& intfName,
                   std::vector<TWSDLPort>& ports) {
  if (!platform::FileExists(file)) return false;
  TStringList lines;
  lines.SetText(platform::ReadWholeFile(file));
  bool inSection = false;
  for (const std::string& raw : lines.Lines()) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      inSection = line.back() == ']' && SameText(Trim(line.substr(1, line.size() - 2)), intfName);
      continue;
    }
    size_t eq = line.find('=');
    if (inSection && eq != std::string::npos && eq > 0)
      ports.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return true;
}

}  // namespace

const TSoapInterface& IWSDLPublishInterface() {
  static const TSoapInterface kIntf{
      "IWSDLPublish",
      "WSDLPub",
      "Lists the interfaces this service publishes",
      {{"ListInterfaces",
        {},
        &StringArrayType(),
        [](TInvokableClass& c, const std::vector<TSoapValue>&) {
          auto* p = dynamic_cast<IWSDLPublish*>(&c);
          if (!p) throw EInvalidCast("The class does not implement IWSDLPublish");
          TSoapValue::TArray out;
          for (auto& name : p->ListInterfaces()) out.push_back(TSoapValue::Text(name));
          return TSoapValue::Array(std::move(out));
        }}}};
  return kIntf;
}

void RegisterWSDLPublish() {
  TInvocationRegistry& registry = InvocationRegistry();
  if (registry.Find(IWSDLPublishInterface())) return;
  registry.RegisterInterface(IWSDLPublishInterface(), kPublishNamespace);
  registry.RegisterInvokableClass({"TWSDLPublish", {&IWSDLPublishInterface()}, [] {
                                     return std::make_unique<TWSDLPublish>();
                                   }});
}

std::vector<const TInvocationRegistry::TEntry*> PublishedInterfaces(
    const TInvocationRegistry& registry) {
  std::vector<const TInvocationRegistry::TEntry*> result;
  const TInvocationRegistry::TEntry* own = nullptr;
  for (const auto& e : registry.Interfaces()) {
    if (!registry.ClassFor(*e.Intf)) continue;
    if (e.Intf == &IWSDLPublishInterface())
      own = &e;
    else
      result.push_back(&e);
  }
  if (own) result.push_back(own);
  return result;
}

std::vector<std::string> GenerateWSDL(const TInvocationRegistry::TEntry& entry,
                                      const std::string& targetNamespace,
                                      const std::vector<TWSDLPort>& ports) {
  const TSoapInterface& intf = *entry.Intf;
  const std::string tns = XmlAttribute(targetNamespace);
  std::vector<const TSoapType*> types = intf.UsedTypes();
  std::string typesNS = types.empty() ? "urn:" + intf.UnitName : types.front()->Namespace;
  std::vector<std::string> w;
  w.push_back("<?xml version=\"1.0\" encoding=\"utf-8\"?>");
  w.push_back("<definitions xmlns=\"" + std::string(kWSDLNS) + "\" xmlns:wsdl=\"" + kWSDLNS +
              "\" xmlns:xs=\"" + kXmlSchemaNS + "\" xmlns:soap=\"" + kWSDLSoapNS +
              "\" xmlns:soapenc=\"" + kSoapEncodingNS + "\" xmlns:tns=\"" + tns +
              "\" xmlns:ns1=\"" + XmlAttribute(typesNS) + "\" name=\"" + intf.Name +
              "Service\" targetNamespace=\"" + tns + "\">");
  if (!intf.Documentation.empty())
    w.push_back("  <documentation>" + XmlContent(intf.Documentation) + "</documentation>");
  if (!types.empty()) {
    w.push_back("  <types>");
    w.push_back("    <xs:schema targetNamespace=\"" + XmlAttribute(typesNS) + "\">");
    w.push_back("      <xs:import namespace=\"" + std::string(kSoapEncodingNS) + "\"/>");
    w.push_back("      <xs:import namespace=\"" + std::string(kWSDLNS) + "\"/>");
    for (const TSoapType* t : types) {
      switch (t->Kind) {
        case TSoapTypeKind::tkEnumeration:
          w.push_back("      <xs:simpleType name=\"" + t->Name + "\">");
          w.push_back("        <xs:restriction base=\"xs:string\">");
          for (const auto& n : t->EnumNames)
            w.push_back("          <xs:enumeration value=\"" + n + "\"/>");
          w.push_back("        </xs:restriction>");
          w.push_back("      </xs:simpleType>");
          break;
        case TSoapTypeKind::tkDynArray:
          w.push_back("      <xs:complexType name=\"" + t->Name + "\">");
          w.push_back("        <xs:complexContent>");
          w.push_back("          <xs:restriction base=\"soapenc:Array\">");
          w.push_back("            <xs:sequence/>");
          w.push_back("            <xs:attribute ref=\"soapenc:arrayType\" wsdl:arrayType=\"" +
                      TypeRef(*t->ElementType) + "[]\"/>");
          w.push_back("          </xs:restriction>");
          w.push_back("        </xs:complexContent>");
          w.push_back("      </xs:complexType>");
          break;
        case TSoapTypeKind::tkClass:
          w.push_back("      <xs:complexType name=\"" + t->Name + "\">");
          w.push_back("        <xs:sequence>");
          for (const auto& p : t->Properties)
            w.push_back("          <xs:element name=\"" + p.Name + "\" type=\"" + TypeRef(*p.Type) +
                        "\"/>");
          w.push_back("        </xs:sequence>");
          w.push_back("      </xs:complexType>");
          break;
        default:
          break;
      }
    }
    w.push_back("    </xs:schema>");
    w.push_back("  </types>");
  }
  for (const auto& m : intf.Methods) {
    w.push_back("  <message name=\"" + m.Name + "Request\">");
    for (const auto& p : m.Params)
      w.push_back("    <part name=\"" + p.Name + "\" type=\"" + TypeRef(*p.Type) + "\"/>");
    w.push_back("  </message>");
    w.push_back("  <message name=\"" + m.Name + "Response\">");
    if (m.Result) w.push_back("    <part name=\"return\" type=\"" + TypeRef(*m.Result) + "\"/>");
    w.push_back("  </message>");
  }
  w.push_back("  <portType name=\"" + intf.Name + "\">");
  for (const auto& m : intf.Methods) {
    w.push_back("    <operation name=\"" + m.Name + "\">");
    w.push_back("      <input message=\"tns:" + m.Name + "Request\"/>");
    w.push_back("      <output message=\"tns:" + m.Name + "Response\"/>");
    w.push_back("    </operation>");
  }
  w.push_back("  </portType>");
  const std::string body = "<soap:body use=\"encoded\" encodingStyle=\"" +
                           std::string(kSoapEncodingNS) + "\" namespace=\"" +
                           XmlAttribute(entry.Namespace) + "\"/>";
  w.push_back("  <binding name=\"" + intf.Name + "Binding\" type=\"tns:" + intf.Name + "\">");
  w.push_back("    <soap:binding style=\"rpc\" transport=\"" + std::string(kSoapHttpTransport) +
              "\"/>");
  for (const auto& m : intf.Methods) {
    w.push_back("    <operation name=\"" + m.Name + "\">");
    w.push_back("      <soap:operation soapAction=\"" +
                XmlAttribute(entry.Namespace + "#" + m.Name) + "\" style=\"rpc\"/>");
    w.push_back("      <input>" + body + "</input>");
    w.push_back("      <output>" + body + "</output>");
    w.push_back("    </operation>");
  }
  w.push_back("  </binding>");
  w.push_back("  <service name=\"" + intf.Name + "Service\">");
  for (const auto& [name, address] : ports) {
    w.push_back("    <port name=\"" + XmlAttribute(name) + "\" binding=\"tns:" + intf.Name +
                "Binding\">");
    w.push_back("      <soap:address location=\"" + XmlAttribute(address) + "\"/>");
    w.push_back("    </port>");
  }
  w.push_back("  </service>");
  w.push_back("</definitions>");
  return w;
}

TWSDLHTMLPublish::TWSDLHTMLPublish(TComponent* owner) : TComponent(owner), FWebDispatch(this) {
  RegisterWSDLPublish();
}

TWSDLHTMLPublish::~TWSDLHTMLPublish() = default;

std::string TWSDLHTMLPublish::ModulePath() const {
  return FModulePath.empty() ? platform::ExecutablePath() : FModulePath;
}

std::string TWSDLHTMLPublish::BaseURL(TWebRequest& request) const {
  int32_t port = request.IntegerVariable(TWebRequest::kServerPort);
  std::string host = request.Host();
  std::string script = request.ScriptName();
  if (port == 443 || FPublishOptions.count(poPublishLocationAsSecure))
    return "https://" + host + script;
  // A missing or unreadable port is left out rather than published as ":-1".
  if (port != 80 && port >= 0 && host.find(':') == std::string::npos)
    return "http://" + host + ":" + IntToStr(port) + script;
  return "http://" + host + script;
}

std::vector<TWSDLPort> TWSDLHTMLPublish::Ports(const std::string& intfName,
                                               const std::string& baseURL) const {
  std::vector<TWSDLPort> ports;
  if (ReadPortTable(ChangeFileExt(ModulePath(), "_WSDLADMIN.INI"), intfName, ports) &&
      !ports.empty())
    return ports;
  return {{intfName + "Port", baseURL + "/soap/" + intfName}};
}

bool TWSDLHTMLPublish::TakeRequest(TComponent* /*sender*/, TWebRequest* request,
                                   TWebResponse* response) {
  try {
    std::string baseURL = BaseURL(*request);
    std::string path = request->PathInfo();
    if (!path.empty() && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string before = slash == std::string::npos ? "" : path.substr(0, slash);
    std::string parent =
        before.substr(before.rfind('/') == std::string::npos ? 0 : before.rfind('/') + 1);
    std::string fullURL = baseURL + path;

    TStringList lines;
    int status = 200;
    std::string contentType;
    const TInvocationRegistry& registry = InvocationRegistry();
    if (last == "wsdl") {
      std::string module = FileNameOnly(ModulePath());
      lines.Add(PageHead(module, true) +
                "<table class=\"MainBkgnd\" border=0 cellpadding=0 cellspacing=0 "
                "width=\"100%\"><tr><td>&nbsp;</td></tr>" +
                Format("<tr><td class=\"h1Style\" align=\"center\">%s - %s</td></tr></table>",
                       {module, "WebService Listing"}));
      lines.Add("<center><br>");
      lines.Add("<table border=1 cellspacing=1 cellpadding=2 >");
      lines.Add("<tr>");
      for (const char* h : {"Port Type", "Namespace URI", "Documentation", "WSDL"})
        lines.Add(Cell("TblHdr", h));
      lines.Add("</tr>");
      for (const auto* e : PublishedInterfaces(registry)) {
        const std::string& name = e->Intf->Name;
        lines.Add("<tr>");
        lines.Add(Cell("TblRow", name));
        lines.Add(Cell("TblRow", e->Namespace));
        lines.Add(Cell("TblRow", e->Intf->Documentation.empty()
                                     ? "&nbsp;"
                                     : EscapeMarkup(e->Intf->Documentation)));
        // The address carries the caller's Host header.
        lines.Add(Cell("TblRow",
                       "<a href=\"" + HtmlAttribute(fullURL + "/" + name) + "\">" + name + "</a>"));
        lines.Add("</tr>");
      }
      lines.Add("</table>");
      lines.Add("</center>");
      lines.Add("</body></html>");
      contentType = "text/html";
    } else if (last == "admin" || parent == "admin") {
      status = 403;
      lines.Add(kForbidden);
      contentType = "text/html";
    } else if (parent == "wsdl") {
      const TInvocationRegistry::TEntry* found = nullptr;
      for (const auto* e : PublishedInterfaces(registry))
        if (e->Intf->Name == last) found = e;
      if (found) {
        std::string ns = FTargetNamespace.empty() ? kDefaultTargetNamespace : FTargetNamespace;
        for (auto& line : GenerateWSDL(*found, ns, Ports(found->Intf->Name, baseURL)))
          lines.Add(std::move(line));
        contentType = "text/xml";
      } else {
        // The name comes from the request path.
        lines.Add(
            Format("<html><head></head><body><h1>Error Encountered</h1><P>Interface %s not "
                   "found</P></body></html>",
                   {EscapeMarkup(last)}));
        contentType = "text/html";
      }
    }
    response->SetStatusCode(status);
    response->SetContentType(contentType);
    response->SetContent(lines.Text());
  } catch (const Exception& e) {
    response->SetContent(PageHead("", false) + "<h1>" + "Error: " + EscapeMarkup(e.Message()) +
                         "/" + e.ClassName() + "</h1>" + "</body></html>");
    response->SetContentType("text/html");
  } catch (...) {
    response->SetContent(PageHead("", false) + "<h1>" + "Unknown Error" + "</h1>" +
                         "</body></html>");
    response->SetContentType("text/html");
  }
  return true;
}
