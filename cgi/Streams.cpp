#include "cgi/Streams.h"

#include <algorithm>
#include <cstring>

long TStringStream::Read(void* buffer, long count) {
  if (count <= 0 || FPosition >= FData.size()) return 0;
  size_t n = std::min(static_cast<size_t>(count), FData.size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, n);
  FPosition += n;
  return static_cast<long>(n);
}

void TStringStream::SetPosition(int64_t position) {
  FPosition = static_cast<size_t>(std::clamp<int64_t>(position, 0, Size()));
}
