#include "cgi/CommandLine.h"

#include "cgi/FastCGIApp.h"
#include "platform/Platform.h"
#include "runtime/Text.h"

bool HasCgiEnvironment() {
  return !platform::GetEnv("REQUEST_METHOD").empty() ||
         !platform::GetEnv("GATEWAY_INTERFACE").empty();
}

const char kFastCGIOptionsHelp[] =
    "  --fastcgi HOST:PORT|PATH [--processes N] [--socket-group NAME]\n"
    "            [--request-read-timeout SECONDS]\n"
    "                             serve FastCGI on that address (a PATH, any\n"
    "                             address with \"/\", is a Unix socket, mode 0660,\n"
    "                             group NAME) with N child processes (default 2);\n"
    "                             a connection must deliver its request within\n"
    "                             SECONDS (1 to 3600, default 30)\n";

namespace {

const std::string kAddressUsage =
    "--fastcgi needs an address HOST:PORT or the path of a Unix socket, as in --fastcgi "
    "127.0.0.1:9000 or --fastcgi /run/dorvana/dorvana.sock";

TLaunchOptions ToolCommand(const std::vector<std::string>& args) {
  TLaunchOptions options;
  options.Mode = TLaunchMode::lmTool;
  options.ToolArgs = args;
  return options;
}

TLaunchOptions UsageError(const std::string& text) {
  TLaunchOptions options;
  options.Mode = TLaunchMode::lmUsageError;
  options.Error = text;
  return options;
}

// An option's value: the rest of "--name=value" or the next argument.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string& value) {
  const std::string& arg = args[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  if (i + 1 >= args.size()) return false;
  value = args[++i];
  return true;
}

// Why address is no address to listen on; empty when it is one. A Unix socket's
// path has a "/" (a file in the working folder: "./dorvana.sock"); otherwise
// HOST:PORT, with HOST a name, an IPv4 address, an IPv6 address in brackets or
// empty (every interface), and PORT 1 to 65535 in decimal digits.
std::string AddressError(const std::string& address) {
  if (address.find('/') != std::string::npos)
    return address.size() <= kMaxSocketPath
               ? ""
               : "the socket's path is longer than " + IntToStr(static_cast<int>(kMaxSocketPath)) +
                     " bytes";
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos) return "no port";
  const std::string host = address.substr(0, colon), port = address.substr(colon + 1);
  int32_t number = 0;
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || !TryStrToInt(port, number) ||
      number < 1 || number > 65535)
    return "the port must be a number from 1 to 65535";
  // A name or IPv4 address: letters, digits, ".", "-", "_"; in brackets, an IPv6
  // address with its zone: hex digits, ":", ".", "%" and the zone's letters.
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  const std::string name = bracketed ? host.substr(1, host.size() - 2) : host;
  const std::string extra = bracketed ? ":.%" : ".-_";
  for (const char c : name)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
          extra.find(c) != std::string::npos))
      return c == ':' ? "an IPv6 address goes in brackets, as in [::1]:9000"
                      : "the host is no name or address";
  if (bracketed && name.empty()) return "the host is no name or address";
  return "";
}

}  // namespace

TLaunchOptions ParseLaunchOptions(const std::vector<std::string>& args, bool cgiEnvironment,
                                  bool listeningStdin) {
  TLaunchOptions options;
  if (cgiEnvironment) return options;
  bool fastcgi = false;
  bool processesGiven = false, readTimeoutGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto is = [&arg](const std::string& name) {
      return arg == name || arg.rfind(name + "=", 0) == 0;
    };
    std::string value;
    if (is("--fastcgi")) {
      if (!TakeValue(args, i, "--fastcgi", value) || value.empty())
        return UsageError(kAddressUsage);
      const std::string error = AddressError(value);
      if (!error.empty()) return UsageError(kAddressUsage + " (\"" + value + "\": " + error + ")");
      options.Address = value;
      fastcgi = true;
    } else if (is("--socket-group")) {
      if (!TakeValue(args, i, "--socket-group", value) || value.empty() ||
          value.find_first_of(" :/,") != std::string::npos)
        return UsageError("--socket-group needs the name of a group");
      options.SocketGroup = value;
    } else if (is("--request-read-timeout")) {
      int32_t seconds = 0;
      if (!TakeValue(args, i, "--request-read-timeout", value) || value.empty() ||
          value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
          !TryStrToInt(value, seconds) || seconds < 1 || seconds > kMaxRequestReadTimeout)
        return UsageError("--request-read-timeout needs a number of seconds from 1 to " +
                          IntToStr(kMaxRequestReadTimeout));
      options.RequestReadTimeout = seconds;
      readTimeoutGiven = true;
    } else if (is("--processes")) {
      int32_t count = 0;
      if (!TakeValue(args, i, "--processes", value) || value.empty() ||
          value.find_first_not_of("0123456789") != std::string::npos ||
          !TryStrToInt(value, count) || count < 1 || count > kMaxProcesses)
        return UsageError("--processes needs a number from 1 to " + IntToStr(kMaxProcesses));
      options.Processes = count;
      options.ProcessesGiven = processesGiven = true;
    } else {
      return ToolCommand(args);
    }
  }
  if (!fastcgi && !listeningStdin) {
    if (processesGiven || readTimeoutGiven)
      return UsageError(std::string(processesGiven ? "--processes" : "--request-read-timeout") +
                        " applies to a FastCGI server: add --fastcgi HOST:PORT, or start the "
                        "program with a listening socket as its standard input");
    // No option at all: a CGI request (a "--socket-group" alone is refused below).
    if (options.SocketGroup.empty()) return options;
  }
  if (!options.SocketGroup.empty() && options.Address.find('/') == std::string::npos)
    return UsageError("--socket-group applies to a Unix socket: --fastcgi PATH");
  options.Mode = TLaunchMode::lmFastCGI;
  if (!processesGiven && fastcgi) options.Processes = kDefaultProcesses;
  return options;
}

TLaunchOptions ReadLaunchOptions(int argc, const char* const* argv) {
  const bool cgiEnvironment = HasCgiEnvironment();
  std::vector<std::string> args;
  if (!cgiEnvironment)
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  // A listening socket handed over: on standard input, or passed by a service
  // manager (a systemd socket unit).
  return ParseLaunchOptions(
      args, cgiEnvironment,
      !cgiEnvironment && (platform::StdinIsListeningSocket() || platform::ManagerPassedSocket()));
}

#ifndef DORVANA_FASTCGI
// A build without libfcgi (Windows): the FastCGI options are still read, and
// refused here.
int RunFastCGI(const TLaunchOptions&, const TWebModuleClass&) {
  platform::WriteLogLine("-", "error: this build serves CGI only (no FastCGI)");
  return kUsageExitCode;
}
#endif
