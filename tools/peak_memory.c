/* peak_memory: runs a command and reports the peak resident memory of every process under it,
 * including processes that left their parent (Wine starts each Windows process through a double
 * fork, so the Windows program is not a child of the Wine process that created it).
 *
 *   peak_memory REPORT DEADLINE_SECONDS COMMAND [ARGUMENT...]
 *
 * The tool makes itself the child subreaper (prctl PR_SET_CHILD_SUBREAPER): every process started
 * beneath it whose parent ends is handed to it. Each process is reaped with wait4, whose
 * ru_maxrss is the kernel's record of that process's own peak resident size; its name is read
 * from /proc before it is reaped (waitid with WNOWAIT keeps it there). One line per process goes
 * to REPORT: "PID<TAB>PEAK_KB<TAB>NAME". After COMMAND ends, processes still running beneath
 * it get two seconds, then SIGKILL. At DEADLINE_SECONDS the whole tree is killed.
 * Exit code: COMMAND's (128 + signal when it was killed), 125 when it could not start. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* The process's name as the kernel keeps it after the end (/proc/PID/comm; Wine sets it to the
 * Windows program's file name, at most 15 characters). */
static void commandOf(pid_t pid, char* out, size_t size) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/comm", (int)pid);
  FILE* file = fopen(path, "re");
  out[0] = '\0';
  if (file == NULL) return;
  size_t got = fread(out, 1, size - 1, file);
  fclose(file);
  out[got] = '\0';
  out[strcspn(out, "\t\n")] = '\0';
}

/* Sends `signal` to every process whose parent is this one. */
static void signalChildren(int signal) {
  DIR* proc = opendir("/proc");
  if (proc == NULL) return;
  const pid_t self = getpid();
  struct dirent* entry;
  while ((entry = readdir(proc)) != NULL) {
    const pid_t pid = (pid_t)atoi(entry->d_name);
    if (pid <= 0) continue;
    char path[64], line[512];
    snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    FILE* file = fopen(path, "re");
    if (file == NULL) continue;
    const size_t got = fread(line, 1, sizeof line - 1, file);
    fclose(file);
    line[got] = '\0';
    const char* close = strrchr(line, ')');
    int parent = 0;
    char state = 0;
    if (close != NULL && sscanf(close + 1, " %c %d", &state, &parent) == 2 && parent == self) kill(pid, signal);
  }
  closedir(proc);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: peak_memory REPORT DEADLINE_SECONDS COMMAND [ARGUMENT...]\n");
    return 125;
  }
  FILE* report = fopen(argv[1], "we");
  const double deadline = atof(argv[2]);
  if (report == NULL || !(deadline > 0)) return 125;
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return 125;
  pid_t main = -1;
  if (posix_spawnp(&main, argv[3], NULL, NULL, argv + 3, environ) != 0) return 125;
  const double started = now();
  double killAt = started + deadline;
  int mainStatus = -1;
  for (;;) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
      if (errno == ECHILD) break;
      if (errno == EINTR) continue;
      break;
    }
    if (info.si_pid == 0) {
      if (now() >= killAt) signalChildren(SIGKILL); /* again each round: orphans keep arriving */
      usleep(10000);
      continue;
    }
    char command[512];
    commandOf(info.si_pid, command, sizeof command);
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    if (wait4(info.si_pid, &status, 0, &usage) != info.si_pid) continue;
    fprintf(report, "%d\t%ld\t%s\n", (int)info.si_pid, usage.ru_maxrss, command);
    fflush(report);
    if (info.si_pid == main) {
      mainStatus = status;
      if (killAt > now() + 2) killAt = now() + 2;  /* leftovers get two seconds */
    }
  }
  fclose(report);
  if (mainStatus < 0) return 125;
  if (WIFEXITED(mainStatus)) return WEXITSTATUS(mainStatus);
  return 128 + WTERMSIG(mainStatus);
}
