// The operator tools' command line: wrong arguments refused before anything is
// read or imported (what makes the program a tool: tests/cgi/CommandLineTest.cpp).
#include "service/OperatorTools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Runs the tool with args and keeps its lines.
struct TRun {
  std::vector<std::string> out, err;
  int code;
  explicit TRun(const std::vector<std::string>& args) {
    code = service::RunOperatorCommand(args, {[this](const std::string& l) { out.push_back(l); },
                                              [this](const std::string& l) { err.push_back(l); }});
  }
};

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
