// The I/O handler: buffered line and byte I/O over a transport. Received bytes enter the input
// queue only through ReceiveMore; lines and counts are taken from that queue. Outgoing bytes go
// to the transport at once, or into a write queue while buffered writing is open.
//
// The transport itself (a socket in TNetIOHandlerStack, memory in tests) is supplied by a
// subclass through the protected primitives at the end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/TNetBuffer.h"
#include "http/TNetStatus.h"
#include "http/TNetTextEncoding.h"
#include "runtime/TStream.h"

namespace net {

enum class TNetMaxLineAction { maException, maSplit };

// The flags of CheckClosed, ReceiveMore and ReceiveToStream by name, so that a call says what it
// asks for: CheckClosed(kRaiseIfClosed, kIgnoreQueuedInput), ReceiveMore(kNoRaiseIfClosed, 0,
// kNoRaiseOnTimeout), ReceiveToStream(sink, -1, kUntilClose).
inline constexpr bool kRaiseIfClosed = true;
inline constexpr bool kNoRaiseIfClosed = false;
inline constexpr bool kIgnoreQueuedInput = true;  // closed is closed, however many bytes are queued
inline constexpr bool kKeepQueuedInput = false;   // queued bytes still count as an open connection
inline constexpr bool kRaiseOnTimeout = true;
inline constexpr bool kNoRaiseOnTimeout = false;
inline constexpr bool kUntilClose = true;  // everything until the peer closes
inline constexpr bool kByCount = false;    // exactly the count asked for

class TNetIOHandler {
 public:
  TNetIOHandler();
  virtual ~TNetIOHandler();
  TNetIOHandler(const TNetIOHandler&) = delete;
  TNetIOHandler& operator=(const TNetIOHandler&) = delete;

  // Connection settings, copied from the client when it connects.
  std::u16string Host;
  int Port = 0;
  long long ConnectTimeout = 0;  // milliseconds, 0 = none
  long long ReadTimeout = -1;    // milliseconds, -1 or 0 = none
  // The moment (platform::tickCount) by which the current exchange must be over; 0 = none. Every
  // wait (connect, readability) is cut short at it, and a read that would wait past it raises
  // ENetExchangeTimeout "Exchange timed out.", even while the peer keeps sending.
  long long Deadline = 0;
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;
  int MaxLineLength = 16384;
  TNetMaxLineAction MaxLineAction = TNetMaxLineAction::maException;
  bool LargeStream = false;
  TNetTextEncoding DefaultEncoding = TNetTextEncoding::Ascii7;
  TNetStatusEvent OnStatus;

  // Clears the flags and both queues, marks the handler open and connects the transport.
  virtual void Open();
  // Closes the transport; drops the write queue. The input queue keeps its bytes until the next
  // Open.
  virtual void Close();
  bool Opened() const { return opened_; }

  // Picks up bytes or a close that already arrived, then: true while the transport is open and
  // not closed by the peer, or while received bytes are still queued.
  virtual bool Connected();
  // The connection counts as closed when the peer closed it (the transport is closed now) or
  // there is no transport. When closed and `raiseIfClosed`, and (`ignoreQueuedInput` or nothing is
  // queued): raises ENetConnClosedGracefully "Connection Closed Gracefully.".
  virtual void CheckClosed(bool raiseIfClosed, bool ignoreQueuedInput);

  // --- reading ---

  // One line ended by LF; one CR right before the LF is dropped. `timeout` < 0 = ReadTimeout;
  // `maxLength` < 0 = MaxLineLength (0 = no limit). A line longer than the limit raises
  // ENetReadLnMaxLineLengthExceeded "Max line length exceeded." (maException) or is cut
  // (maSplit, ReadLnSplit() then true). A time-out returns an empty line with ReadLnTimedOut().
  std::u16string ReadLine(TNetTextEncoding encoding = TNetTextEncoding::Default, long long timeout = -1,
                          int maxLength = -1);
  bool ReadLnSplit() const { return readLnSplit_; }
  bool ReadLnTimedOut() const { return readLnTimedOut_; }

  // Receives once into the input queue (waiting up to `timeout` ms; -1 = ReadTimeout). Returns
  // the count received, 0 when not connected and not raising, -1 on a time-out when not raising.
  int ReceiveMore(bool raiseIfClosed, long long timeout, bool raiseOnTimeout);
  // Reads `count` bytes (or, with `untilClose`, everything until the peer closes) into `stream`
  // at its position. Memory is taken as bytes arrive, never for the whole count up front.
  void ReceiveToStream(rt::TStream& stream, std::int64_t count, bool untilClose);
  // Waits until at least `count` bytes are queued; a peer close raises "Connection Closed
  // Gracefully.", a read time-out ENetReadTimeout "Read timed out.".
  void WaitForBytes(std::int64_t count);
  // True when new bytes arrived within `milliseconds`.
  bool WaitForData(long long milliseconds);
  bool InputEmpty() const { return inputBuffer_.Empty(); }

  // --- writing ---

  void WriteLine(std::u16string_view text, TNetTextEncoding encoding = TNetTextEncoding::Default);
  void WriteText(std::u16string_view text, TNetTextEncoding encoding = TNetTextEncoding::Default);
  // Queues the bytes while buffered writing is open (flushing at a positive threshold), else
  // sends them.
  void WriteBytes(std::string_view bytes);
  // Sends every byte, raising the socket error or "Connection Closed Gracefully." on failure.
  void SendAll(std::string_view bytes);
  // Sends `size` bytes of `stream` (0 = the whole stream from position 0, < 0 = from the
  // position to the end) in blocks of SendBufferSize bytes.
  void SendStream(rt::TStream& stream, std::int64_t size);

  // Opens the write queue (emptying an open one); `threshold` -1 = no automatic flush.
  void BeginBufferedWrite(std::int64_t threshold = -1);
  // Sends everything queued and removes the queue (also when the send fails).
  void EndBufferedWrite();
  // Drops everything queued and removes the queue.
  void DiscardBufferedWrite();
  // Sends up to `count` queued bytes from the head (-1 = all).
  void FlushWriteBuffer(std::int64_t count = -1);

 protected:
  // Transport primitives. All raise the socket error on failure.
  // True while the transport exists (a socket is allocated).
  virtual bool SourceAllocated() const = 0;
  // Connects the transport (called by Open).
  virtual void ConnectSource() = 0;
  // Waits up to `timeout` ms (< 0 = no limit) for readability / for room to send.
  virtual bool SourceReadable(long long timeout) = 0;
  virtual bool TargetWritable(long long timeout) = 0;
  // Receives up to `count` bytes of what has arrived, without waiting: the count (0 = the peer
  // closed), or nothing when no byte has arrived yet.
  virtual std::optional<std::size_t> ReceiveFromSource(void* buffer, std::size_t count) = 0;
  // Sends up to `count` bytes without waiting: the count sent (0 = the peer is gone), or nothing
  // when the transport takes no byte now.
  virtual std::optional<std::size_t> SendToTarget(const void* data, std::size_t count) = 0;
  // Closes the transport (nothing when there is none).
  virtual void CloseSource() = 0;

  void ReportStatus(TNetStatus status, const std::u16string& text);
  // `timeout` (ms, < 0 = no limit) shortened to what is left until the Deadline; `cut` tells
  // whether the deadline, not the timeout, is what ends the wait.
  long long waitWithinDeadline(long long timeout, bool& cut) const;

 private:
  long long effectiveReadTimeout(long long timeout) const;
  // Waits until the transport takes bytes again, within the deadline.
  void waitUntilWritable();

  TNetBuffer inputBuffer_;
  std::unique_ptr<TNetBuffer> writeBuffer_;
  std::int64_t writeThreshold_ = -1;
  bool opened_ = false;
  bool closedGracefully_ = false;
  bool readLnSplit_ = false;
  bool readLnTimedOut_ = false;
};

}  // namespace net
