/* A preload library for the end-to-end tests only: every TCP connect of the program under test
 * goes to 127.0.0.1 at the port in TALVENOOK_E2E_SERVICE_PORT. The real binary, built with its
 * fixed service address, thus reaches the test's loopback server on whatever free port that
 * server was given, and parallel test runs never compete for one fixed port. Without the variable
 * the library changes nothing. */
#define _GNU_SOURCE
/* With _GNU_SOURCE, glibc declares connect() over a transparent union of address pointers (a GNU
 * extension that ISO C calls incompatible with this definition), and dlsym() hands back the real
 * connect() as an object pointer: both are what a preload library is made of. */
#pragma GCC diagnostic ignored "-Wpedantic"
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

typedef int (*connect_fn)(int, const struct sockaddr*, socklen_t);

static int isStreamSocket(int fd) {
  int type = 0;
  socklen_t length = sizeof type;
  return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM;
}

int connect(int fd, const struct sockaddr* address, socklen_t length) {
  static connect_fn real = NULL;
  if (real == NULL) real = (connect_fn)dlsym(RTLD_NEXT, "connect");
  const char* port = getenv("TALVENOOK_E2E_SERVICE_PORT");
  if (port == NULL || address == NULL || !isStreamSocket(fd)) return real(fd, address, length);

  if (address->sa_family == AF_INET) {
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return real(fd, (const struct sockaddr*)&to, sizeof to);
  }
  if (address->sa_family == AF_INET6) {
    struct sockaddr_in6 to;
    memset(&to, 0, sizeof to);
    to.sin6_family = AF_INET6;
    to.sin6_port = htons((unsigned short)atoi(port));
    inet_pton(AF_INET6, "::ffff:127.0.0.1", &to.sin6_addr);
    return real(fd, (const struct sockaddr*)&to, sizeof to);
  }
  return real(fd, address, length);
}
