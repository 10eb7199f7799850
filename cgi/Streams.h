// The streams a body or a response's content is read from.
#pragma once

#include <cstdint>
#include <string>

// A body or content source read from the start to its end. Owned by whoever
// holds the std::unique_ptr.
class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Size() const = 0;
  virtual int64_t Position() const = 0;
  // Reads up to count bytes at the position and moves past them; 0 at the end.
  virtual long Read(void* buffer, long count) = 0;
};

// A stream over bytes held in memory.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string data = {}) : FData(std::move(data)) {}
  int64_t Size() const override { return static_cast<int64_t>(FData.size()); }
  int64_t Position() const override { return static_cast<int64_t>(FPosition); }
  long Read(void* buffer, long count) override;
  void SetPosition(int64_t position);
  const std::string& DataString() const { return FData; }
  void WriteString(const std::string& s) { FData += s; }

 private:
  std::string FData;
  size_t FPosition = 0;
};
