// Fuzzes the response reader: a whole POST exchange of TNetHTTP whose transport is memory. The
// input's first byte picks client settings; the rest is what the "server" sends (status line,
// header block, chunked / length-delimited / close-delimited body), handed out in small pieces.
// Any ENet or runtime error is an acceptable outcome; crashes, sanitizer reports, hangs and
// unbounded memory are not.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "http/TNetHTTP.h"
#include "runtime/Exception.h"
#include "runtime/TStringStream.h"
#include "tests/support/BytesStream.h"

namespace {

// A transport over a fixed byte string: reads hand it out in pieces of `step` bytes, then report
// the peer's close; writes are dropped.
class MemoryIOHandler : public net::TNetIOHandler {
 public:
  MemoryIOHandler(const std::uint8_t* data, std::size_t size, std::size_t step)
      : data_(data), size_(size), step_(step) {}

 protected:
  bool SourceAllocated() const override { return allocated_; }
  void ConnectSource() override { allocated_ = true; }
  bool SourceReadable(long long) override { return true; }
  bool TargetWritable(long long) override { return true; }
  std::optional<std::size_t> ReceiveFromSource(void* buffer, std::size_t count) override {
    const std::size_t n = std::min({count, step_, size_ - offset_});
    std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    return n;
  }
  std::optional<std::size_t> SendToTarget(const void*, std::size_t count) override { return count; }
  void CloseSource() override { allocated_ = false; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t step_;
  std::size_t offset_ = 0;
  bool allocated_ = false;
};

// The client over that transport, which it borrows.
class MemoryClient : public net::TNetHTTP {
 public:
  explicit MemoryClient(net::TNetIOHandler& io) { ioHandler_ = &io; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t settings = data[0];
  MemoryIOHandler io(data + 1, size - 1, 1 + (settings & 0x0f) * 97);
  io.MaxLineLength = (settings & 0x10) ? 64 : 16384;
  MemoryClient http(io);
  http.HeaderLineLimit = (settings & 0x20) ? 4 : 255;
  if (settings & 0x40) http.HTTPOptions.Include(net::TNetHTTPOption::hoKeepOrigProtocol);
  if (settings & 0x80) {
    http.Request().Username = u"user";
    http.Request().Password = u"secret";
    http.HTTPOptions.Include(net::TNetHTTPOption::hoInProcessAuth);
  }
  // The limits a service call runs with; the reply limit small enough for inputs to pass it.
  http.ExchangeTimeout = 120000;
  http.MaxReplySize = 4096;
  testsupport::BytesStream body("a=1&b=2");
  rt::TStringStream sink;
  try {
    http.PostStream(u"http://fuzz.example:8080/index.php?r=sw/exist", body, sink);
  } catch (const rt::Exception&) {
  }
  // The body can never be longer than what the server sent.
  if (sink.Size() > static_cast<std::int64_t>(size)) __builtin_trap();
  // Nor longer than the reply limit.
  if (sink.Size() > http.MaxReplySize) __builtin_trap();
  return 0;
}
