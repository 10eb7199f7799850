#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "runtime/Exception.h"

namespace {

// A folder of its own under the system's temporary folder, removed afterwards.
class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    FDir =
        (std::filesystem::temp_directory_path() / ("dorvana-platform-" + std::to_string(random())))
            .string();
    ASSERT_TRUE(platform::CreateDir(FDir));
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(FDir, error);
  }
  std::string Path(const std::string& name) const {
    return FDir + platform::PathDelimiter() + name;
  }
  void Write(const std::string& name, const std::string& bytes) {
    bool exists = false;
    platform::TFileHandle file = platform::CreateFileExclusive(Path(name), exists);
    ASSERT_FALSE(exists) << name;
    file.WriteAll(bytes.data(), bytes.size());
    file.Close();
  }
  std::string FDir;
};

TEST_F(PlatformFiles, ListsOnlyRegularFilesMatchingTheMask) {
  for (const char* name : {"a.def", "b.txt", "c.define", "d.de", "x.def.bak", "long name.def"})
    Write(name, "x");
  ASSERT_TRUE(platform::CreateDir(Path("folder.def")));

  std::vector<std::string> names = platform::ListFiles(FDir, "*.def");
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"a.def", "long name.def"}), names);

  names = platform::ListFiles(FDir, "?.*");
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"a.def", "b.txt", "c.define", "d.de", "x.def.bak"}), names);
  EXPECT_TRUE(platform::ListFiles(Path("absent"), "*").empty());
}

TEST_F(PlatformFiles, ExclusiveCreateNeverReplacesAndKeepsBytesAsWritten) {
  // CR LF, a lone LF, Ctrl-Z and a zero byte: a text-mode write would change them.
  const std::string bytes("<a>\r\n\n\x1a\0\xff</a>", 12);
  Write("order 1.xml", bytes);
  EXPECT_TRUE(platform::FileExists(Path("order 1.xml")));
  EXPECT_EQ(bytes, platform::ReadWholeFile(Path("order 1.xml")));
  EXPECT_EQ(bytes.substr(0, 4), platform::ReadFilePrefix(Path("order 1.xml"), 4));

  bool exists = false;
  platform::TFileHandle again = platform::CreateFileExclusive(Path("order 1.xml"), exists);
  EXPECT_TRUE(exists);
  EXPECT_FALSE(again.IsOpen());
  EXPECT_EQ(bytes, platform::ReadWholeFile(Path("order 1.xml")));

  EXPECT_TRUE(platform::DeleteFile(Path("order 1.xml")));
  EXPECT_FALSE(platform::FileExists(Path("order 1.xml")));
  EXPECT_FALSE(platform::DeleteFile(Path("order 1.xml")));
}

TEST_F(PlatformFiles, CreatesAFolderOnce) {
  const std::string folder = Path("Orders");
  EXPECT_FALSE(platform::DirectoryExists(folder));
  EXPECT_TRUE(platform::CreateDir(folder));
  EXPECT_TRUE(platform::DirectoryExists(folder));
  EXPECT_FALSE(platform::FileExists(folder));
  EXPECT_FALSE(platform::CreateDir(folder));
  EXPECT_THROW(platform::CreateDir(Path("absent") + platform::PathDelimiter() + "Orders"),
               EOSError);
}

TEST_F(PlatformFiles, MovesAFileWithoutEverReplacingOne) {
  Write("order 1.xml", "first");
  Write("order 2.xml", "second");
  ASSERT_TRUE(platform::CreateDir(Path("2026-01-15")));
  const std::string dated = Path("2026-01-15") + platform::PathDelimiter();
  EXPECT_TRUE(platform::MoveFileNoReplace(Path("order 1.xml"), dated + "order 1.xml"));
  EXPECT_FALSE(platform::FileExists(Path("order 1.xml")));
  EXPECT_EQ("first", platform::ReadWholeFile(dated + "order 1.xml"));
  // A taken name: both files stay as they are.
  Write("order 1.xml", "again");
  EXPECT_FALSE(platform::MoveFileNoReplace(Path("order 1.xml"), dated + "order 1.xml"));
  EXPECT_EQ("again", platform::ReadWholeFile(Path("order 1.xml")));
  EXPECT_EQ("first", platform::ReadWholeFile(dated + "order 1.xml"));
  // Any other failure raises with both names.
  try {
    platform::MoveFileNoReplace(Path("absent.xml"), dated + "absent.xml");
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_NE(std::string::npos, e.Message().find("absent.xml")) << e.Message();
  }
}

TEST_F(PlatformFiles, ListsFoldersAndFileTimes) {
  Write("order 1.xml", "x");
  ASSERT_TRUE(platform::CreateDir(Path("2026-01-15")));
  ASSERT_TRUE(platform::CreateDir(Path("b")));
  std::vector<std::string> dirs = platform::ListDirs(FDir);
  std::sort(dirs.begin(), dirs.end());
  EXPECT_EQ((std::vector<std::string>{"2026-01-15", "b"}), dirs);
  EXPECT_TRUE(platform::ListDirs(Path("absent")).empty());

  int64_t written = 0;
  ASSERT_TRUE(platform::FileModifiedTime(Path("order 1.xml"), written));
  const int64_t now = platform::UnixTimeNow();
  EXPECT_LE(written, now);
  EXPECT_GT(written, now - 60);
  EXPECT_FALSE(platform::FileModifiedTime(Path("absent.xml"), written));
}

TEST_F(PlatformFiles, FailuresRaiseWithThePath) {
  bool exists = false;
  const std::string inMissingFolder = Path("absent") + platform::PathDelimiter() + "x.xml";
  try {
    platform::CreateFileExclusive(inMissingFolder, exists);
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(0u, e.Message().find("Cannot create file \"" + inMissingFolder + "\": "))
        << e.Message();
  }
  EXPECT_FALSE(exists);
  EXPECT_THROW(platform::ReadWholeFile(Path("absent.def")), EOSError);
}

TEST(PlatformLibraries, MissingLibraryIsNullAndSaysWhy) {
  EXPECT_EQ(nullptr, platform::LoadLibrary("dorvana-no-such-library.dll"));
  EXPECT_FALSE(platform::LastLoadError().empty());
  EXPECT_EQ(nullptr, platform::GetProcAddress(nullptr, "isc_attach_database"));
}

TEST(PlatformEnvironment, ExecutableAndClocks) {
  EXPECT_TRUE(platform::FileExists(platform::ExecutablePath())) << platform::ExecutablePath();
  EXPECT_TRUE(platform::DirectoryExists(platform::CurrentDir()));
  EXPECT_EQ("", platform::GetEnv("DORVANA_SURELY_UNSET_VARIABLE"));
  int64_t a = 0, b = 0;
  ASSERT_TRUE(platform::HighResolutionCounter(a));
  ASSERT_TRUE(platform::HighResolutionCounter(b));
  EXPECT_LE(a, b);
  // Days since 1899-12-30: 2020-01-01 is day 43831.
  const double now = platform::LocalNow();
  EXPECT_GT(now, 43831.0);
  EXPECT_LT(now, 43831.0 + 365.25 * 100);
}

// The regional settings follow the host's: the Windows pass runs this test once
// in a prefix whose user locale has a comma decimal mark, with the expected values
// in DORVANA_EXPECT_* variables. Without them only the form is checked.
TEST(PlatformRegional, FollowsTheHostSettings) {
  const std::string mark = platform::GetEnv("DORVANA_EXPECT_DECIMAL_MARK");
  const std::string date = platform::GetEnv("DORVANA_EXPECT_SHORT_DATE");
  const std::string time = platform::GetEnv("DORVANA_EXPECT_LONG_TIME");
  if (!mark.empty()) {
    EXPECT_EQ(mark[0], platform::RegionalDecimalMark());
  }
  if (!date.empty()) {
    EXPECT_EQ(date, platform::RegionalShortDateFormat());
  }
  if (!time.empty()) {
    EXPECT_EQ(time, platform::RegionalLongTimeFormat());
  }
  for (const std::string& format :
       {platform::RegionalShortDateFormat(), platform::RegionalLongTimeFormat()}) {
    EXPECT_FALSE(format.empty());
    EXPECT_EQ(std::string::npos, format.find_first_of("MHt%")) << format;
  }
  EXPECT_NE(std::string::npos, platform::RegionalShortDateFormat().find('y'));
  EXPECT_NE(std::string::npos, platform::RegionalLongTimeFormat().find('n'));
}

}  // namespace
