#include "fb/IB_Intf.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "FbTestSupport.h"
#include "fb/FIBDatabase.h"
#include "fb/IB_CallCounter.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "tests/support/ExpectThrow.h"

namespace {

using fbtest::FakeClientPath;

TEST(ClientLibrary, SameNameSharesOneLibrary) {
  const std::string path = FakeClientPath("full");
  // The fake keeps what earlier tests in this process scripted (a failing
  // attach, for one): these connects need it plain.
  reinterpret_cast<void (*)()>(fbtest::FakeEntry(path, "fake_reset"))();
  IIBClientLibraryRef a = AcquireClientLibrary(path);
  IIBClientLibraryRef b = AcquireClientLibrary(path);
  EXPECT_EQ(a.get(), b.get());

  // Two connections naming the same library use the one object.
  TFIBDatabase first, second;
  for (TFIBDatabase* db : {&first, &second}) {
    db->SetLibraryName(path);
    db->SetDBName("fake.fdb");
    db->SetSynchronizeTime(false);
    db->SetConnected(true);
  }
  EXPECT_EQ(a.get(), first.ClientLibrary());
  EXPECT_EQ(a.get(), second.ClientLibrary());
}

TEST(ClientLibrary, NamesAreComparedByteForByte) {
  // The same file under another spelling of its path is a library of its own.
  const std::string path = FakeClientPath("full");
  const std::string other = std::filesystem::path(path).parent_path().string() + "/./" +
                            std::filesystem::path(path).filename().string();
  EXPECT_NE(AcquireClientLibrary(path).get(), AcquireClientLibrary(other).get());
}

TEST(ClientLibrary, MissingLibraryIsNotRegisteredAndIsTriedAgain) {
  fbtest::TTempFolder folder;
  const std::string name = folder.Path() + platform::PathDelimiter() + "fbclient.dll";
  EXPECT_TRUE(ThrowsExactly<ELibraryLoadError>([&] { AcquireClientLibrary(name); },
                                               "Exception: Can't load library " + name + " "));
  const auto error = Caught<ELibraryLoadError>([&] { AcquireClientLibrary(name); });
  ASSERT_TRUE(error);
  // The loader's reason names the file and says, in the system's words, that
  // it is not there.
#ifdef _WIN32
  const int kNotThere = 126;  // ERROR_MOD_NOT_FOUND
#else
  const int kNotThere = ENOENT;
#endif
  EXPECT_EQ(0u, error->Reason().find(name)) << error->Reason();
  EXPECT_NE(std::string::npos, error->Reason().find(platform::SysErrorMessage(kNotThere)))
      << error->Reason();
  // Once the file is there, the next attempt loads it.
  std::filesystem::copy_file(FakeClientPath("full"), name);
  EXPECT_EQ(name, AcquireClientLibrary(name)->LibraryName());
}

TEST(ClientLibrary, AFileThatIsNoLibraryKeepsTheLoadersReason) {
  fbtest::TTempFolder folder;
  const std::string name = folder.Path() + "/notalibrary.so";
  {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fputs("not a library\n", f);
    std::fclose(f);
  }
  const auto error = Caught<ELibraryLoadError>([&] { AcquireClientLibrary(name); });
  ASSERT_TRUE(error) << "loaded a text file";
  EXPECT_EQ("Can't load library " + name + " ", error->Message());
  // The loader names what is wrong with the file.
  EXPECT_NE(std::string::npos, error->Reason().find(name)) << error->Reason();
  EXPECT_NE(error->Reason(), name) << error->Reason();
}

TEST(ClientLibrary, ConnectReportsLoadFailureAndTriesAgain) {
  TFIBDatabase db;
  db.SetLibraryName("fbclient-missing.dll");
  db.SetDBName("x.fdb");
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_TRUE(ThrowsExactly<ELibraryLoadError>(
        [&] { db.SetConnected(true); }, "Exception: Can't load library fbclient-missing.dll "));
  }
  EXPECT_FALSE(db.Connected());
}

TEST(ClientLibrary, MissingRequiredEntryFailsTheLoad) {
  const std::string path = FakeClientPath("nosqlcode");
  // Reported as the system reports a missing file (code 2 on both systems), in
  // its own words without the closing full stop.
  std::string text = platform::SysErrorMessage(2);
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_TRUE(ThrowsExactly<EOSError>([&] { AcquireClientLibrary(path); },
                                        "EOSError: System Error.  Code: 2.\r\n" + text));
  }
}

TEST(ClientLibrary, VersionFollowsTheEntriesPresent) {
  const struct {
    const char* variant;
    int major, minor;
  } kCases[] = {{"full", 3, 7}, {"noclientversion", 6, 0}, {"norollbackretaining", 3, 7}};
  for (const auto& c : kCases) {
    IIBClientLibraryRef library = AcquireClientLibrary(FakeClientPath(c.variant));
    EXPECT_EQ(c.major, library->ClientMajorVersion()) << c.variant;
    EXPECT_EQ(c.minor, library->ClientMinorVersion()) << c.variant;
  }
}

TEST(ClientLibrary, WithoutRollbackRetainingItsGroupStaysUnbound) {
  const std::string path = FakeClientPath("norollbackretaining");
  IIBClientLibraryRef library = AcquireClientLibrary(path);
  EXPECT_EQ(nullptr, library->Entries().isc_rollback_retaining);
  // Exported by the file, but bound only along with isc_rollback_retaining.
  EXPECT_EQ(nullptr, library->Entries().isc_decode_timestamp);
  EXPECT_TRUE(
      ThrowsExactly<Exception>([&] { library->isc_decode_timestamp(nullptr, nullptr); },
                               "Exception: Can't find procedure isc_decode_timestamp in " + path));
  EXPECT_TRUE(ThrowsExactly<Exception>(
      [&] { library->isc_rollback_retaining(StatusVector(), nullptr); },
      "Exception: Can't find procedure isc_rollback_retaining in " + path));
  EXPECT_FALSE(library->InLibraryCall());
}

TEST(ClientLibrary, RealLibraryBindsEverythingItExports) {
  IIBClientLibraryRef library = AcquireClientLibrary("fbclient.dll");
  EXPECT_EQ("fbclient.dll", library->LibraryName());
  EXPECT_GE(library->ClientMajorVersion(), 3);
  EXPECT_NE(nullptr, library->Entries().isc_rollback_retaining);
  EXPECT_NE(nullptr, library->Entries().isc_encode_timestamp);
  EXPECT_NE(nullptr, library->Entries().fb_cancel_operation);
}

TEST(ClientLibrary, CounterCountsForwardedCallsAndPutsTheEntriesBack) {
  IIBClientLibraryRef library = AcquireClientLibrary("fbclient.dll");
  const auto own = library->Entries().isc_vax_integer;
  const auto ownEventBlock = library->Entries().isc_event_block;
  const char bytes[] = {0x01, 0x02};
  {
    TIBCallCounter counter(*library);
    EXPECT_NE(own, library->Entries().isc_vax_integer);
    // An entry with a variable argument list is passed over.
    EXPECT_EQ(ownEventBlock, library->Entries().isc_event_block);
    EXPECT_EQ(0x0201, library->isc_vax_integer(bytes, 2));
    EXPECT_EQ(0x0201, library->isc_vax_integer(bytes, 2));
    EXPECT_EQ(2u, counter.Count(TIBEntry::isc_vax_integer));
    EXPECT_EQ(0u, counter.Count(TIBEntry::isc_attach_database));
    EXPECT_FALSE(library->InLibraryCall());
    counter.Reset();
    EXPECT_EQ(0u, counter.Count(TIBEntry::isc_vax_integer));
  }
  EXPECT_EQ(own, library->Entries().isc_vax_integer);
  EXPECT_EQ(0x0201, library->isc_vax_integer(bytes, 2));
  EXPECT_FALSE(library->InLibraryCall());
}

}  // namespace
