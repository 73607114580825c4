// The I/O handler's buffered reading and writing, independent of the transport below it.
#include "http/TNetIOHandler.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "http/NetExceptions.h"
#include "platform/LocalTime.h"
#include "runtime/ScopeExit.h"

namespace net {

TNetIOHandler::TNetIOHandler() = default;
TNetIOHandler::~TNetIOHandler() = default;

void TNetIOHandler::ReportStatus(TNetStatus status, const std::u16string& text) {
  if (OnStatus) OnStatus(status, text);
}

void TNetIOHandler::Open() {
  closedGracefully_ = false;
  writeBuffer_.reset();
  inputBuffer_.Clear();
  opened_ = true;
  ConnectSource();
}

void TNetIOHandler::Close() {
  CloseSource();
  writeBuffer_.reset();
  opened_ = false;
}

bool TNetIOHandler::Connected() {
  ReceiveMore(kNoRaiseIfClosed, 0, kNoRaiseOnTimeout);
  // Bytes left in the queue of a handler that was closed on purpose do not make it connected:
  // the next exchange must open a new connection rather than write to a closed one.
  if (!opened_) return false;
  return (SourceAllocated() && !(closedGracefully_ && inputBuffer_.Empty())) || !inputBuffer_.Empty();
}

void TNetIOHandler::CheckClosed(bool raiseIfClosed, bool ignoreQueuedInput) {
  bool closed = !SourceAllocated();
  if (closedGracefully_) {
    closed = true;
    if (SourceAllocated()) {
      CloseSource();
      ReportStatus(TNetStatus::hsDisconnected, u"Disconnected.");
    }
  }
  if (closed && raiseIfClosed && (ignoreQueuedInput || inputBuffer_.Empty())) {
    raiseConnClosedGracefully();
  }
}

// -1 asks for the handler's read time-out; a read time-out of -1 or 0 waits without limit.
long long TNetIOHandler::effectiveReadTimeout(long long timeout) const {
  if (timeout >= 0) return timeout;
  return ReadTimeout > 0 ? ReadTimeout : -1;
}

long long TNetIOHandler::waitWithinDeadline(long long timeout, bool& cut) const {
  cut = false;
  if (Deadline <= 0) return timeout;
  const long long left = std::max(0LL, Deadline - platform::tickCount());
  if (timeout >= 0 && timeout <= left) return timeout;
  cut = true;
  return left;
}

int TNetIOHandler::ReceiveMore(bool raiseIfClosed, long long timeout, bool raiseOnTimeout) {
  timeout = effectiveReadTimeout(timeout);
  bool cut = false;
  // A read that may wait (not a mere poll) past the deadline ends the exchange, also when data
  // is waiting: a peer that sends without end must not keep the client busy.
  if (timeout != 0 && Deadline > 0 && platform::tickCount() >= Deadline) {
    raiseExchangeTimeout();
  }
  timeout = waitWithinDeadline(timeout, cut);
  CheckClosed(raiseIfClosed, kKeepQueuedInput);
  if (!SourceAllocated()) {
    if (raiseIfClosed) raiseNotConnected();
    return 0;
  }
  const std::size_t block = static_cast<std::size_t>(std::max(1, RecvBufferSize));
  const auto timedOut = [&] {
    if (cut) raiseExchangeTimeout();
    if (raiseOnTimeout) raiseReadTimeout();
    return -1;
  };
  std::size_t received = 0;
  do {
    // A check without waiting is the receive itself; a wait asks for readiness first, since
    // right after a request the reply has mostly not arrived yet.
    if (timeout != 0 && !SourceReadable(timeout)) return timedOut();
    const std::optional<std::size_t> got = ReceiveFromSource(inputBuffer_.PrepareWrite(block), block);
    if (!got) {
      if (timeout == 0) return timedOut();
      continue;  // readable, yet nothing to take (the bytes went elsewhere): wait again
    }
    received = *got;
    inputBuffer_.CommitWrite(received);
    if (received == 0) closedGracefully_ = true;
    CheckClosed(raiseIfClosed, kKeepQueuedInput);
  } while (received == 0 && SourceAllocated());
  return static_cast<int>(received);
}

std::u16string TNetIOHandler::ReadLine(TNetTextEncoding encoding, long long timeout, int maxLength) {
  if (encoding == TNetTextEncoding::Default) encoding = DefaultEncoding;
  if (maxLength < 0) maxLength = MaxLineLength;
  readLnSplit_ = false;
  readLnTimedOut_ = false;
  const long long limit = effectiveReadTimeout(timeout);
  const long long started = platform::tickCount();
  std::int64_t scanFrom = 0;
  for (;;) {
    const std::int64_t found = inputBuffer_.IndexOfBytes("\n", scanFrom);
    scanFrom = std::max<std::int64_t>(0, inputBuffer_.Size());
    const bool tooLong = maxLength > 0 && ((found >= 0 && found > maxLength) || (found < 0 && scanFrom > maxLength));
    if (tooLong) {
      if (MaxLineAction == TNetMaxLineAction::maException) {
        throw ENetReadLnMaxLineLengthExceeded(u"Max line length exceeded.");
      }
      readLnSplit_ = true;
      return inputBuffer_.ExtractText(maxLength, encoding);
    }
    if (found >= 0) {
      std::string line = inputBuffer_.Extract(found + 1);
      line.pop_back();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return decodeText(line, encoding);
    }
    CheckClosed(kRaiseIfClosed, kIgnoreQueuedInput);
    const int received = ReceiveMore(kRaiseIfClosed, timeout, kNoRaiseOnTimeout);
    if (received == -1 || (limit >= 0 && platform::tickCount() - started >= limit)) {
      readLnTimedOut_ = true;
      return {};
    }
  }
}

void TNetIOHandler::WaitForBytes(std::int64_t count) {
  while (inputBuffer_.Size() < count) {
    const int received = ReceiveMore(kNoRaiseIfClosed, -1, kRaiseOnTimeout);
    if (received <= 0 || inputBuffer_.Size() < count) CheckClosed(kRaiseIfClosed, kIgnoreQueuedInput);
  }
}

bool TNetIOHandler::WaitForData(long long milliseconds) {
  Connected();
  return ReceiveMore(kNoRaiseIfClosed, milliseconds, kNoRaiseOnTimeout) > 0;
}

// Bytes are written to the stream block by block as they arrive, so a large announced count
// reserves nothing ahead of the data (a hostile "Content-Length" cannot make us allocate it).
void TNetIOHandler::ReceiveToStream(rt::TStream& stream, std::int64_t count, bool untilClose) {
  if (count < 0) untilClose = true;
  std::int64_t remaining = untilClose ? std::numeric_limits<std::int64_t>::max() : count;
  const std::int64_t block = std::max(1, RecvBufferSize);
  // However the reading ends, the stream ends where the last byte was written.
  const rt::ScopeExit cut([&stream] {
    try {
      const std::int64_t position = stream.Position();
      if (stream.Size() > position) stream.SetSize(position);
    } catch (...) {
    }
  });

  const std::int64_t queued = std::min(inputBuffer_.Size(), remaining);
  if (queued > 0) {
    inputBuffer_.ExtractToStream(stream, queued);
    remaining -= queued;
  }
  while (remaining > 0) {
    const std::int64_t wanted = std::min(block, remaining);
    try {
      WaitForBytes(wanted);
    } catch (const ENetConnClosedGracefully&) {
      const std::int64_t partial = std::min(inputBuffer_.Size(), wanted);
      if (!untilClose) {
        inputBuffer_.Remove(partial);
        throw;
      }
      inputBuffer_.ExtractToStream(stream, partial);
      return;
    } catch (...) {
      inputBuffer_.Remove(std::min(inputBuffer_.Size(), wanted));
      throw;
    }
    inputBuffer_.ExtractToStream(stream, wanted);
    remaining -= wanted;
  }
}

// CR LF are the same bytes in every encoding, so they are added after the conversion.
void TNetIOHandler::WriteLine(std::u16string_view text, TNetTextEncoding encoding) {
  if (encoding == TNetTextEncoding::Default) encoding = DefaultEncoding;
  std::string bytes = encodeText(text, encoding);
  bytes += "\r\n";
  WriteBytes(bytes);
}

void TNetIOHandler::WriteText(std::u16string_view text, TNetTextEncoding encoding) {
  if (text.empty()) return;
  if (encoding == TNetTextEncoding::Default) encoding = DefaultEncoding;
  WriteBytes(encodeText(text, encoding));
}

void TNetIOHandler::WriteBytes(std::string_view bytes) {
  if (!writeBuffer_) {
    SendAll(bytes);
    return;
  }
  writeBuffer_->Write(bytes);
  while (writeThreshold_ > 0 && writeBuffer_->Size() >= writeThreshold_) FlushWriteBuffer(writeThreshold_);
}

void TNetIOHandler::SendAll(std::string_view bytes) {
  CheckClosed(kRaiseIfClosed, kIgnoreQueuedInput);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::optional<std::size_t> taken = SendToTarget(bytes.data() + done, bytes.size() - done);
    if (!taken) {
      waitUntilWritable();
      continue;
    }
    const std::size_t sent = *taken;
    if (sent == 0) {
      closedGracefully_ = true;
      CheckClosed(kRaiseIfClosed, kIgnoreQueuedInput);
    }
    done += sent;
    CheckClosed(kRaiseIfClosed, kKeepQueuedInput);
  }
}

// A peer that stops reading fills the send buffer; the wait for room counts against the
// exchange's deadline like every read does, so such a peer cannot hold the client either.
void TNetIOHandler::waitUntilWritable() {
  if (Deadline > 0 && platform::tickCount() >= Deadline) raiseExchangeTimeout();
  bool cut = false;
  const long long limit = waitWithinDeadline(-1, cut);
  if (!TargetWritable(limit) && cut) raiseExchangeTimeout();
}

void TNetIOHandler::SendStream(rt::TStream& stream, std::int64_t size) {
  if (size < 0) {
    size = stream.Size() - stream.Position();
  } else if (size == 0) {
    stream.SetPosition(0);
    size = stream.Size();
  }
  if (size > 2147483647 && !LargeStream) {
    throw ENetIOHandlerRequiresLargeStream(u"Data size exceeds 2 GB; the I/O handler needs large-stream support.");
  }
  const std::int64_t blockSize = std::max(1, SendBufferSize);
  const auto length = static_cast<std::size_t>(std::min(blockSize, std::max<std::int64_t>(size, 1)));
  const auto block = std::make_unique_for_overwrite<char[]>(length);  // the reads fill it
  std::int64_t left = size;
  while (left > 0) {
    const std::int64_t read = stream.Read(block.get(), std::min<std::int64_t>(left, static_cast<std::int64_t>(length)));
    if (read <= 0) throw ENetNoDataToRead(u"No data to read.");
    WriteBytes(std::string_view(block.get(), static_cast<std::size_t>(read)));
    left -= read;
  }
}

void TNetIOHandler::BeginBufferedWrite(std::int64_t threshold) {
  if (writeBuffer_) {
    writeBuffer_->Clear();
  } else {
    writeBuffer_ = std::make_unique<TNetBuffer>(DefaultEncoding);
  }
  writeThreshold_ = threshold;
}

void TNetIOHandler::EndBufferedWrite() {
  if (!writeBuffer_) return;
  const rt::ScopeExit remove([this] { writeBuffer_.reset(); });
  FlushWriteBuffer(-1);
}

void TNetIOHandler::DiscardBufferedWrite() {
  if (writeBuffer_) writeBuffer_->Clear();
  EndBufferedWrite();
}

// The bytes are sent straight from the queue, and leave it whether or not the send completes, as
// bytes taken out of it would.
void TNetIOHandler::FlushWriteBuffer(std::int64_t count) {
  if (!writeBuffer_ || writeBuffer_->Empty()) return;
  const std::int64_t size = writeBuffer_->Size();
  const std::int64_t taken = count < 0 ? size : std::min(count, size);
  const rt::ScopeExit drop([queue = writeBuffer_.get(), taken] { queue->Remove(taken); });
  SendAll(writeBuffer_->View().substr(0, static_cast<std::size_t>(taken)));
}

}  // namespace net
