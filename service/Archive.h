// The archive of posted orders: a copy of each in the folder "Orders", under a
// file number drawn at random.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cgi/CGIHTTP.h"
#include "runtime/Exception.h"

// The archive file of a posted order could not be created or written.
DORVANA_EXCEPTION(EFCreateError, Exception);

namespace service {

// The clock-seeded random generator that numbers archived orders.
class TArchiveNumbers {
 public:
  explicit TArchiveNumbers(uint32_t seed) : FSeed(seed) {}
  // The next number, 0 to kArchiveNumbers - 1.
  uint32_t Next() { return Draw(kArchiveNumbers); }
  // The next number of the wider range, 0 to kWideArchiveNumbers - 1, for a
  // folder whose usual names are crowded.
  uint32_t NextWide() { return Draw(kWideArchiveNumbers); }
  static constexpr uint32_t kArchiveNumbers = 100000;
  static constexpr uint32_t kWideArchiveNumbers = 100000000;

 private:
  uint32_t Draw(uint32_t range);
  uint32_t FSeed;
};

// Keeps a copy of a posted order in the folder "Orders" of the working directory
// (created when missing) as "order N.xml", N drawn from numbers seeded with seed.
// The copy never replaces an existing file: a taken name draws again; after
// kNarrowDraws taken names in a row the draws go to the wider range, and after
// kMaxArchiveDraws in all the archive gives up. A failed write leaves no partial
// copy. Returns the path written; raises EFCreateError "Cannot create file
// \"%s\". %s".
std::string ArchiveOrder(const std::string& text, uint32_t seed);
// Taken names in a row that show the usual range crowded: at half of it full,
// 1 post in 256 gets there.
inline constexpr int kNarrowDraws = 8;
// Draws before the archive gives up: the wider range is never that crowded
// before its disk is full.
inline constexpr int kMaxArchiveDraws = 1000;

// N of a name "order N.xml" (N decimal, without leading zeros, in the wider
// range); nullopt for any other name.
std::optional<uint32_t> ArchiveNameNumber(std::string_view name);

// Moves a copy into folder under its name or, when that is taken, under a free
// name "order N.xml" of the wider range; never replaces a file. Returns the new
// path; raises EOSError when the move fails or no free name turns up.
std::string MoveToFreeName(const std::string& from, const std::string& folder,
                           const std::string& name, uint32_t seed);

// The largest copy a request can leave: a body at the limit made only of line
// breaks, each written as CR LF, and the CR LF that ends the text.
inline constexpr uint64_t kLargestCopy = 2 * static_cast<uint64_t>(kMaxContentLength) + 2;

// The seed: the low 32 bits of the high-resolution counter, or the millisecond
// tick count where there is none.
uint32_t ClockSeed();

}  // namespace service
