// Per-upload cost of the content-type lookup on the machine it runs on: MimeTypeForFile for the
// icon file's name, as every upload asks it, timed over repeated lookups, beside the answer of the
// full two-pass table (TNetMimeTable filled from the platform) and that table's cost. Built for
// Windows and run under Wine by bench/windows_content_types.sh, over registries of growing size.
//
// Usage: windows_content_types_bench [PATH [MILLISECONDS]]
//   PATH          the file name looked up (default C:\image\0.ico)
//   MILLISECONDS  the time each of the five timed rounds lasts at least (default 300)
// Prints one line: "<us per lookup> <lookups timed> <answer> <full table's answer> <us per full table>",
// the cost per lookup being the median of the five rounds.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/Text.h"
#include "service/TNetMimeTable.h"

namespace {

using Clock = std::chrono::steady_clock;

// One round: lookups of `path` until `atLeast` has passed (at least one); microseconds a lookup.
template <typename Lookup>
double timedRound(Lookup&& lookup, Clock::duration atLeast, long& lookups) {
  const auto started = Clock::now();
  long count = 0;
  auto elapsed = Clock::duration::zero();
  do {
    lookup();
    ++count;
    elapsed = Clock::now() - started;
  } while (elapsed < atLeast);
  lookups += count;
  return std::chrono::duration<double, std::micro>(elapsed).count() / static_cast<double>(count);
}

template <typename Lookup>
double medianOfFive(Lookup&& lookup, Clock::duration atLeast, long& lookups) {
  std::array<double, 5> rounds {};
  for (double& each : rounds) each = timedRound(lookup, atLeast, lookups);
  std::sort(rounds.begin(), rounds.end());
  return rounds[2];
}

}  // namespace

int main(int argc, char** argv) {
  const std::u16string path = argc > 1 ? rt::u16(argv[1]) : std::u16string(u"C:\\image\\0.ico");
  const long milliseconds = argc > 2 ? std::max(1L, std::atol(argv[2])) : 300;
  const auto atLeast = std::chrono::milliseconds(milliseconds);

  std::u16string answer = service::MimeTypeForFile(path);  // warm-up: the first call loads the registry's pages
  long lookups = 0;
  const double perLookup = medianOfFive([&] { answer = service::MimeTypeForFile(path); }, atLeast, lookups);

  std::u16string full;
  long tables = 0;
  const double perTable = medianOfFive(
      [&] {
        service::TNetMimeTable table(true);
        full = table.LookupMimeType(path);
      },
      std::chrono::milliseconds(1), tables);

  std::printf("%.1f %ld %s %s %.1f\n", perLookup, lookups, rt::toUtf8(answer).c_str(), rt::toUtf8(full).c_str(),
              perTable);
  return answer == full ? 0 : 1;
}
