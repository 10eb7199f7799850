#include "service/ArchiveScan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/Platform.h"

namespace {

using service::TArchivedCopy;
using service::TOrderFacts;

std::string Order(const std::string& guidElement, const std::string& table = "5") {
  return "<?xml version='1.0' encoding='windows-1251'?>\r\n<ORDER>\r\n" + guidElement +
         "<DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>" + table +
         "</TABLE><FOODS><food>301<count>1</count></food><food>302<count>2</count></food>"
         "</FOODS></ORDER>\r\n";
}

TEST(ArchiveScan, ReadsAnOrderAsAddorderDoes) {
  const TOrderFacts f = service::ReadOrderFacts(Order("<GUID>g-1</GUID>", "12"));
  EXPECT_EQ("g-1", f.Guid);
  EXPECT_EQ("HALL-1", f.DeviceId);
  EXPECT_EQ("1001", f.Pin);
  EXPECT_EQ("12", f.Table);
  EXPECT_EQ(2, f.Rows);
  EXPECT_EQ("", f.Error);
  // Element names in any letter case, as the import reads them.
  EXPECT_EQ("g-2", service::ReadOrderFacts("<order><guid>g-2</guid></order>").Guid);
}

TEST(ArchiveScan, TellsWhyACopyCannotBeImported) {
  const struct {
    std::string text;
    std::string error;
  } kCases[] = {
      {Order(""), "The order has no GUID element: nothing was imported."},
      {Order("<GUID> \t</GUID>"), "The order's GUID is empty: nothing was imported."},
      {"<ORDER><GUID>g</GUID>", ""},  // a reader message: checked for being set
      {"", ""},
      {"not xml", ""},
  };
  for (const auto& c : kCases) {
    const TOrderFacts f = service::ReadOrderFacts(c.text);
    if (!c.error.empty())
      EXPECT_EQ(c.error, f.Error) << c.text;
    else
      EXPECT_NE("", f.Error) << c.text;
  }
}

TEST(ArchiveScan, DatedFolderNames) {
  const struct {
    const char* name;
    bool valid;
  } kCases[] = {{"2026-01-15", true},  {"2024-02-29", true},   {"2026-02-29", false},
                {"2026-13-01", false}, {"2026-00-10", false},  {"2026-01-00", false},
                {"2026-1-15", false},  {"2026_01_15", false},  {"20260115xx", false},
                {"", false},           {"2026-01-15 ", false}, {"1900-02-29", false}};
  for (const auto& c : kCases) {
    EXPECT_EQ(c.valid, service::IsDateFolderName(c.name)) << c.name;
    EXPECT_EQ(c.valid, service::ParseDate(c.name).has_value()) << c.name;
  }
  // 2026-01-15 00:00:00 UTC is 1768435200 s after 1970 (20468 days).
  EXPECT_EQ(1768435200, *service::ParseDate("2026-01-15"));
  EXPECT_EQ("2026-01-15", service::DateFolderName(1768435200));
  EXPECT_EQ("2026-01-15", service::DateFolderName(1768435200 + 86399));
  EXPECT_EQ("2026-01-16", service::DateFolderName(1768435200 + 86400));
}

TEST(ArchiveScan, TheNewestReadableCopyStandsForAGuid) {
  auto copy = [](const char* path, const char* guid, int64_t time, const char* error = "") {
    TArchivedCopy c;
    c.Path = path;
    c.Facts.Guid = guid;
    c.Facts.Error = error;
    c.Time = time;
    return c;
  };
  const std::vector<TArchivedCopy> copies = {
      copy("Orders/order 1.xml", "a", 100),      copy("Orders/order 2.xml", "a", 300),
      copy("Orders/order 3.xml", "a", 200),      copy("Orders/order 4.xml", "b", 50),
      copy("Orders/order 5.xml", "b", 50),        // same time: the later path
      copy("Orders/order 6.xml", "b", 900, "x"),  // unreadable: never chosen
      copy("Orders/order 7.xml", "c", 10, "x"),
  };
  EXPECT_EQ((std::vector<int>{1, 4, -1, -1}),
            service::NewestCopies(copies, {"a", "b", "c", "absent"}));
}

TEST(ArchiveScan, OneLineFields) {
  EXPECT_EQ("a b  c", service::OneLine("a\tb\r\nc\n\n"));
  EXPECT_EQ("", service::OneLine("\x01\x7f"));
}

// The archive of a working folder of its own: the folder itself and its dated
// subfolders, other subfolders and files left out.
TEST(ArchiveScan, ReadsTheFolderAndItsDatedSubfolders) {
  namespace fs = std::filesystem;
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("dorvana-scan-" + std::to_string(random()));
  fs::create_directories(dir / "Orders" / "2026-01-15");
  fs::create_directories(dir / "Orders" / "old");
  auto write = [&](const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  write(dir / "Orders" / "order 1.xml", Order("<GUID>g-1</GUID>"));
  write(dir / "Orders" / "order 2.xml", "<ORDER>");
  write(dir / "Orders" / "notes.txt", "not an order");
  write(dir / "Orders" / "2026-01-15" / "order 1.xml", Order("<GUID>g-0</GUID>"));
  write(dir / "Orders" / "old" / "order 9.xml", Order("<GUID>g-9</GUID>"));
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  int calls = 0;
  const std::vector<TArchivedCopy> copies =
      service::ScanArchive(0, [&](size_t, size_t) { ++calls; });
  const std::vector<TArchivedCopy> none =
      service::ScanArchive(platform::UnixTimeNow() + 86400, nullptr);
  fs::current_path(before);
  fs::remove_all(dir);

  const std::string sep = platform::PathDelimiter();
  ASSERT_EQ(3u, copies.size());
  EXPECT_EQ("Orders" + sep + "2026-01-15" + sep + "order 1.xml", copies[0].Path);
  EXPECT_EQ("2026-01-15", copies[0].Subfolder);
  EXPECT_EQ("g-0", copies[0].Facts.Guid);
  EXPECT_EQ("order 1.xml", copies[1].Name);
  EXPECT_EQ("", copies[1].Subfolder);
  EXPECT_EQ("g-1", copies[1].Facts.Guid);
  EXPECT_NE("", copies[2].Facts.Error);
  EXPECT_EQ(0, calls);  // fewer copies than one progress step
  EXPECT_TRUE(none.empty());
}

}  // namespace
