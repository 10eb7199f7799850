#include "cgi/CommandLine.h"

#ifdef DORVANA_FASTCGI
#include "cgi/FastCGIApp.h"
#endif
#include "platform/Platform.h"
#include "runtime/Text.h"

bool HasCgiEnvironment() {
  return !platform::GetEnv("REQUEST_METHOD").empty() ||
         !platform::GetEnv("GATEWAY_INTERFACE").empty();
}

namespace {

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

}  // namespace

TLaunchOptions ParseLaunchOptions(const std::vector<std::string>& args, bool cgiEnvironment,
                                  bool listeningStdin) {
  TLaunchOptions options;
  if (cgiEnvironment) return options;
  bool fastcgi = false;
  bool processesGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto is = [&arg](const std::string& name) {
      return arg == name || arg.rfind(name + "=", 0) == 0;
    };
    std::string value;
    if (is("--fastcgi")) {
      if (!TakeValue(args, i, "--fastcgi", value) || value.empty() ||
          value.find(':') == std::string::npos)
        return UsageError("--fastcgi needs an address HOST:PORT, as in --fastcgi 127.0.0.1:9000");
      options.Address = value;
      fastcgi = true;
    } else if (is("--processes")) {
      int32_t count = 0;
      if (!TakeValue(args, i, "--processes", value) || value.empty() ||
          value.find_first_not_of("0123456789") != std::string::npos ||
          !TryStrToInt(value, count) || count < 1 || count > kMaxProcesses)
        return UsageError("--processes needs a number from 1 to " + IntToStr(kMaxProcesses));
      options.Processes = count;
      processesGiven = true;
    } else {
      options.Mode = TLaunchMode::lmOtherCommand;
      return options;
    }
  }
  if (!fastcgi && !listeningStdin) {
    if (processesGiven)
      return UsageError(
          "--processes applies to a FastCGI server: add --fastcgi HOST:PORT, or start the "
          "program with a listening socket as its standard input");
    return options;
  }
  options.Mode = TLaunchMode::lmFastCGI;
  if (!processesGiven && fastcgi) options.Processes = kDefaultProcesses;
  return options;
}

TLaunchOptions ReadLaunchOptions(int argc, char** argv) {
  const bool cgiEnvironment = HasCgiEnvironment();
  std::vector<std::string> args;
  if (!cgiEnvironment)
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return ParseLaunchOptions(args, cgiEnvironment,
                            !cgiEnvironment && platform::StdinIsListeningSocket());
}

std::optional<int> RunPersistentMode(int argc, char** argv, const TWebModuleClass& moduleClass) {
  const TLaunchOptions options = ReadLaunchOptions(argc, argv);
  switch (options.Mode) {
    case TLaunchMode::lmCGI:
    case TLaunchMode::lmOtherCommand:
      return std::nullopt;
    case TLaunchMode::lmUsageError:
      platform::WriteLogLine("-", "error: " + options.Error);
      return kUsageExitCode;
    case TLaunchMode::lmFastCGI:
      break;
  }
#ifdef DORVANA_FASTCGI
  return RunFastCGI(options, moduleClass);
#else
  (void)moduleClass;
  platform::WriteLogLine("-", "error: this build serves CGI only (no FastCGI)");
  return kUsageExitCode;
#endif
}
