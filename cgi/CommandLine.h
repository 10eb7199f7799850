// How the program was started, read once from the command line, the CGI variables
// and the standard input: as a CGI program (the web server runs it once per
// request), as a FastCGI server that serves many requests in one process, or by
// hand as an operator's tool.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// True when a CGI variable (REQUEST_METHOD, GATEWAY_INTERFACE) is set: the program
// is serving a CGI request, and its command line is none of its own (a web server
// may pass a query string without "=" as arguments).
bool HasCgiEnvironment();

enum class TLaunchMode {
  lmCGI,         // one request from the environment and standard input
  lmFastCGI,     // requests on a listening socket
  lmUsageError,  // a bad FastCGI option: Error says which, nothing is served
  lmTool         // run by hand with arguments: ToolArgs name the operator's tool
};

inline constexpr int kDefaultRequestReadTimeout = 30;
inline constexpr int kMaxRequestReadTimeout = 3600;
// The longest Unix socket path the system takes (sun_path less its final zero).
inline constexpr size_t kMaxSocketPath = 107;

struct TLaunchOptions {
  TLaunchMode Mode = TLaunchMode::lmCGI;
  // "HOST:PORT" or a Unix socket's path (with a "/") to bind; empty: the
  // listening socket is standard input.
  std::string Address;
  // Child processes serving the socket; 0: this process serves it alone.
  int Processes = 0;
  // "--processes" was given (Windows refuses it: a listener there is one process).
  bool ProcessesGiven = false;
  // The group of a Unix socket's file; empty: the process's own.
  std::string SocketGroup;
  // Seconds from its accept in which a connection must deliver its whole request.
  int RequestReadTimeout = kDefaultRequestReadTimeout;
  std::string Error;
  // The whole command line after the program's name (lmTool only).
  std::vector<std::string> ToolArgs;
};

// The exit code for a command line the program cannot take (a bad or unknown
// option), for the FastCGI server's options and the operator's tools alike: a
// bad FastCGI option is reported on standard error ("error: ...") with it.
inline constexpr int kUsageExitCode = 64;

// The default number of children of "--fastcgi".
inline constexpr int kDefaultProcesses = 2;
inline constexpr int kMaxProcesses = 256;

// The launch mode for the arguments after the program's name. The command line
// counts only without a CGI environment; persistent mode needs "--fastcgi
// HOST:PORT" or a listening socket as standard input. Options: "--fastcgi
// ADDRESS" (or "--fastcgi=ADDRESS"; HOST:PORT, or a Unix socket's path, any
// address with a "/"), "--processes N" (1 to kMaxProcesses; default
// kDefaultProcesses with "--fastcgi", none with a listening socket),
// "--socket-group NAME" (a Unix socket's group), "--request-read-timeout
// SECONDS" (1 to kMaxRequestReadTimeout, decimal digits; default
// kDefaultRequestReadTimeout). A malformed address or a port outside 1..65535 is
// a usage error. Any other argument makes the whole command line a tool's (whose
// own check tells an unknown option), the server's options among it included.
TLaunchOptions ParseLaunchOptions(const std::vector<std::string>& args, bool cgiEnvironment,
                                  bool listeningStdin);

// The launch mode of this process.
TLaunchOptions ReadLaunchOptions(int argc, const char* const* argv);

// The FastCGI server's lines of the program's general help ("dorvana --help"),
// each ending in LF.
extern const char kFastCGIOptionsHelp[];
