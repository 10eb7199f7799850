#include "cgi/CommandLine.h"

#include <gtest/gtest.h>

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
                    bad = TLaunchMode::lmUsageError, other = TLaunchMode::lmOtherCommand;
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
      // Options of other modes are left to the caller; so is a near miss.
      {{"--check"}, false, false, other, "", 0},
      {{"--fastcgix", "h:1"}, false, false, other, "", 0},
      {{"--fastcgi", "h:1", "--orders"}, false, false, other, "", 0},
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
