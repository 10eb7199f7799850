#include "service/Archive.h"

#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace service {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& path, const std::string& reason) {
  throw EFCreateError(Format("Cannot create file \"%s\". %s", {path, reason}));
}

// The system's own words for a platform failure; the whole message when the
// failure carries no error number.
std::string ReasonOf(const EOSError& e) {
  return e.Code() != 0 ? platform::SysErrorMessage(e.Code()) : e.Message();
}

}  // namespace

// A name no earlier post holds, so that no archived order is ever replaced.
std::string ArchiveOrder(const std::string& text, uint32_t seed) {
  const std::string folder = "Orders";
  const std::string delimiter = platform::PathDelimiter();
  const std::string fullFolder = platform::CurrentDir() + delimiter + folder + delimiter;
  TArchiveNumbers numbers(seed);
  // A folder that cannot be made is reported against the first name drawn, as
  // the file it would have held. A file of the folder's name is found by the
  // first creation below.
  if (!platform::DirectoryExists(folder)) {
    try {
      platform::CreateDir(folder);
    } catch (const EOSError& e) {
      RaiseCreateError(fullFolder + "order " + IntToStr(TArchiveNumbers(seed).Next()) + ".xml",
                       ReasonOf(e));
    }
  }
  for (int draw = 0; draw < kMaxArchiveDraws; ++draw) {
    const std::string name = "order " + IntToStr(numbers.Next()) + ".xml";
    const std::string path = folder + delimiter + name;
    bool exists = false;
    platform::TFileHandle file;
    try {
      file = platform::CreateFileExclusive(path, exists);
    } catch (const EOSError& e) {
      RaiseCreateError(fullFolder + name, ReasonOf(e));
    }
    if (exists) continue;
    try {
      file.WriteAll(text.data(), text.size());
      file.Close();
    } catch (const EOSError& e) {
      file = platform::TFileHandle();  // closed before the partial copy goes
      platform::DeleteFile(path);
      RaiseCreateError(fullFolder + name, ReasonOf(e));
    }
    return path;
  }
  RaiseCreateError(fullFolder + "order " + IntToStr(numbers.Next()) + ".xml",
                   "Every name drawn is taken: the archive folder needs rotating.");
}

uint32_t TArchiveNumbers::Next() {
  // A linear congruential generator modulo 2^32; the number is the top 32 bits of
  // the seed times the range.
  constexpr uint32_t kMultiplier = 134775813u;
  constexpr uint32_t kIncrement = 1u;
  FSeed = FSeed * kMultiplier + kIncrement;
  return static_cast<uint32_t>((static_cast<uint64_t>(FSeed) * kArchiveNumbers) >> 32);
}

uint32_t ClockSeed() {
  int64_t counter = 0;
  if (platform::HighResolutionCounter(counter)) return static_cast<uint32_t>(counter);
  return platform::TickCount();
}

}  // namespace service
