// Figures of one load run per request kind: count, latency percentiles, failures by what failed,
// and the kind's throughput.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace load {

struct KindFigures {
  std::vector<double> seconds;             // every request's time, answered or not
  std::map<std::string, long> failures;    // "timeout", "status 502", "reply", ...
  void add(const KindFigures& other);
};

/**
 * Prints, for each kind, one line "kind=K requests=N per_second=R p50_ms=.. p95_ms=.. p99_ms=..
 * errors=E [what=count ...]". The kind's requests per second is desktops / its mean latency
 * (Little's law for desktops that wait for each reply), which is what the service would give
 * that kind alone at this concurrency, however the kinds are mixed in the run.
 */
void printFigures(const std::map<std::string, KindFigures>& kinds, int desktops, double wallSeconds);

}  // namespace load
