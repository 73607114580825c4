// hostile_service BINARY REDIRECT_LIBRARY: plays every attack of the hostile-service set against
// the real binary, all at once (each its own server and folder), and prints one line per attack:
// time to give up, peak memory of the program, rows marked.
#include <cstdio>
#include <future>
#include <vector>

#include "tests/e2e/HostileService.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TALVENOOK_BINARY REDIRECT_LIBRARY\n", argv[0]);
    return 2;
  }
  const std::vector<hostile::Attack> set = hostile::attacks();
  std::vector<std::future<hostile::Outcome>> outcomes;
  for (const hostile::Attack& attack : set) {
    outcomes.push_back(std::async(std::launch::async, [&attack, argv] { return hostile::run(attack, argv[1], argv[2], 300); }));
  }
  std::printf("| %-48s | %13s | %15s | %-16s | %4s |\n", "attack", "time to give up", "peak memory", "rows marked", "exit");
  std::printf("|%s|%s|%s|%s|%s|\n", std::string(50, '-').c_str(), std::string(17, '-').c_str(),
              std::string(17, '-').c_str(), std::string(18, '-').c_str(), std::string(6, '-').c_str());
  for (std::size_t i = 0; i < set.size(); ++i) {
    const hostile::Outcome outcome = outcomes[i].get();
    const std::string marked = std::to_string(outcome.rowsMarked) + (outcome.markedKeys.empty() ? "" : " (" + outcome.markedKeys + ")");
    std::printf("| %-48s | %13.2f s | %12.1f MB | %-16s | %4d |\n", set[i].name.c_str(), outcome.seconds,
                outcome.peakKilobytes / 1024.0, marked.c_str(), outcome.exitCode);
  }
  return 0;
}
