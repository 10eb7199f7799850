#include "service/Settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using service::ParseSettings;

TEST(Settings, KeysInAnyOrderAndLineEnds) {
  const auto s = ParseSettings(
      "ROLE NAME=CASHIER\nPASSWORD=secret \rUSER NAME= dorvana\r\n"
      "SERVER NAME=127.0.0.1:/srv/db/demo.fdb\r\n");
  EXPECT_EQ("127.0.0.1:/srv/db/demo.fdb", s.ServerName.value_or("?"));
  EXPECT_EQ(" dorvana", s.UserName.value_or("?"));  // leading blank kept
  EXPECT_EQ("secret ", s.Password.value_or("?"));   // trailing blank kept
  EXPECT_EQ("CASHIER", s.RoleName.value_or("?"));
}

TEST(Settings, LoginLinesKeepTheFilesOrder) {
  using service::TConnectionSettings;
  const auto s = ParseSettings(
      "ROLE NAME=R\nSERVER NAME=s\nPASSWORD=p\nCONNECT TIMEOUT=5\nUSER NAME=u\nPASSWORD=\n");
  const decltype(s.LoginLines) expected = {{&TConnectionSettings::RoleName, "R"},
                                           {&TConnectionSettings::Password, "p"},
                                           {&TConnectionSettings::UserName, "u"},
                                           {&TConnectionSettings::Password, ""}};
  EXPECT_TRUE(expected == s.LoginLines);
  EXPECT_TRUE(ParseSettings("SERVER NAME=s\nCONNECT TIMEOUT=5\n").LoginLines.empty());
}

TEST(Settings, NearMissesAreIgnored) {
  const char* kIgnored[] = {" SERVER NAME=a",
                            "server name=a",
                            "SERVER NAME =a",
                            "SERVERNAME=a",
                            "SERVER NAME",
                            "# SERVER NAME=a",
                            ""};
  for (const char* line : kIgnored)
    EXPECT_FALSE(ParseSettings(line).ServerName.has_value()) << line;
}

TEST(Settings, LastLineWinsAndAbsentKeysStayUnset) {
  const auto s = ParseSettings("SERVER NAME=first\nSERVER NAME=second\nUSER NAME=\n");
  EXPECT_EQ("second", s.ServerName.value_or("?"));
  EXPECT_EQ("", s.UserName.value_or("?"));  // present but empty
  EXPECT_FALSE(s.Password.has_value());
  EXPECT_FALSE(s.RoleName.has_value());
}

TEST(Settings, NulEndsTheText) {
  const std::string text("USER NAME=a\0PASSWORD=b\n", 23);
  const auto s = ParseSettings(text);
  EXPECT_EQ("a", s.UserName.value_or("?"));
  EXPECT_FALSE(s.Password.has_value());
}

TEST(Settings, ValueIsNotUnquotedOrCut) {
  const auto s = ParseSettings("PASSWORD=\"p=w;d\"\n");
  EXPECT_EQ("\"p=w;d\"", s.Password.value_or("?"));
}

TEST(Settings, FileNames) {
  const struct {
    const char* name;
    bool is;
  } kCases[] = {{"dorvana.def", true}, {"X.DEF", true}, {".def", true},  {"a.Def", true},
                {"a.def.bak", false},  {"def", false},  {"a.de", false}, {"adef", false}};
  for (const auto& c : kCases) EXPECT_EQ(c.is, service::IsSettingsFileName(c.name)) << c.name;
}

TEST(Settings, ConnectTimeoutLine) {
  EXPECT_EQ("5",
            ParseSettings("SERVER NAME=a\r\nCONNECT TIMEOUT=5\r\n").ConnectTimeout.value_or("?"));
  EXPECT_FALSE(ParseSettings("SERVER NAME=a\r\n").ConnectTimeout.has_value());  // older files
  const struct {
    const char* value;
    std::optional<int> seconds;
  } kCases[] = {{"1", 1},
                {"15", 15},
                {"255", 255},
                {"007", 7},
                {"0", std::nullopt},
                {"256", std::nullopt},
                {"", std::nullopt},
                {"-5", std::nullopt},
                {"+5", std::nullopt},
                {" 5", std::nullopt},
                {"5 ", std::nullopt},
                {"5s", std::nullopt},
                {"0x10", std::nullopt},
                {"99999999999", std::nullopt},
                {"1.5", std::nullopt}};
  for (const auto& c : kCases)
    EXPECT_EQ(c.seconds, service::ConnectTimeoutSeconds(c.value)) << "'" << c.value << "'";
}

TEST(Settings, RequestTimeoutLine) {
  EXPECT_EQ("9", ParseSettings("REQUEST TIMEOUT=9\r\n").RequestTimeout.value_or("?"));
  EXPECT_FALSE(ParseSettings("CONNECT TIMEOUT=9\r\n").RequestTimeout.has_value());
  EXPECT_LT(service::kDefaultRequestTimeout, service::kMaxRequestTimeout);
  EXPECT_LT(service::kMaxRequestTimeout, 300);  // the web servers' own timeout
  const struct {
    const char* value;
    std::optional<int> seconds;
  } kCases[] = {
      {"1", 1}, {"240", 240}, {"280", 280}, {"0280", 280}, {"0", {}},           {"281", {}},
      {"", {}}, {" 5", {}},   {"5 ", {}},   {"-1", {}},    {"99999999999", {}}, {"2e2", {}}};
  for (const auto& c : kCases)
    EXPECT_EQ(c.seconds, service::RequestTimeoutSeconds(c.value)) << "'" << c.value << "'";
}

TEST(Settings, TheFirstSettingsFileInByteOrderIsChosen) {
  const struct {
    std::vector<std::string> names;
    const char* chosen;
  } kCases[] = {
      {{"test.def", "dorvana.def"}, "dorvana.def"},
      {{"z.def", "a.def", "B.def"}, "B.def"},  // bytes, not letters: "B" before "a"
      {{"\xC0.def", "z.def"}, "z.def"},        // bytes from 0x80 sort last
      {{"a.txt", "b.DEF", "a.def.bak"}, "b.DEF"},
      {{"a.txt"}, ""},
      {{}, ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.chosen, service::ChooseSettingsFile(c.names));
}
