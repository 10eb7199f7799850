// Counting the calls made through a client library's entry points, for tests and
// measurements; the program itself never counts. While a TIBCallCounter lives,
// every bound entry of its library (but the one with a variable argument list) is
// a step that counts the call and passes it on to the library's own; the counter
// puts the library's entries back when it dies. One counter at a time per process.
#pragma once

#include <array>
#include <cstdint>

#include "fb/IB_Intf.h"

class TIBCallCounter {
 public:
  explicit TIBCallCounter(IIBClientLibrary& library) : FLibrary(library), FSaved(library.FEntries) {
    Reset();
#define DORVANA_IB_COUNT(n, ...) Install<TIBEntry::n>(FLibrary.FEntries.n);
    DORVANA_IB_ENTRIES(DORVANA_IB_COUNT)
#undef DORVANA_IB_COUNT
  }
  ~TIBCallCounter() { FLibrary.FEntries = FSaved; }
  TIBCallCounter(const TIBCallCounter&) = delete;
  TIBCallCounter& operator=(const TIBCallCounter&) = delete;

  // Calls of the entry since the counter began or was last reset.
  uint64_t Count(TIBEntry entry) const { return Counts()[static_cast<int>(entry)]; }
  void Reset() { Counts().fill(0); }

 private:
  static std::array<uint64_t, kIBEntryCount>& Counts() {
    static std::array<uint64_t, kIBEntryCount> counts{};
    return counts;
  }

  template <TIBEntry E, class F>
  struct TStep {
    static constexpr bool kCounts = false;
  };
  template <TIBEntry E, class R, class... A>
  struct TStep<E, R(DORVANA_IB_API*)(A...)> {
    static constexpr bool kCounts = true;
    static inline R(DORVANA_IB_API* Next)(A...) = nullptr;
    static R DORVANA_IB_API Call(A... a) {
      ++Counts()[static_cast<int>(E)];
      return Next(a...);
    }
  };

  template <TIBEntry E, class F>
  static void Install(F& entry) {
    if constexpr (TStep<E, F>::kCounts) {
      if (!entry) return;
      TStep<E, F>::Next = entry;
      entry = &TStep<E, F>::Call;
    }
  }

  IIBClientLibrary& FLibrary;
  TIBEntryTable FSaved;
};
