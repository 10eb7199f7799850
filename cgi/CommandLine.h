// How the program was started: as a CGI program (the web server runs it once per
// request) or as a FastCGI server that serves many requests in one process.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TWebModuleClass;

// True when a CGI variable (REQUEST_METHOD, GATEWAY_INTERFACE) is set: the program
// is serving a CGI request, and its command line is none of its own (a web server
// may pass a query string without "=" as arguments).
bool HasCgiEnvironment();

enum class TLaunchMode {
  lmCGI,          // one request from the environment and standard input
  lmFastCGI,      // requests on a listening socket
  lmUsageError,   // a bad option: Error says which, nothing is served
  lmOtherCommand  // an option this file does not know: left to the caller
};

struct TLaunchOptions {
  TLaunchMode Mode = TLaunchMode::lmCGI;
  // "HOST:PORT" to bind; empty: the listening socket is standard input.
  std::string Address;
  // Child processes serving the socket; 0: this process serves it alone.
  int Processes = 0;
  std::string Error;
};

// The exit code for a command line the program cannot take (a bad or unknown
// option), for the FastCGI server's options and the operator's tools alike.
inline constexpr int kUsageExitCode = 64;

// The default number of children of "--fastcgi".
inline constexpr int kDefaultProcesses = 2;
inline constexpr int kMaxProcesses = 256;

// The launch mode for the arguments after the program's name. The command line
// counts only without a CGI environment; persistent mode needs "--fastcgi
// HOST:PORT" or a listening socket as standard input. Options: "--fastcgi
// HOST:PORT" (or "--fastcgi=HOST:PORT"), "--processes N" (1 to kMaxProcesses;
// default kDefaultProcesses with "--fastcgi", none with a listening socket).
TLaunchOptions ParseLaunchOptions(const std::vector<std::string>& args, bool cgiEnvironment,
                                  bool listeningStdin);

// The launch mode of this process.
TLaunchOptions ReadLaunchOptions(int argc, char** argv);

// Serves as the command line and the standard input say: the process's exit code
// once a FastCGI server has ended or a bad option was reported on standard error
// (2); nullopt when the process is to serve one CGI request (or an option this
// file does not know is left to the caller).
std::optional<int> RunPersistentMode(int argc, char** argv, const TWebModuleClass& moduleClass);
