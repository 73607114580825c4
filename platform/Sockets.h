// Stream sockets for the HTTP client's transport: create, bind, connect (optionally with a time
// limit), send, receive, wait for readability, shut down, close, and name lookup. Every socket is
// non-blocking from its creation: a send or receive never waits in the system, the caller waits
// for readiness itself. (The server half the tests' loopback peers need is in tests/support.)
//
// Every call that can fail returns an error number in the Windows sockets numbering (10061 for a
// refused connection, 11001 for a host that cannot be found, ...), 0 on success, so the layers
// above produce the same codes and messages on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An operating-system socket; kNoSocket when there is none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

enum class SocketFamily { IPv4, IPv6 };

// The error number of a send or receive that would have to wait on a non-blocking socket.
inline constexpr int kSocketErrorWouldBlock = 10035;

// Returned by socketConnect when its time limit passed before the connect completed.
inline constexpr int kSocketTimedOut = -1;

// Error numbers used by the layers above.
inline constexpr int kSocketErrorNotSocket = 10038;
inline constexpr int kSocketErrorHostNotFound = 11001;

// Creates a non-blocking stream socket of `family` (protocol 0) into `handle`, not inherited by
// child processes. A send or receive that would have to wait fails at once with
// kSocketErrorWouldBlock.
int socketCreate(SocketFamily family, SocketHandle& handle);

// Sets the address-reuse option.
int socketSetReuseAddress(SocketHandle handle, bool reuse);

// Sets the no-delay option (Nagle's algorithm off when true).
int socketSetNoDelay(SocketHandle handle, bool noDelay);

// Binds to `address` (numeric text; empty = any address) and `port` (0 = any port).
int socketBind(SocketHandle handle, SocketFamily family, const std::string& address, int port);

// Connects to the numeric `address` and `port`. `timeoutMilliseconds` < 0 waits until the
// platform completes or fails the connect; otherwise the call returns kSocketTimedOut when the
// connect has not completed within the time (the socket is then unusable and must be closed).
int socketConnect(SocketHandle handle, SocketFamily family, const std::string& address, int port,
                  long long timeoutMilliseconds);

// Sends up to `count` bytes; `sent` receives how many went out (0 means the peer is gone).
int socketSend(SocketHandle handle, const void* data, std::size_t count, std::size_t& sent);

// Receives up to `count` bytes; `received` is 0 when the peer has closed its sending side.
int socketReceive(SocketHandle handle, void* buffer, std::size_t count, std::size_t& received);

// Waits until `handle` is readable (data or a close pending) or the time passes; a negative
// time waits without limit. `readable` tells which happened.
int socketWaitReadable(SocketHandle handle, long long timeoutMilliseconds, bool& readable);

// Waits until `handle` can take more bytes to send (or has failed) or the time passes; a
// negative time waits without limit. `writable` tells which happened.
int socketWaitWritable(SocketHandle handle, long long timeoutMilliseconds, bool& writable);

// Shuts down the sending direction (errors are ignored: the socket is closed next anyway).
void socketShutdownSend(SocketHandle handle);

// Closes the handle.
void socketClose(SocketHandle handle);

// Looks `name` up for `family` and gives the first address as numeric text. A name that cannot
// be found gives kSocketErrorHostNotFound.
int resolveHostName(const std::string& name, SocketFamily family, std::string& address);

// True when `text` is a numeric IPv6 address.
bool isIPv6Literal(const std::string& text);

}  // namespace platform
