// The operator tools' command line: what makes the program a tool, and wrong
// arguments refused before anything is read or imported.
#include "service/OperatorTools.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

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

// Runs the tool with args and keeps its lines.
struct TRun {
  std::vector<std::string> out, err;
  int code;
  explicit TRun(const std::vector<std::string>& args) {
    code = service::RunOperatorCommand(args, {[this](const std::string& l) { out.push_back(l); },
                                              [this](const std::string& l) { err.push_back(l); }});
  }
};

TEST(OperatorTools, OnlyAnOptionWithoutCgiVariablesMakesATool) {
  const struct {
    std::vector<const char*> argv;
    const char* cgiVariable;
    bool tool;
  } kCases[] = {
      {{"dorvana"}, nullptr, false},
      {{"dorvana", "--check"}, nullptr, true},
      {{"dorvana", "--orders", "--since", "2026-01-01"}, nullptr, true},
      {{"dorvana", "--replay", "g"}, nullptr, true},
      {{"dorvana", "--rotate"}, nullptr, true},
      {{"dorvana", "--help"}, nullptr, true},
      // By hand, any other argument gets the tools' "unknown option" line (the
      // FastCGI server's options never reach here: main.cpp takes them first).
      {{"dorvana", "--bogus"}, nullptr, true},
      {{"dorvana", "q=test"}, nullptr, true},
      {{"dorvana", "--check"}, "REQUEST_METHOD", false},
      {{"dorvana", "--check"}, "GATEWAY_INTERFACE", false},
      {{"dorvana", "--replay", "--all-missing"}, "GATEWAY_INTERFACE", false},
  };
  for (const auto& c : kCases) {
    if (c.cgiVariable) SetVariable(c.cgiVariable, "GET");
    EXPECT_EQ(c.tool, service::IsOperatorCommand(static_cast<int>(c.argv.size()), c.argv.data()))
        << c.argv.size() << " " << c.argv.back() << " " << (c.cgiVariable ? c.cgiVariable : "");
    if (c.cgiVariable) SetVariable(c.cgiVariable, nullptr);
  }
}

TEST(OperatorTools, WrongArgumentsAreRefusedBeforeAnyWork) {
  const std::vector<std::vector<std::string>> kCases = {
      {"--check", "now"},
      {"--orders", "--since"},
      {"--orders", "--since", "2026-02-30"},
      {"--orders", "all"},
      {"--replay"},
      {"--replay", "g-1", "--all-missing"},
      {"--replay", "--all"},
      {"--rotate", "--older-than"},
      {"--rotate", "--older-than", "-1"},
      {"--rotate", "--older-than", "7d"},
      {"--rotate", "--older-than", "+7"},
      {"--rotate", "--older-than", "36501"},
      {"--rotate", "--older-than", "0x10"},
      {"--rotate", "--older-than", " 7"},
      {"--rotate", "--missing-days", "1e3"},
      {"--rotate", "--refused-limit", ""},
      {"--replay", "--all-missing", "--missing-days", "-5"},
      {"--rotat"},
  };
  for (const auto& args : kCases) {
    const TRun run(args);
    EXPECT_EQ(service::kToolUsage, run.code) << args.back();
    EXPECT_TRUE(run.out.empty()) << args.back();
    ASSERT_EQ(1u, run.err.size()) << args.back();
  }
  const TRun replay({"--replay"});
  EXPECT_EQ(
      "dorvana --replay: name the orders (GUID...) or give --all-missing, not both; nothing was "
      "imported",
      replay.err[0]);
}

TEST(OperatorTools, EveryToolHasHelp) {
  for (const char* option : {"--check", "--orders", "--replay", "--rotate"}) {
    const TRun run({option, "--help"});
    EXPECT_EQ(service::kToolOk, run.code) << option;
    ASSERT_FALSE(run.out.empty()) << option;
    EXPECT_EQ(0u, run.out[0].find(std::string("Usage: dorvana ") + option)) << run.out[0];
  }
  const TRun general({"--help"});
  EXPECT_EQ(service::kToolOk, general.code);
  for (const char* option : {"--check", "--orders", "--replay", "--rotate"}) {
    bool listed = false;
    for (const std::string& line : general.out) listed |= line.find(option) != std::string::npos;
    EXPECT_TRUE(listed) << option;
  }
}

}  // namespace
