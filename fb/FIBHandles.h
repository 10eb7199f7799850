// The client library's handles as the database layer holds them: the handle and
// status types under names of this layer (the same types as the library's own,
// checked where both are seen), and one move-only owner per handle.
#pragma once

#include <cstdint>
#include <utility>

// A handle value of the client library: an attachment, a transaction, a
// statement or a blob. Zero is no handle.
#if defined(_LP64) || defined(__LP64__) || defined(__arch64__) || defined(_WIN64)
using TFBHandleValue = unsigned int;
#else
using TFBHandleValue = void*;
#endif
// A client call's result: zero for success, a positive error code otherwise.
using TFBStatus = intptr_t;

class IIBClientLibrary;

enum class TFBHandleKind { Database, Transaction, Statement, Blob };

// One handle of the client library with the library that made it. It moves and
// never copies. Open and End run the client call that opens or ends it; Release
// runs the one call that gives this kind of handle up (detach, roll back, drop,
// close). A handle the owner still holds when it dies is released then through a
// status vector of its own, the result ignored.
template <TFBHandleKind K>
class TFBHandle {
 public:
  TFBHandle() = default;
  ~TFBHandle() {
    if (FValue) EndQuietly();
  }
  TFBHandle(TFBHandle&& o) noexcept
      : FLibrary(o.FLibrary), FValue(std::exchange(o.FValue, TFBHandleValue{})) {}
  TFBHandle& operator=(TFBHandle o) noexcept {  // the old handle ends with o
    std::swap(FLibrary, o.FLibrary);
    std::swap(FValue, o.FValue);
    return *this;
  }

  explicit operator bool() const { return FValue != TFBHandleValue{}; }
  TFBHandleValue Value() const { return FValue; }
  // For the calls that use the handle (and may change it) while it stays open.
  TFBHandleValue* Ref() { return &FValue; }

  // Runs call(&value), the client call that opens the handle; after a failure
  // the owner holds none. Returns the call's status.
  template <class Call>
  TFBStatus Open(IIBClientLibrary& library, Call&& call) {
    FLibrary = &library;
    const TFBStatus status = call(&FValue);
    if (status > 0) FValue = TFBHandleValue{};
    return status;
  }
  // Runs call(&value), the client call that ends the handle. The handle is given
  // up where the call clears it (success) and, when always is set, whatever the
  // call answers. Returns the call's status.
  template <class Call>
  TFBStatus End(Call&& call, bool always) {
    const TFBStatus status = call(&FValue);
    if (always) FValue = TFBHandleValue{};
    return status;
  }
  // Runs the call that gives this kind of handle up, with status (a vector of
  // kStatusVectorLength); the handle is given up whatever the call answers.
  // Returns the call's status; 0 when no handle is held.
  TFBStatus Release(TFBStatus* status);
  // The server has ended the handle itself (its attachment is gone): given up
  // without a call.
  void Forget() { FValue = TFBHandleValue{}; }

 private:
  void EndQuietly() noexcept;

  IIBClientLibrary* FLibrary = nullptr;
  TFBHandleValue FValue{};
};

using TFBDatabaseHandle = TFBHandle<TFBHandleKind::Database>;
using TFBTransactionHandle = TFBHandle<TFBHandleKind::Transaction>;
using TFBStatementHandle = TFBHandle<TFBHandleKind::Statement>;
using TFBBlobHandle = TFBHandle<TFBHandleKind::Blob>;

// Release and the release on the way out are written once, in FIBHandles.cpp.
extern template class TFBHandle<TFBHandleKind::Database>;
extern template class TFBHandle<TFBHandleKind::Transaction>;
extern template class TFBHandle<TFBHandleKind::Statement>;
extern template class TFBHandle<TFBHandleKind::Blob>;
