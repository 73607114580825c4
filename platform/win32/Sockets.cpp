// Stream sockets on Windows: Winsock 2, loaded at run time from the system's socket library
// (ws2_32.dll) and started (version 2.2) on first use, once per process, for good. Error numbers
// are Winsock's own (WSAGetLastError), which are the numbers the layers above speak.
#include "platform/Sockets.h"

// winsock2.h must come before windows.h, which Win32Text.h includes.
#include "platform/win32/WindowsSetup.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/LocalTime.h"
#include "platform/Utf8.h"
#include "platform/win32/Win32Text.h"

namespace platform {
namespace {

// What a call answers when the socket library could not be loaded or started, or lacks a
// function: the network subsystem is unavailable.
constexpr int kNotReady = WSASYSNOTREADY;

// The Winsock functions the layer calls, looked up by name once.
struct Winsock {
  int startupError = kNotReady;
  decltype(&::WSAGetLastError) lastError = nullptr;
  decltype(&::socket) createSocket = nullptr;
  decltype(&::setsockopt) setOption = nullptr;
  decltype(&::getsockopt) getOption = nullptr;
  decltype(&::ioctlsocket) ioctl = nullptr;
  decltype(&::bind) bindTo = nullptr;
  decltype(&::connect) connectTo = nullptr;
  decltype(&::send) sendTo = nullptr;
  decltype(&::recv) receiveFrom = nullptr;
  decltype(&::select) selectOn = nullptr;
  decltype(&::shutdown) shutdownOf = nullptr;
  decltype(&::closesocket) closeSocket = nullptr;
  decltype(&::GetAddrInfoW) lookUp = nullptr;
  decltype(&::FreeAddrInfoW) freeLookUp = nullptr;
  decltype(&::inet_pton) parseAddress = nullptr;
  decltype(&::inet_ntop) formatAddress = nullptr;

  bool ready() const { return startupError == 0; }
};

template <typename Function>
bool find(HMODULE library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return function != nullptr;
}

Winsock load() {
  Winsock api;
  // The system folder only, never a planted copy beside the program or in the current folder.
  const HMODULE library = LoadLibraryExW(L"ws2_32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const HMODULE found = library != nullptr ? library : LoadLibraryW(L"ws2_32.dll");
  if (found == nullptr) return api;
  decltype(&::WSAStartup) startup = nullptr;
  const bool complete =
      find(found, "WSAStartup", startup) && find(found, "WSAGetLastError", api.lastError) &&
      find(found, "socket", api.createSocket) && find(found, "setsockopt", api.setOption) &&
      find(found, "getsockopt", api.getOption) && find(found, "ioctlsocket", api.ioctl) &&
      find(found, "bind", api.bindTo) && find(found, "connect", api.connectTo) && find(found, "send", api.sendTo) &&
      find(found, "recv", api.receiveFrom) && find(found, "select", api.selectOn) &&
      find(found, "shutdown", api.shutdownOf) &&
      find(found, "closesocket", api.closeSocket) && find(found, "GetAddrInfoW", api.lookUp) &&
      find(found, "FreeAddrInfoW", api.freeLookUp) && find(found, "inet_pton", api.parseAddress) &&
      find(found, "inet_ntop", api.formatAddress);
  if (!complete) return api;
  WSADATA data{};
  // The library stays loaded and started until the process ends.
  api.startupError = startup(MAKEWORD(2, 2), &data);
  return api;
}

// Loaded and started by the first caller; a function-local static is initialised exactly once
// even when several threads arrive together.
const Winsock& winsock() {
  static const Winsock api = load();
  return api;
}

int lastError() { return winsock().lastError(); }

SOCKET toSocket(SocketHandle handle) { return static_cast<SOCKET>(handle); }
SocketHandle fromSocket(SOCKET socket) { return socket == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(socket); }

int familyOf(SocketFamily family) { return family == SocketFamily::IPv6 ? AF_INET6 : AF_INET; }

std::uint16_t toNetworkOrder(int port) {
  const auto value = static_cast<std::uint16_t>(port);
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}
int fromNetworkOrder(std::uint16_t value) { return static_cast<std::uint16_t>((value >> 8) | (value << 8)); }

// Fills `storage` with the numeric `address` and `port`; empty `address` means any address.
bool makeAddress(SocketFamily family, const std::string& address, int port, sockaddr_storage& storage, int& length) {
  std::memset(&storage, 0, sizeof storage);
  if (family == SocketFamily::IPv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = toNetworkOrder(port);
    if (!address.empty() && winsock().parseAddress(AF_INET6, address.c_str(), &in6->sin6_addr) != 1) return false;
    length = sizeof(sockaddr_in6);
    return true;
  }
  auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
  in4->sin_family = AF_INET;
  in4->sin_port = toNetworkOrder(port);
  if (!address.empty() && winsock().parseAddress(AF_INET, address.c_str(), &in4->sin_addr) != 1) return false;
  length = sizeof(sockaddr_in);
  return true;
}

void splitAddress(const sockaddr_storage& storage, std::string& address, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    winsock().formatAddress(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = fromNetworkOrder(in6->sin6_port);
  } else {
    const auto* in4 = reinterpret_cast<const sockaddr_in*>(&storage);
    winsock().formatAddress(AF_INET, &in4->sin_addr, text, sizeof text);
    port = fromNetworkOrder(in4->sin_port);
  }
  address = text;
}

int setNonBlocking(SocketHandle handle) {
  u_long nonBlocking = 1;
  if (winsock().ioctl(toSocket(handle), FIONBIO, &nonBlocking) != 0) return lastError();
  return 0;
}

// Sockets are not handed to child processes (the Windows counterpart of close-on-exec).
void keepFromChildren(SOCKET socket) {
  SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

enum class Readiness { Read, Write };

// select() on one socket, in pieces so that a long or unlimited wait keeps its deadline. For a
// write wait the exception set is watched too: a failed non-blocking connect is reported there.
// `ready` is true when the socket became ready (or failed) within the time.
int waitFor(SocketHandle handle, Readiness what, long long timeoutMilliseconds, bool& ready) {
  ready = false;
  const long long deadline = timeoutMilliseconds < 0 ? 0 : tickCount() + timeoutMilliseconds;
  for (;;) {
    fd_set watched{};
    watched.fd_count = 1;
    watched.fd_array[0] = toSocket(handle);
    fd_set failed = watched;
    timeval wait{};
    timeval* limit = nullptr;
    if (timeoutMilliseconds >= 0) {
      const long long left = std::max(0LL, deadline - tickCount());
      wait.tv_sec = static_cast<long>(std::min(left / 1000, static_cast<long long>(INT_MAX)));
      wait.tv_usec = static_cast<long>(left % 1000 * 1000);
      limit = &wait;
    }
    const int result = what == Readiness::Read ? winsock().selectOn(0, &watched, nullptr, nullptr, limit)
                                               : winsock().selectOn(0, nullptr, &watched, &failed, limit);
    if (result == SOCKET_ERROR) return lastError();
    if (result == 0 && timeoutMilliseconds >= 0 && tickCount() < deadline) continue;
    ready = result > 0;
    return 0;
  }
}

}  // namespace

int socketCreate(SocketFamily family, SocketHandle& handle) {
  handle = kNoSocket;
  if (!winsock().ready()) return winsock().startupError;
  const SOCKET created = winsock().createSocket(familyOf(family), SOCK_STREAM, 0);
  if (created == INVALID_SOCKET) return lastError();
  keepFromChildren(created);
  if (const int error = setNonBlocking(fromSocket(created)); error != 0) {
    winsock().closeSocket(created);
    return error;
  }
  handle = fromSocket(created);
  return 0;
}

int socketSetReuseAddress(SocketHandle handle, bool reuse) {
  if (!winsock().ready()) return winsock().startupError;
  const BOOL value = reuse ? TRUE : FALSE;
  if (winsock().setOption(toSocket(handle), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value),
                          sizeof value) != 0)
    return lastError();
  return 0;
}

int socketSetNoDelay(SocketHandle handle, bool noDelay) {
  if (!winsock().ready()) return winsock().startupError;
  const BOOL value = noDelay ? TRUE : FALSE;
  if (winsock().setOption(toSocket(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                          sizeof value) != 0)
    return lastError();
  return 0;
}

int socketBind(SocketHandle handle, SocketFamily family, const std::string& address, int port) {
  if (!winsock().ready()) return winsock().startupError;
  sockaddr_storage storage;
  int length = 0;
  if (!makeAddress(family, address, port, storage, length)) return WSAEADDRNOTAVAIL;
  if (winsock().bindTo(toSocket(handle), reinterpret_cast<const sockaddr*>(&storage), length) != 0) return lastError();
  return 0;
}

// The non-blocking connect is completed with a readiness wait, so that a time limit and no limit
// take the same path.
int socketConnect(SocketHandle handle, SocketFamily family, const std::string& address, int port,
                  long long timeoutMilliseconds) {
  if (!winsock().ready()) return winsock().startupError;
  sockaddr_storage storage;
  int length = 0;
  if (!makeAddress(family, address, port, storage, length) || address.empty()) return WSAEADDRNOTAVAIL;
  if (winsock().connectTo(toSocket(handle), reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
    // WSAEWOULDBLOCK (10035) is Winsock's "in progress" answer to a non-blocking connect.
    const int error = lastError();
    if (error != WSAEWOULDBLOCK) return error;
    bool ready = false;
    if (const int waitError = waitFor(handle, Readiness::Write, timeoutMilliseconds, ready); waitError != 0)
      return waitError;
    if (!ready) return kSocketTimedOut;
    int pending = 0;
    int size = sizeof pending;
    if (winsock().getOption(toSocket(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size) != 0)
      return lastError();
    if (pending != 0) return pending;
  }
  return 0;
}

int socketSend(SocketHandle handle, const void* data, std::size_t count, std::size_t& sent) {
  sent = 0;
  if (!winsock().ready()) return winsock().startupError;
  const int piece = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  const int result = winsock().sendTo(toSocket(handle), static_cast<const char*>(data), piece, 0);
  if (result == SOCKET_ERROR) return lastError();
  sent = static_cast<std::size_t>(result);
  return 0;
}

int socketReceive(SocketHandle handle, void* buffer, std::size_t count, std::size_t& received) {
  received = 0;
  if (!winsock().ready()) return winsock().startupError;
  const int piece = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  const int result = winsock().receiveFrom(toSocket(handle), static_cast<char*>(buffer), piece, 0);
  if (result == SOCKET_ERROR) return lastError();
  received = static_cast<std::size_t>(result);
  return 0;
}

int socketWaitReadable(SocketHandle handle, long long timeoutMilliseconds, bool& readable) {
  readable = false;
  if (!winsock().ready()) return winsock().startupError;
  return waitFor(handle, Readiness::Read, timeoutMilliseconds, readable);
}

int socketWaitWritable(SocketHandle handle, long long timeoutMilliseconds, bool& writable) {
  writable = false;
  if (!winsock().ready()) return winsock().startupError;
  return waitFor(handle, Readiness::Write, timeoutMilliseconds, writable);
}

void socketShutdownSend(SocketHandle handle) {
  if (winsock().ready()) winsock().shutdownOf(toSocket(handle), SD_SEND);
}

void socketClose(SocketHandle handle) {
  if (handle != kNoSocket && winsock().ready()) winsock().closeSocket(toSocket(handle));
}

// The Unicode lookup (GetAddrInfoW); its result codes are Winsock error numbers (11001 for a name
// that cannot be found).
int resolveHostName(const std::string& name, SocketFamily family, std::string& address) {
  if (!winsock().ready()) return winsock().startupError;
  ADDRINFOW hints{};
  hints.ai_family = familyOf(family);
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  const std::u16string wideName = utf8ToUtf16(name);
  const int result = winsock().lookUp(win32::wide(wideName), nullptr, &hints, &found);
  if (result != 0) return result;
  if (found == nullptr || found->ai_addr == nullptr) {
    if (found != nullptr) winsock().freeLookUp(found);
    return kSocketErrorHostNotFound;
  }
  sockaddr_storage storage{};
  std::memcpy(&storage, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof storage));
  winsock().freeLookUp(found);
  int port = 0;
  splitAddress(storage, address, port);
  return 0;
}

bool isIPv6Literal(const std::string& text) {
  if (!winsock().ready()) return false;
  in6_addr parsed{};
  return winsock().parseAddress(AF_INET6, text.c_str(), &parsed) == 1;
}

}  // namespace platform
