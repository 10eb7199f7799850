#include "service/Archive.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/Platform.h"
#include "tests/support/ExpectThrow.h"

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
  // The archive's name of a copy, with the system's own separator.
  static std::string InOrders(const std::string& name) {
    return "Orders" + platform::PathDelimiter() + name;
  }
  // The full path of a copy as a failure names it.
  std::string FullPath(const std::string& name) const {
    return FDir.string() + platform::PathDelimiter() + InOrders(name);
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
  EXPECT_EQ(InOrders("order 0.xml"), path);  // seed 0 draws 0 first
  EXPECT_EQ(text, Read(path));
}

TEST_F(Archive, ATakenNameDrawsAgain) {
  std::filesystem::create_directory("Orders");
  std::ofstream("Orders/order 0.xml") << "older order";
  EXPECT_EQ(InOrders("order 3137.xml"), service::ArchiveOrder("new", 0));
  EXPECT_EQ("older order", Read("Orders/order 0.xml"));
  EXPECT_EQ("new", Read("Orders/order 3137.xml"));
}

// Eight taken names in a row: the ninth draw comes from the wider range, so a
// folder flooded with copies still takes orders.
TEST_F(Archive, ACrowdedRangeDrawsFromTheWiderOne) {
  std::filesystem::create_directory("Orders");
  for (const char* n : {"0", "3137", "86104", "20258", "27292", "67165", "31869", "16179"})
    std::ofstream(std::string("Orders/order ") + n + ".xml") << "kept";
  EXPECT_EQ(InOrders("order 37223835.xml"), service::ArchiveOrder("new", 0));
  EXPECT_EQ("new", Read("Orders/order 37223835.xml"));
  EXPECT_EQ(37223835u, service::ArchiveNameNumber("order 37223835.xml"));
  for (const char* name : {"order 00.xml", "order .xml", "order 123456789.xml", "order 1.XML",
                           "order -1.xml", "order 1.xml.tmp"})
    EXPECT_FALSE(service::ArchiveNameNumber(name)) << name;
}

TEST_F(Archive, GivesUpWhenEveryDrawIsTaken) {
  std::filesystem::create_directory("Orders");
  service::TArchiveNumbers numbers(5);
  for (int i = 0; i < service::kMaxArchiveDraws; ++i)
    std::ofstream("Orders/order " +
                  std::to_string(i < service::kNarrowDraws ? numbers.Next() : numbers.NextWide()) +
                  ".xml")
        << "kept";
  const size_t before = FileCount();
  try {
    service::ArchiveOrder("new", 5);
    FAIL() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(0u, e.Message().find("Cannot create file \"" + FullPath("order "))) << e.Message();
  }
  EXPECT_EQ(before, FileCount());
}

TEST_F(Archive, NoFolderMeansCannotCreate) {
  std::ofstream("Orders") << "a file where the folder belongs";
  // The system's own words for a path through a file.
#ifdef _WIN32
  const int kThroughAFile = 3;  // ERROR_PATH_NOT_FOUND
#else
  const int kThroughAFile = ENOTDIR;
#endif
  EXPECT_TRUE(ThrowsExactly<EFCreateError>([] { service::ArchiveOrder("new", 0); },
                                           "EFCreateError: Cannot create file \"" +
                                               FullPath("order 0.xml") + "\". " +
                                               platform::SysErrorMessage(kThroughAFile)));
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
