#include "service/ArchiveScan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/Platform.h"

namespace {

using service::TArchivedCopy;
using service::TOrderFacts;

std::string Order(const std::string& guidElement, const std::string& table = "5") {
  return "<?xml version='1.0' encoding='windows-1251'?>\r\n<ORDER>\r\n" + guidElement +
         "<DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>" + table +
         "</TABLE><FOODS><food>301<count>1</count><weight>0</weight><isModificator>no"
         "</isModificator></food><food>302<count>2</count><weight>0</weight><isModificator>"
         "Y</isModificator></food></FOODS></ORDER>\r\n";
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

// What the import would fail on before it reaches the database.
TEST(ArchiveScan, TellsWhyACopyCannotBeImported) {
  const std::string noGuid = "The order has no GUID element: nothing was imported.";
  const std::string blank = "The order's GUID is empty: nothing was imported.";
  const std::string row =
      "<food>1<count>1</count><weight>0</weight><isModificator>no</isModificator></food>";
  const struct {
    std::string text;
    std::string error;  // "?": some reader message
    bool hasGuid;
  } kCases[] = {
      {Order(""), noGuid, false},
      {Order("<GUID> \t</GUID>"), blank, false},
      {Order("<GUID>\xA0 </GUID>"), blank, false},
      {Order("<GUID>&#160;</GUID>"), blank, false},
      {Order("<GUID>&#xA0;\r\n</GUID>"), blank, false},
      {Order("<GUID>\xA0x</GUID>"), "", true},
      {Order("<GUID>g</GUID>", "x"), "'x' is not a valid integer value", true},
      {"<O><GUID>g</GUID><PIN>1</PIN><TABLE>1</TABLE><FOODS/></O>",
       "The order has no DEVICEID element.", true},
      {"<O><GUID>g</GUID><DEVICEID/><PIN/><TABLE>1</TABLE><FOODS>" + row + "<!--c--></FOODS></O>",
       "?", true},
      {"<O><GUID>g</GUID><DEVICEID/><PIN/><TABLE>1</TABLE><FOODS><f>1<count>1</count>"
       "<weight>0</weight><isModificator>1</isModificator></f></FOODS></O>",
       "Cannot convert value to bool", true},
      {"<O><GUID>g</GUID><DEVICEID/><PIN/><TABLE>1</TABLE><FOODS>" + row + "</FOODS></O>", "",
       true},
      {"<ORDER><GUID>g</GUID>", "?", false},
      {"", "?", false},
  };
  for (const auto& c : kCases) {
    const TOrderFacts f = service::ReadOrderFacts(c.text);
    if (c.error == "?")
      EXPECT_NE("", f.Error) << c.text;
    else
      EXPECT_EQ(c.error, f.Error) << c.text;
    EXPECT_EQ(c.hasGuid, f.HasGuid) << c.text;
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

TEST(ArchiveScan, TheNewestCopyStandsForAGuid) {
  service::TNewestCopies newest;
  const struct {
    const char* key;
    int64_t time;
  } kOffers[] = {{"a", 100}, {"a", 300}, {"a", 200}, {"b", 50}, {"b", 50}};
  for (size_t i = 0; i < std::size(kOffers); ++i) newest.Offer(kOffers[i].key, i, kOffers[i].time);
  EXPECT_EQ(1, newest.Find("a"));
  EXPECT_EQ(4, newest.Find("b"));  // same time: the later path
  EXPECT_EQ(-1, newest.Find("c"));
  // A long GUID's key is short, and tells GUIDs of one start apart.
  const std::string longGuid(1 << 20, 'g');
  EXPECT_GT(200u, service::GuidKey(longGuid).size());
  EXPECT_NE(service::GuidKey(longGuid), service::GuidKey(longGuid + "h"));
  EXPECT_EQ("g-1", service::GuidKey("g-1"));
}

TEST(ArchiveScan, OneLineFields) {
  EXPECT_EQ("a b  c", service::OneLine("a\tb\r\nc\n\n"));
  EXPECT_EQ("", service::OneLine("\x01\x7f"));
}

// The archive of a working folder of its own: the folder itself and its dated
// subfolders, other subfolders, files and links left out; times before 1970 too.
TEST(ArchiveScan, ListsTheFolderAndItsDatedSubfoldersWithoutLinks) {
  namespace fs = std::filesystem;
  std::random_device random;
  const fs::path dir = fs::temp_directory_path() / ("dorvana-scan-" + std::to_string(random()));
  fs::create_directories(dir / "Orders" / "2026-01-15");
  fs::create_directories(dir / "Orders" / "old");
  fs::create_directories(dir / "Orders" / "refused" / "2026-01-15");
  fs::create_directories(dir / "elsewhere");
  auto write = [&](const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  write(dir / "Orders" / "order 1.xml", Order("<GUID>g-1</GUID>"));
  write(dir / "Orders" / "order 2.xml", "<ORDER>");
  write(dir / "Orders" / "notes.txt", "not an order");
  write(dir / "Orders" / "2026-01-15" / "order 1.xml", Order("<GUID>g-0</GUID>"));
  write(dir / "Orders" / "old" / "order 9.xml", Order("<GUID>g-9</GUID>"));
  write(dir / "Orders" / "refused" / "2026-01-15" / "order 8.xml", "x");
  write(dir / "elsewhere" / "secret.xml", Order("<GUID>secret</GUID>"));
  fs::create_symlink(dir / "elsewhere" / "secret.xml", dir / "Orders" / "order 3.xml");
  fs::create_directory_symlink(dir / "elsewhere", dir / "Orders" / "2020-01-05");
  fs::last_write_time(
      dir / "Orders" / "order 2.xml",
      fs::last_write_time(dir / "Orders" / "order 1.xml") - std::chrono::hours(24 * 365 * 60));
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  const std::vector<TArchivedCopy> copies = service::ListArchive(std::nullopt);
  const std::vector<TArchivedCopy> top = service::ListArchive(std::nullopt, false);
  const std::vector<TArchivedCopy> none = service::ListArchive(platform::UnixTimeNow() + 86400);
  const std::vector<TArchivedCopy> refused = service::ListRefusedCopies();
  std::vector<TOrderFacts> facts;
  for (const TArchivedCopy& c : copies) facts.push_back(service::ReadCopy(c));
  const TOrderFacts link = service::ReadCopy({"Orders/order 3.xml", "order 3.xml", "", 0, 0});
  fs::current_path(before);
  fs::remove_all(dir);

  const std::string sep = platform::PathDelimiter();
  ASSERT_EQ(3u, copies.size());
  EXPECT_EQ("Orders" + sep + "2026-01-15" + sep + "order 1.xml", copies[0].Path);
  EXPECT_EQ("2026-01-15", copies[0].Subfolder);
  EXPECT_EQ("g-0", facts[0].Guid);
  EXPECT_EQ("order 1.xml", copies[1].Name);
  EXPECT_EQ("", copies[1].Subfolder);
  EXPECT_EQ("g-1", facts[1].Guid);
  EXPECT_NE("", facts[2].Error);
  EXPECT_LT(copies[2].Time, 0);  // before 1970
  EXPECT_EQ(2u, top.size());
  EXPECT_TRUE(none.empty());
  ASSERT_EQ(1u, refused.size());
  EXPECT_EQ(1u, refused[0].Size);
  EXPECT_EQ("", link.Guid);  // a link is never opened
  EXPECT_NE("", link.Error);
}

}  // namespace
