// Where a FastCGI request ends in the bytes of its connection, for a listener
// that reads requests whole before libfcgi sees them. No OS call here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace platform {

// The request ends after the empty body record of the request that its begin
// record opened. Records of no request (management) or of another one are passed
// over, as the library passes them; a record the library refuses (another
// version, an unexpected type) ends the request too, and the library then drops it.
class TRequestFramer {
 public:
  // Takes the next bytes; returns how many belong to the request (fewer than
  // size once it is complete: the rest came after it).
  size_t Take(const unsigned char* data, size_t size) {
    size_t used = 0;
    while (used < size && !FComplete) {
      if (FRecordLeft > 0) {
        const size_t n = std::min(FRecordLeft, size - used);
        used += n;
        FRecordLeft -= n;
        if (FRecordLeft == 0 && FEndsRequest) FComplete = true;
        continue;
      }
      const size_t n = std::min(sizeof FHeader - FHeaderHave, size - used);
      std::memcpy(FHeader + FHeaderHave, data + used, n);
      FHeaderHave += n;
      used += n;
      if (FHeaderHave < sizeof FHeader) continue;
      FHeaderHave = 0;
      const int type = FHeader[1], id = FHeader[2] << 8 | FHeader[3];
      const size_t length = size_t{FHeader[4]} << 8 | FHeader[5];
      FRecordLeft = length + FHeader[6];
      constexpr int kBegin = 1, kParams = 4, kStdin = 5;
      if (FHeader[0] != 1) {
        FComplete = true;
      } else if (type == kBegin && FRequestId < 0) {
        FRequestId = id;
      } else if (id == FRequestId && id != 0 && type != kBegin) {
        // The parameters come first, then the body, whose empty record ends it.
        FEndsRequest = !(type == kParams || (type == kStdin && length > 0));
        if (FEndsRequest && FRecordLeft == 0) FComplete = true;
      }
    }
    return used;
  }
  bool Complete() const { return FComplete; }

 private:
  unsigned char FHeader[8] = {};
  size_t FHeaderHave = 0;
  size_t FRecordLeft = 0;  // content and padding of the current record
  int FRequestId = -1;
  bool FEndsRequest = false;
  bool FComplete = false;
};

}  // namespace platform
