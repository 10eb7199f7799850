#include "service/Service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <vector>

using service::FormatPrice;
using service::OrderErrorLine;
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

TEST(FormatPrice, Examples) {
  const struct {
    double value;
    const char* text;
  } kCases[] = {{12.5, "12.5"},
                {12, "12"},
                {0.125, "0.13"},
                {0.004, "0"},
                {-0.004, "0"},
                {-3.456, "-3.46"},
                {1234.5, "1234.5"},
                {0.1, "0.1"},
                {2.675, "2.67"},
                {99.999, "100"},
                {100, "100"},
                {0.5, "0.5"},
                {0, "0"},
                {-0.0, "0"},
                {0.005, "0.01"},
                {-0.005, "-0.01"},
                {1.005, "1"},
                {9.995, "9.99"},
                {0.995, "0.99"},
                {-99.995, "-100"},
                {1e-300, "0"},
                {123456789012345.67, "123456789012345.67"},
                {2147483648.5, "2147483648.5"},
                {390, "390"},
                {0.64, "0.64"}};
  for (const auto& c : kCases) EXPECT_EQ(c.text, FormatPrice(c.value, '.')) << c.value;
}

TEST(FormatPrice, UsesTheDecimalMark) {
  EXPECT_EQ("0,5", FormatPrice(0.5, ','));
  EXPECT_EQ("-1,25", FormatPrice(-1.25, ','));
  EXPECT_EQ("7", FormatPrice(7, ','));
}

TEST(FormatPrice, OutsideThePattern) {
  EXPECT_EQ("1e+18", FormatPrice(1e18, '.'));
  EXPECT_EQ("-2.5e+20", FormatPrice(-2.5e20, '.'));
  EXPECT_EQ("inf", FormatPrice(std::numeric_limits<double>::infinity(), '.'));
}

TEST(OrderErrorLine, PicksTheLineAfterTheLastMarker) {
  const struct {
    const char* message;
    const char* reply;
  } kCases[] = {
      {"exception 5\r\nEX_RESTAURANT_UNKNOWN_ITEM\r\nНет позиции\r\nAt procedure 'P' line: 1",
       "Нет позиции"},
      {"exception 5\nEX_RESTAURANT_A\nfirst\nEX_RESTAURANT_B\rsecond\rtail", "second"},
      {"prefix: EX_RESTAURANT_X raised\nnext line", "next line"},
      {"EX_RESTAURANT_X\r\n\r\nafter blank", ""},
      {"no marker here\r\nsecond line", "no marker here\r\nsecond line"},
      {"exception 1\r\nEX_RESTAURANT_LAST", "exception 1\r\nEX_RESTAURANT_LAST"},
      {"exception 1\r\nEX_RESTAURANT_LAST\r\n", "exception 1\r\nEX_RESTAURANT_LAST\r\n"},
      {"ex_restaurant_lower\nnot taken", "ex_restaurant_lower\nnot taken"},
      {"", ""}};
  for (const auto& c : kCases) EXPECT_EQ(c.reply, OrderErrorLine(c.message)) << c.message;
}

TEST(ArchiveNumbers, FollowTheGenerator) {
  // seed 0: 1, then 1 * 134775813 + 1 = 134775814, ...
  service::TArchiveNumbers numbers(0);
  EXPECT_EQ(0u, numbers.Next());     // 1 * 100000 >> 32
  EXPECT_EQ(3137u, numbers.Next());  // 134775814 * 100000 >> 32
  // This seed makes the next one 2^32 - 1: the top of the range.
  service::TArchiveNumbers top(0x4D60AE66u);
  EXPECT_EQ(99999u, top.Next());
}

TEST(ArchiveNumbers, StayInRangeAndSpread) {
  service::TArchiveNumbers numbers(123456789);
  std::set<uint32_t> seen;
  for (int i = 0; i < 1000; ++i) {
    const uint32_t n = numbers.Next();
    ASSERT_LT(n, 100000u);
    seen.insert(n);
  }
  EXPECT_GT(seen.size(), 990u);
}

// The archive works in the working directory: each test gets a fresh one.
class Archive : public ::testing::Test {
 protected:
  void SetUp() override {
    FOld = std::filesystem::current_path();
    FDir = std::filesystem::temp_directory_path() /
           ("dorvana-archive-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    std::filesystem::current_path(FDir);
  }
  void TearDown() override {
    std::filesystem::current_path(FOld);
    std::filesystem::remove_all(FDir);
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static size_t FileCount() {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator("Orders")) n += e.is_regular_file();
    return n;
  }
  std::filesystem::path FOld, FDir;
};

TEST_F(Archive, CreatesTheFolderAndKeepsTheBytes) {
  const std::string text("<ORDER>\r\n<GUID>\xC0\x01</GUID>\r\n\0tail\r\n", 34);
  const std::string path = service::ArchiveOrder(text, 0);
  EXPECT_EQ("Orders/order 0.xml", path);  // seed 0 draws 0 first
  EXPECT_EQ(text, Read(path));
}

TEST_F(Archive, ATakenNameDrawsAgain) {
  std::filesystem::create_directory("Orders");
  std::ofstream("Orders/order 0.xml") << "older order";
  EXPECT_EQ("Orders/order 3137.xml", service::ArchiveOrder("new", 0));
  EXPECT_EQ("older order", Read("Orders/order 0.xml"));
  EXPECT_EQ("new", Read("Orders/order 3137.xml"));
}

TEST_F(Archive, GivesUpWhenEveryDrawIsTaken) {
  std::filesystem::create_directory("Orders");
  service::TArchiveNumbers numbers(5);
  for (int i = 0; i < service::kMaxArchiveDraws; ++i)
    std::ofstream("Orders/order " + std::to_string(numbers.Next()) + ".xml") << "kept";
  const size_t before = FileCount();
  try {
    service::ArchiveOrder("new", 5);
    FAIL() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(0u, e.Message().find("Cannot create file \"" + FDir.string() + "/Orders/order "))
        << e.Message();
  }
  EXPECT_EQ(before, FileCount());
}

TEST_F(Archive, NoFolderMeansCannotCreate) {
  std::ofstream("Orders") << "a file where the folder belongs";
  try {
    service::ArchiveOrder("new", 0);
    FAIL() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ("Cannot create file \"" + FDir.string() + "/Orders/order 0.xml\". Not a directory",
              e.Message());
  }
}

// A write cut short by the file size limit must leave no partial copy behind.
// Runs in a child process, which alone gets the limit.
void WriteOverTheSizeLimit() {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 1000;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  bool failed = false;
  try {
    service::ArchiveOrder(std::string(5000, 'x'), 0);
  } catch (const EFCreateError& e) {
    failed = e.Message().find("Cannot create file") == 0;
  }
  const bool noFile = std::filesystem::is_empty("Orders");
  // The child's own folder: no TearDown runs here.
  const std::filesystem::path dir = std::filesystem::current_path();
  std::filesystem::current_path(dir.parent_path());
  std::filesystem::remove_all(dir);
  std::exit(failed && noFile ? 0 : 1);
}

TEST_F(Archive, AFailedWriteLeavesNoFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WriteOverTheSizeLimit(), ::testing::ExitedWithCode(0), "");
}
