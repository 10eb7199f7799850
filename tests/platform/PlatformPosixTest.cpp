#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace {

// Each test works in a fresh folder of its own.
class PlatformPosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("dorvana-platform-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string At(const std::string& name) const { return (FDir / name).string(); }
  std::filesystem::path FDir;
};

TEST_F(PlatformPosixFiles, CreateDirTellsCreatedFromTaken) {
  EXPECT_TRUE(platform::CreateDir(At("a")));
  EXPECT_TRUE(platform::DirectoryExists(At("a")));
  EXPECT_FALSE(platform::CreateDir(At("a")));
  std::ofstream(At("f")) << "x";
  EXPECT_FALSE(platform::CreateDir(At("f")));  // a file holds the name
}

TEST_F(PlatformPosixFiles, CreateDirRaisesWithTheSystemsErrorNumber) {
  try {
    platform::CreateDir(At("missing/sub"));
    FAIL() << "no error";
  } catch (const EOSError& e) {
    EXPECT_EQ(ENOENT, e.Code());
    EXPECT_EQ("Cannot create folder \"" + At("missing/sub") + "\": No such file or directory",
              e.Message());
  }
}

TEST_F(PlatformPosixFiles, ReadingAMissingFileRaisesWithItsErrorNumber) {
  for (auto read : {+[](const std::string& p) { return platform::ReadWholeFile(p); },
                    +[](const std::string& p) { return platform::ReadFilePrefix(p, 10); }}) {
    try {
      read(At("none"));
      FAIL() << "no error";
    } catch (const EOSError& e) {
      EXPECT_EQ(ENOENT, e.Code());
      EXPECT_EQ("Cannot open file \"" + At("none") + "\": No such file or directory", e.Message());
    }
  }
}

TEST_F(PlatformPosixFiles, ReadsWholeFilesAndPrefixes) {
  const std::string big(200000, 'b');  // more than one read's worth
  std::ofstream(At("big"), std::ios::binary) << big;
  std::ofstream(At("empty"), std::ios::binary);
  EXPECT_EQ(big, platform::ReadWholeFile(At("big")));
  EXPECT_EQ("bbb", platform::ReadFilePrefix(At("big"), 3));
  EXPECT_EQ("", platform::ReadWholeFile(At("empty")));
  EXPECT_EQ("", platform::ReadFilePrefix(At("empty"), 3));
}

TEST_F(PlatformPosixFiles, ListFilesNamesMatchingRegularFilesOnly) {
  std::ofstream(At("a.def")) << "";
  std::ofstream(At("b.DEF")) << "";
  std::ofstream(At("c.txt")) << "";
  std::filesystem::create_directory(At("d.def"));
  std::vector<std::string> names = platform::ListFiles(FDir.string(), "*.def");
  EXPECT_EQ(std::vector<std::string>{"a.def"}, names);
  EXPECT_TRUE(platform::ListFiles(At("none"), "*").empty());
}

TEST_F(PlatformPosixFiles, ExclusiveCreationKeepsAnExistingFile) {
  std::ofstream(At("taken")) << "kept";
  bool exists = false;
  platform::TFileHandle file = platform::CreateFileExclusive(At("taken"), exists);
  EXPECT_TRUE(exists);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ("kept", platform::ReadWholeFile(At("taken")));

  file = platform::CreateFileExclusive(At("new"), exists);
  EXPECT_FALSE(exists);
  file.WriteAll("abc", 3);
  file.Close();
  EXPECT_EQ("abc", platform::ReadWholeFile(At("new")));
}

TEST_F(PlatformPosixFiles, WritingAClosedHandleRaises) {
  platform::TFileHandle file;
  EXPECT_THROW(file.WriteAll("x", 1), EOSError);
  EXPECT_NO_THROW(file.Close());
}

// The write that crosses the file-size limit raises there, with its own error
// number. Runs in a child process, which alone gets the limit.
void WriteOverTheSizeLimit(const std::string& path) {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 1000;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  bool exists = false;
  platform::TFileHandle file = platform::CreateFileExclusive(path, exists);
  int code = -1;
  std::string message;
  try {
    file.WriteAll(std::string(5000, 'x').data(), 5000);
  } catch (const EOSError& e) {
    code = e.Code();
    message = e.Message();
  }
  std::exit(code == EFBIG && message == "Cannot write file \"" + path + "\": File too large" ? 0
                                                                                             : 1);
}

TEST_F(PlatformPosixFiles, AFailedWriteRaisesWhereItFails) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WriteOverTheSizeLimit(At("limited")), ::testing::ExitedWithCode(0), "");
}

}  // namespace
