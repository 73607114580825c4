/* Starts a program from a small process and reports the program's own peak memory.
 *
 * A child's peak resident size (ru_maxrss) counts the address space it was started from: a
 * program spawned straight from a large test process would report that process's peak as its own.
 * The test runner starts this launcher instead, which starts the program (argv[1], with the rest
 * of the arguments and the environment as given), waits for it, writes its peak in kilobytes as a
 * decimal line to descriptor 3, and ends as the program ended (the same exit code, or the same
 * signal). The runner kills both through their process group. */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 125;
  fcntl(3, F_SETFD, FD_CLOEXEC); /* the report stays the launcher's */
  pid_t child = -1;
  if (posix_spawn(&child, argv[1], NULL, NULL, argv + 1, environ) != 0) return 127;
  int status = 0;
  struct rusage usage = {0};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 126;
  }
  dprintf(3, "%ld\n", usage.ru_maxrss);
  close(3);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  return 126;
}
