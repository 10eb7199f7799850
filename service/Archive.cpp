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
    const uint32_t number = draw < kNarrowDraws ? numbers.Next() : numbers.NextWide();
    const std::string name = "order " + IntToStr(number) + ".xml";
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

uint32_t TArchiveNumbers::Draw(uint32_t range) {
  // A linear congruential generator modulo 2^32; the number is the top 32 bits of
  // the seed times the range.
  constexpr uint32_t kMultiplier = 134775813u;
  constexpr uint32_t kIncrement = 1u;
  FSeed = FSeed * kMultiplier + kIncrement;
  return static_cast<uint32_t>((static_cast<uint64_t>(FSeed) * range) >> 32);
}

std::optional<uint32_t> ArchiveNameNumber(std::string_view name) {
  constexpr std::string_view kPrefix = "order ", kSuffix = ".xml";
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kSuffix.size()) != kSuffix)
    return std::nullopt;
  const std::string_view digits =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (digits.size() > 8 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  uint32_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

std::string MoveToFreeName(const std::string& from, const std::string& folder,
                           const std::string& name, uint32_t seed) {
  const std::string delimiter = platform::PathDelimiter();
  std::string target = folder + delimiter + name;
  if (platform::MoveFileNoReplace(from, target)) return target;
  TArchiveNumbers numbers(seed);
  for (int draw = 0; draw < kMaxArchiveDraws; ++draw) {
    target = folder + delimiter + "order " + IntToStr(numbers.NextWide()) + ".xml";
    if (platform::MoveFileNoReplace(from, target)) return target;
  }
  throw EOSError("Cannot move file \"" + from + "\": every name drawn in \"" + folder +
                 "\" is taken");
}

uint32_t ClockSeed() {
  int64_t counter = 0;
  if (platform::HighResolutionCounter(counter)) return static_cast<uint32_t>(counter);
  return platform::TickCount();
}

}  // namespace service
