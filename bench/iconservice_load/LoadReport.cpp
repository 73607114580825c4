// Per-kind figures of a load run (see LoadReport.h).
#include "LoadReport.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace load {

void KindFigures::add(const KindFigures& other) {
  seconds.insert(seconds.end(), other.seconds.begin(), other.seconds.end());
  for (const auto& [what, count] : other.failures) failures[what] += count;
}

namespace {

double percentile(const std::vector<double>& sorted, double share) {
  if (sorted.empty()) return 0;
  const std::size_t at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

}  // namespace

void printFigures(const std::map<std::string, KindFigures>& kinds, int desktops, double wallSeconds) {
  long total = 0;
  for (const auto& [kind, figures] : kinds) {
    std::vector<double> sorted = figures.seconds;
    std::sort(sorted.begin(), sorted.end());
    total += static_cast<long>(sorted.size());
    const double mean = sorted.empty() ? 0 : std::accumulate(sorted.begin(), sorted.end(), 0.0) / static_cast<double>(sorted.size());
    long errors = 0;
    std::string what;
    for (const auto& [failure, count] : figures.failures) {
      errors += count;
      what += " " + failure + "=" + std::to_string(count);
    }
    std::printf("kind=%s requests=%zu per_second=%.0f p50_ms=%.1f p95_ms=%.1f p99_ms=%.1f errors=%ld%s\n", kind.c_str(),
                sorted.size(), mean > 0 ? desktops / mean : 0.0, percentile(sorted, 0.50) * 1000,
                percentile(sorted, 0.95) * 1000, percentile(sorted, 0.99) * 1000, errors, what.c_str());
  }
  std::printf("kind=all requests=%ld wall_s=%.2f per_second=%.0f\n", total, wallSeconds,
              wallSeconds > 0 ? static_cast<double>(total) / wallSeconds : 0.0);
}

}  // namespace load
