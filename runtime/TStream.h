// The abstract byte stream: read, write, seek and size, with the runtime's whole-buffer write.
#pragma once

#include <cstdint>

namespace rt {

enum class SeekOrigin { Beginning = 0, Current = 1, End = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to `count` bytes; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position and returns the new one.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  // Sets the stream's size. The base class cannot resize and raises "Stream write error".
  virtual void SetSize(std::int64_t size);
  // The size: seek to the end for the result, then back to where the stream was.
  virtual std::int64_t Size();

  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(std::int64_t position) { Seek(position, SeekOrigin::Beginning); }

  // Writes exactly `count` bytes or raises EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, std::int64_t count);
};

}  // namespace rt
