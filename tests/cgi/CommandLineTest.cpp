#include "cgi/CommandLine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

struct TLaunchCase {
  std::vector<std::string> args;
  bool cgiEnvironment;
  bool listeningStdin;
  TLaunchMode mode;
  std::string address;
  int processes;
};

std::string Describe(const TLaunchCase& c) {
  std::string text;
  for (const std::string& a : c.args) text += "[" + a + "]";
  return text + (c.cgiEnvironment ? " cgi-env" : "") + (c.listeningStdin ? " listening" : "");
}

TEST(LaunchOptions, Modes) {
  const TLaunchMode cgi = TLaunchMode::lmCGI, fcgi = TLaunchMode::lmFastCGI,
                    bad = TLaunchMode::lmUsageError, tool = TLaunchMode::lmTool;
  const TLaunchCase kCases[] = {
      // No arguments: CGI, unless a manager handed over a listening socket.
      {{}, false, false, cgi, "", 0},
      {{}, false, true, fcgi, "", 0},
      // A CGI variable wins over everything: arguments and a listening socket.
      {{}, true, true, cgi, "", 0},
      {{"--fastcgi", "127.0.0.1:9000"}, true, false, cgi, "", 0},
      {{"--processes", "0"}, true, false, cgi, "", 0},
      {{"--check"}, true, false, cgi, "", 0},
      // --fastcgi binds; two children unless told otherwise.
      {{"--fastcgi", "127.0.0.1:9000"}, false, false, fcgi, "127.0.0.1:9000", 2},
      {{"--fastcgi=127.0.0.1:9000"}, false, false, fcgi, "127.0.0.1:9000", 2},
      {{"--fastcgi", ":9000", "--processes", "1"}, false, false, fcgi, ":9000", 1},
      {{"--processes", "256", "--fastcgi", "[::1]:9000"}, false, false, fcgi, "[::1]:9000", 256},
      {{"--processes=4"}, false, true, fcgi, "", 4},
      // Near misses and boundaries.
      {{"--fastcgi"}, false, false, bad, "", 0},
      {{"--fastcgi", ""}, false, false, bad, "", 0},
      {{"--fastcgi", "127.0.0.1"}, false, false, bad, "", 0},
      {{"--fastcgi=", "127.0.0.1:1"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes", "0"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes", "257"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes", "-1"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes", "0x2"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--processes", "99999999999"}, false, false, bad, "", 0},
      {{"--processes", "2"}, false, false, bad, "", 0},
      // Addresses: a port in 1..65535 in digits, IPv6 in brackets, a path with "/".
      {{"--fastcgi", "127.0.0.1:65535"}, false, false, fcgi, "127.0.0.1:65535", 2},
      {{"--fastcgi", "/run/d/d.sock"}, false, false, fcgi, "/run/d/d.sock", 2},
      {{"--fastcgi", "./d.sock"}, false, false, fcgi, "./d.sock", 2},
      {{"--fastcgi", "127.0.0.1:99999"}, false, false, bad, "", 0},
      {{"--fastcgi", "127.0.0.1:0"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:+80"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:0x50"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:"}, false, false, bad, "", 0},
      {{"--fastcgi", "::1:9000"}, false, false, bad, "", 0},
      {{"--fastcgi", "[]:9000"}, false, false, bad, "", 0},
      {{"--fastcgi", "a b:9000"}, false, false, bad, "", 0},
      {{"--fastcgi", "/" + std::string(107, 'x')}, false, false, bad, "", 0},
      // The socket's group only with a path; the read limit 1..3600 in digits.
      {{"--fastcgi", "h:1", "--socket-group", "www-data"}, false, false, bad, "", 0},
      {{"--socket-group", "www-data"}, false, true, bad, "", 0},
      {{"--fastcgi", "h:1", "--request-read-timeout", "0"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--request-read-timeout", "3601"}, false, false, bad, "", 0},
      {{"--fastcgi", "h:1", "--request-read-timeout", "0x10"}, false, false, bad, "", 0},
      {{"--request-read-timeout", "5"}, false, false, bad, "", 0},
      // Any other command line is a tool's, whole (its own check refuses what no
      // tool knows): a near miss, a server option among others, a query.
      {{"--check"}, false, false, tool, "", 0},
      {{"--fastcgix", "h:1"}, false, false, tool, "", 0},
      {{"--fastcgi", "h:1", "--orders"}, false, false, tool, "", 0},
      {{"--socket-group", "www-data"}, false, false, bad, "", 0},
      {{"q=test"}, false, false, tool, "", 0},
  };
  for (const TLaunchCase& c : kCases) {
    const TLaunchOptions o = ParseLaunchOptions(c.args, c.cgiEnvironment, c.listeningStdin);
    EXPECT_EQ(c.mode, o.Mode) << Describe(c);
    if (c.mode == TLaunchMode::lmUsageError) {
      EXPECT_FALSE(o.Error.empty()) << Describe(c);
    } else if (c.mode == TLaunchMode::lmFastCGI) {
      EXPECT_EQ(c.address, o.Address) << Describe(c);
      EXPECT_EQ(c.processes, o.Processes) << Describe(c);
    }
    EXPECT_EQ(c.mode == TLaunchMode::lmTool ? c.args : std::vector<std::string>(), o.ToolArgs)
        << Describe(c);
  }
}

// Sets (value) or removes (null) a variable of this process's environment.
void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

// The process's own command line and CGI variables: a request is always served
// as a request, whatever its arguments (a query without "=" arrives as one).
TEST(LaunchOptions, ReadFromTheProcess) {
  const struct {
    std::vector<const char*> argv;
    const char* cgiVariable;
    TLaunchMode mode;
  } kCases[] = {
      {{"dorvana"}, nullptr, TLaunchMode::lmCGI},
      {{"dorvana", "--orders", "--since", "2026-01-01"}, nullptr, TLaunchMode::lmTool},
      {{"dorvana", "--help"}, nullptr, TLaunchMode::lmTool},
      {{"dorvana", "--fastcgi", "h:1"}, nullptr, TLaunchMode::lmFastCGI},
      {{"dorvana", "--check"}, "REQUEST_METHOD", TLaunchMode::lmCGI},
      {{"dorvana", "--replay", "--all-missing"}, "GATEWAY_INTERFACE", TLaunchMode::lmCGI},
  };
  for (const auto& c : kCases) {
    if (c.cgiVariable) SetVariable(c.cgiVariable, "GET");
    const TLaunchOptions o = ReadLaunchOptions(static_cast<int>(c.argv.size()), c.argv.data());
    if (c.cgiVariable) SetVariable(c.cgiVariable, nullptr);
    EXPECT_EQ(c.mode, o.Mode) << c.argv.back();
    const std::vector<std::string> args(c.argv.begin() + 1, c.argv.end());
    EXPECT_EQ(c.mode == TLaunchMode::lmTool ? args : std::vector<std::string>(), o.ToolArgs);
  }
}

TEST(LaunchOptions, SocketGroupAndReadTimeout) {
  TLaunchOptions o = ParseLaunchOptions(
      {"--fastcgi", "/s/d.sock", "--socket-group=www-data", "--request-read-timeout", "2"}, false,
      false);
  EXPECT_EQ("www-data", o.SocketGroup);
  EXPECT_EQ(2, o.RequestReadTimeout);
  o = ParseLaunchOptions({"--request-read-timeout=3600"}, false, true);
  EXPECT_EQ(TLaunchMode::lmFastCGI, o.Mode);
  EXPECT_EQ(3600, o.RequestReadTimeout);
  EXPECT_EQ(30, ParseLaunchOptions({"--fastcgi", "h:1"}, false, false).RequestReadTimeout);
}

TEST(LaunchOptions, UsageMessages) {
  const std::string address =
      "--fastcgi needs an address HOST:PORT or the path of a Unix socket, as in --fastcgi "
      "127.0.0.1:9000 or --fastcgi /run/dorvana/dorvana.sock";
  EXPECT_EQ(address, ParseLaunchOptions({"--fastcgi"}, false, false).Error);
  EXPECT_EQ(address + " (\"h:99999\": the port must be a number from 1 to 65535)",
            ParseLaunchOptions({"--fastcgi", "h:99999"}, false, false).Error);
  EXPECT_EQ("--processes needs a number from 1 to 256",
            ParseLaunchOptions({"--fastcgi", "h:1", "--processes", "x"}, false, false).Error);
  EXPECT_EQ(
      "--processes applies to a FastCGI server: add --fastcgi HOST:PORT, or start the program "
      "with a listening socket as its standard input",
      ParseLaunchOptions({"--processes", "3"}, false, false).Error);
}

}  // namespace
