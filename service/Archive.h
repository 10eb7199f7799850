// The archive of posted orders: a copy of each in the folder "Orders", under a
// file number drawn at random.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Exception.h"

// The archive file of a posted order could not be created or written.
DORVANA_EXCEPTION(EFCreateError, Exception);

namespace service {

// The clock-seeded random generator that numbers archived orders.
class TArchiveNumbers {
 public:
  explicit TArchiveNumbers(uint32_t seed) : FSeed(seed) {}
  // The next number, 0 to kArchiveNumbers - 1.
  uint32_t Next();
  static constexpr uint32_t kArchiveNumbers = 100000;

 private:
  uint32_t FSeed;
};

// Keeps a copy of a posted order in the folder "Orders" of the working directory
// (created when missing) as "order N.xml", N drawn from numbers seeded with seed.
// The copy never replaces an existing file: a taken name draws again, and after
// too many draws the archive gives up. A failed write leaves no partial copy.
// Returns the path written; raises EFCreateError "Cannot create file \"%s\". %s".
std::string ArchiveOrder(const std::string& text, uint32_t seed);
// Draws before the archive gives up: far more than a folder that is rotated as it
// should be ever needs.
inline constexpr int kMaxArchiveDraws = 1000;

// The seed: the low 32 bits of the high-resolution counter, or the millisecond
// tick count where there is none.
uint32_t ClockSeed();

}  // namespace service
