// iconservice_load: C simulated desktops against the icon service on 127.0.0.1:PORT, each doing
// what the program does on a Monday morning: for each of its K programs an existence query,
// and an upload when the service wants the icon, every request on a fresh connection with the
// program's exact bytes. Most programs are shared between desktops (a common pool of COMMON
// programs, each desktop holding SHARE of its K from it), so desktops race on the same names.
//
//   iconservice_load --port P [--desktops 64] [--programs 200] [--common 300] [--share 0.75]
//                    [--run TAG] [--timeout 30] [--limit 600] [--uploads FILE]
//
// Prints one line of figures per request kind (LoadReport.h). --uploads writes every upload
// that was answered {"success":true}, one "name<TAB>version<TAB>icon seed" line each, for the
// lost-or-doubled check. No request starts after --limit seconds; every request has --timeout.
#include "DesktopRequests.h"
#include "Exchange.h"
#include "LoadReport.h"
#include "SampleIcon.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
  int port = 0;
  int desktops = 64;
  int programs = 200;
  int common = 300;
  double share = 0.75;
  std::string run = "a";
  double timeout = 30;
  double limit = 600;
  std::string uploads;
};

struct Program {
  std::string name;
  std::string version;
  int seed;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--port") options.port = std::stoi(value);
    else if (key == "--desktops") options.desktops = std::stoi(value);
    else if (key == "--programs") options.programs = std::stoi(value);
    else if (key == "--common") options.common = std::stoi(value);
    else if (key == "--share") options.share = std::stod(value);
    else if (key == "--run") options.run = value;
    else if (key == "--timeout") options.timeout = std::stod(value);
    else if (key == "--limit") options.limit = std::stod(value);
    else if (key == "--uploads") options.uploads = value;
    else throw std::invalid_argument("unknown option " + key);
  }
  if (options.port <= 0 || options.desktops <= 0 || options.programs <= 0 || options.common <= 0) {
    throw std::invalid_argument("usage: iconservice_load --port P [--desktops C] [--programs K] [--common N] [--share S]"
                                " [--run TAG] [--timeout S] [--limit S] [--uploads FILE]");
  }
  return options;
}

/** Program $i of the common pool; every tenth has a name with form syntax, accents or CJK. */
Program commonProgram(const Options& options, int i) {
  static const char* const kSpecial[] = {"Notepad++ %d", "Tom & Jerry's Paint %d", "a=b&c %d", "Café Crème %d",
                                         "文字处理器 %d", "Rechner für Zahlen = Spaß %d"};
  char name[96];
  if (i % 10 == 0) {
    std::snprintf(name, sizeof name, kSpecial[(i / 10) % 6], i);
  } else {
    std::snprintf(name, sizeof name, "Common Program %04d", i);
  }
  return {options.run + " " + name, "1." + std::to_string(i % 7) + "." + std::to_string(i % 13) + ".0", i % 256};
}

/** The K programs of desktop $d in the order of its catalogue: common ones and its own. */
std::vector<Program> desktopPrograms(const Options& options, int d) {
  std::mt19937 random(static_cast<unsigned>(d) * 7919u + 17u);
  std::vector<int> pool(static_cast<std::size_t>(options.common));
  for (int i = 0; i < options.common; ++i) pool[static_cast<std::size_t>(i)] = i;
  std::shuffle(pool.begin(), pool.end(), random);
  const int shared = std::min(options.common, static_cast<int>(options.programs * options.share + 0.5));
  std::vector<Program> programs;
  for (int i = 0; i < shared; ++i) programs.push_back(commonProgram(options, pool[static_cast<std::size_t>(i)]));
  for (int j = shared; j < options.programs; ++j) {
    programs.push_back({options.run + " Desktop " + std::to_string(d) + " tool " + std::to_string(j), "2.0.0." + std::to_string(j),
                        (d * options.programs + j) % 256});
  }
  std::shuffle(programs.begin(), programs.end(), random);
  return programs;
}

struct DesktopResult {
  std::map<std::string, load::KindFigures> kinds;
  std::vector<std::string> uploaded;
};

void recordFailure(load::KindFigures& figures, const load::Reply& reply, const char* expected) {
  if (!reply.failure.empty()) {
    ++figures.failures[reply.failure];
  } else if (reply.status < 200 || reply.status > 299) {
    ++figures.failures["status_" + std::to_string(reply.status)];
  } else if (expected != nullptr && reply.body.find(expected) == std::string::npos) {
    ++figures.failures["reply"];
  }
}

DesktopResult playDesktop(const Options& options, int d, std::chrono::steady_clock::time_point stopAt) {
  DesktopResult result;
  auto& exist = result.kinds["exist"];
  auto& upload = result.kinds["upload"];
  int row = 0;
  for (const Program& program : desktopPrograms(options, d)) {
    if (std::chrono::steady_clock::now() >= stopAt) break;
    const load::Reply asked = load::exchange(options.port, load::existRequest(options.port, program.name, program.version),
                                             options.timeout);
    exist.seconds.push_back(asked.seconds);
    recordFailure(exist, asked, "\"success\":true");
    ++row;
    // Wanted exactly when the program would upload: success true and exist not true.
    const bool wanted = asked.failure.empty() && asked.status == 200 && asked.body.find("\"success\":true") != std::string::npos &&
                        asked.body.find("\"exist\":true") == std::string::npos;
    if (!wanted) continue;
    const std::string path = "C:\\Program Files (x86)\\Talvenook\\image\\" + std::to_string(row) + ".ico";
    const load::Reply sent = load::exchange(
        options.port, load::uploadRequest(options.port, program.name, program.version, path, load::sampleIcon(program.seed)),
        options.timeout);
    upload.seconds.push_back(sent.seconds);
    recordFailure(upload, sent, "{\"success\":true}");
    if (sent.failure.empty() && sent.status == 200 && sent.body == "{\"success\":true}") {
      result.uploaded.push_back(program.name + "\t" + program.version + "\t" + std::to_string(program.seed));
    }
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = parse(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const auto stopAt = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(options.limit));
  std::vector<DesktopResult> results(static_cast<std::size_t>(options.desktops));
  std::vector<std::thread> desktops;
  for (int d = 0; d < options.desktops; ++d) {
    desktops.emplace_back([&, d] { results[static_cast<std::size_t>(d)] = playDesktop(options, d, stopAt); });
  }
  for (auto& desktop : desktops) desktop.join();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::map<std::string, load::KindFigures> kinds;
  std::ofstream uploads;
  if (!options.uploads.empty()) uploads.open(options.uploads);
  for (const auto& result : results) {
    for (const auto& [kind, figures] : result.kinds) kinds[kind].add(figures);
    for (const auto& line : result.uploaded) uploads << line << '\n';
  }
  std::printf("desktops=%d programs=%d common=%d share=%.2f%s\n", options.desktops, options.programs, options.common, options.share,
              wall >= options.limit ? " stopped_at_limit=1" : "");
  load::printFigures(kinds, options.desktops, wall);
  // The generator's own CPU time: well below the wall time on 2 cores, it is not what bounds the figures.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  const double cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("generator_cpu_s=%.2f generator_cpu_share=%.0f%%\n", cpu, wall > 0 ? 100 * cpu / (wall * cores) : 0.0);
  return 0;
}
