// The whole upload pass, measured as a user runs it: the real `talvenook` binary over a catalogue
// of 2,000 pending rows (each row: icon extraction, ICO file, version read, existence query,
// upload, catalogue update) against a fast loopback responder that wants every icon, side by side
// with a floor that does no icon work at all:
//
//   pass        the program, started in a fresh process. The responder listens on the program's
//               own (compiled-in) service address when that is free; otherwise the program's
//               connects reach it through a preload library, which costs the pass a little.
//   io-floor    the bench binary re-started as a fresh process that does exactly the I/O a row
//               needs and nothing else: it reads the executable's header pieces, creates and
//               writes a 9,662-byte ICO file, sends two POSTs on fresh connections over plain
//               sockets (the upload carries the ICO read back from its file), then opens the
//               catalogue, runs the UPDATE and closes it.
//
// Fair conditions: every timed run works in a folder of its own, made with its catalogue before
// the first run, and nothing is deleted until the last run has ended (on ext4 the inodes freed by
// a deletion make later file creations slower, which would tax only the programs that create
// files). The kinds take turns, round by round, in a rotating order.
//
// Reported per run and as medians: wall time, CPU time (user + system of that process alone) and
// the process's peak resident memory; then the ratios of the medians. <= 1.10x the I/O floor is the
// goal.
//
// PASS_BENCH_ROWS sets the row count (default 2,000), PASS_BENCH_ROUNDS the rounds (default 5),
// PASS_BENCH_ONLY the kinds to run, by name and separated by commas (pass, io-floor,
// baseline), PASS_BENCH_ANY_PORT (set to anything) a responder on a free port, reached through the
// connect redirect even when the program's own port is free (so the bench leaves that port to
// whoever serves on it), PASS_BENCH_WRAP a profiler to run the measured process under (e.g.
// "strace -c -f -o /tmp/pass.strace"), and PASS_BENCH_BASELINE another build of the program, run
// as a fourth kind for paired A/B runs.
//
// `pass_bench --respond PORT` runs the responder alone (see bench/windows_pass.sh), and
// `pass_bench --measure PROGRAM...` the measuring launcher, which prints "seconds cpu user peak_KB exit".
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/PeWriter.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;

int positiveFromEnvironment(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

const int kRows = positiveFromEnvironment("PASS_BENCH_ROWS", 2000);
const int kRounds = positiveFromEnvironment("PASS_BENCH_ROUNDS", 5);
constexpr int kExecutables = 16;
constexpr std::size_t kIcoBytes = 9662;  // a 48x48 32-bit icon with its mask, as the program writes it
const std::string kReply = R"({"success":true,"exist":false})";

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;
  double userSeconds = 0;  // the user-space share of cpuSeconds (the rest is the kernel's)
  long peakKilobytes = 0;
  int exitCode = -1;
};

std::string selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

// Runs `argv` (stdout and stderr on /dev/null, environment `env`) and takes its own resource use.
// This runs in a small launcher process (the bench binary started with "--measure"): a process
// inherits the peak memory of the address space it was started from, so starting the measured
// program straight from the bench would count the bench's own memory as the program's.
Measure measureHere(char** argv, char** env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto started = std::chrono::steady_clock::now();
  pid_t child = 0;
  Measure measure;
  std::vector<std::string> words;
  if (const char* wrap = std::getenv("PASS_BENCH_WRAP"); wrap != nullptr && std::strchr(argv[0], '/') != nullptr) {
    std::string word;
    for (const char* c = wrap;; ++c) {
      if (*c == ' ' || *c == '\0') {
        if (!word.empty()) words.push_back(word);
        word.clear();
        if (*c == '\0') break;
      } else {
        word += *c;
      }
    }
  }
  std::vector<char*> wrapped;
  for (auto& word : words) wrapped.push_back(word.data());
  for (char** a = argv; *a != nullptr; ++a) wrapped.push_back(*a);
  wrapped.push_back(nullptr);
  const int spawned = posix_spawnp(&child, wrapped[0], &actions, nullptr, wrapped.data(), env);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return measure;
  int status = 0;
  rusage usage {};
  wait4(child, &status, 0, &usage);
  measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  measure.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  measure.userSeconds =
      static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  measure.peakKilobytes = usage.ru_maxrss;
  measure.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return measure;
}

// Starts the launcher for `argv` with the environment `env` and reads its figures back.
Measure runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<std::string> launch = {selfPath(), "--measure"};
  launch.insert(launch.end(), argv.begin(), argv.end());
  std::vector<char*> args, envp;
  for (const auto& a : launch) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  const char* wrapWith = std::getenv("PASS_BENCH_WRAP");
  const std::string wrap = wrapWith != nullptr ? std::string("PASS_BENCH_WRAP=") + wrapWith : "";
  if (!wrap.empty()) envp.push_back(const_cast<char*>(wrap.c_str()));
  envp.push_back(nullptr);
  int pipeFds[2];
  Measure measure;
  if (pipe(pipeFds) != 0) return measure;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t launcher = 0;
  const int spawned = posix_spawn(&launcher, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string figures;
  char buffer[256];
  ssize_t got = 0;
  while (spawned == 0 && (got = read(pipeFds[0], buffer, sizeof buffer)) > 0) figures.append(buffer, static_cast<size_t>(got));
  close(pipeFds[0]);
  if (spawned != 0) return measure;
  waitpid(launcher, nullptr, 0);
  std::sscanf(figures.c_str(), "%lf %lf %lf %ld %d", &measure.seconds, &measure.cpuSeconds, &measure.userSeconds,
              &measure.peakKilobytes, &measure.exitCode);
  return measure;
}

void writeExecutable(const fs::path& path, unsigned seed) {
  std::vector<std::uint32_t> pixels(48 * 48);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | ((i * 7 + seed * 40) & 0xFF) << 16 | ((i / 48 * 5) & 0xFF) << 8 | (seed & 0xFF);
  testsupport::writeIconExecutable(path, 48, pixels, 0x00010002, 0x00030000 + seed, u"1.2.3");
}

fs::path executableOf(const fs::path& root, int row) {
  return root / "fixtures" / ("app" + std::to_string(row % kExecutables) + ".exe");
}

// The bytes of one ICO file of the size the program writes (the floors never look inside).
std::string icoBytes() {
  std::string bytes(kIcoBytes, '\x5A');
  const unsigned char start[] = {0, 0, 1, 0, 1, 0, 48, 48, 0, 0, 1, 0, 32, 0};
  std::memcpy(bytes.data(), start, sizeof start);
  return bytes;
}

// Baseline: another build of the program (PASS_BENCH_BASELINE), for paired A/B runs.
enum class Kind { Pass, IoFloor, Baseline };
constexpr Kind kKinds[] = {Kind::Pass, Kind::IoFloor, Kind::Baseline};
const char* nameOf(Kind kind) {
  switch (kind) {
    case Kind::Pass: return "pass";
    case Kind::IoFloor: return "io-floor";
    case Kind::Baseline: return "baseline";
  }
  return "";
}

// Everything made before the first run: the executables, a catalogue template, and one folder per run with its own catalogue (and, for the pass, a link
// to the program, whose folder is where it looks for DB/ and writes image/). Removed, all of it,
// only after the last run.
struct Setup {
  testsupport::TempFolder folder;
  testsupport::TempFolder runtimeDir;
  Setup() {
    fs::create_directories(folder.path() / "fixtures");
    for (unsigned i = 0; i < kExecutables; ++i) writeExecutable(executableOf(folder.path(), static_cast<int>(i)), i);
    writeCatalogue(folder.path() / "template.sqlite");
  }
  void writeCatalogue(const fs::path& database) const {
    sqlite3* db = nullptr;
    sqlite3_open(database.c_str(), &db);
    std::string sql = "BEGIN; CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, "
                      "pin TEXT, exticon TEXT);";
    for (int n = 0; n < kRows; ++n)
      sql += "INSERT INTO software_data (softname, exepath, pin, exticon) VALUES ('Application " + std::to_string(n) +
             "', '" + executableOf(folder.path(), n).string() + "', '0', '1');";
    sql += "COMMIT;";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  // A fresh folder for run `round` of `kind`, with its catalogue in DB/.
  fs::path makeRunFolder(Kind kind, int round) const {
    const fs::path run = folder.path() / "runs" / (std::string(nameOf(kind)) + "-" + std::to_string(round));
    fs::create_directories(run / "DB");
    fs::copy_file(folder.path() / "template.sqlite", run / "DB" / "REDU.sqlite");
    if (kind == Kind::Pass) fs::copy_file(TALVENOOK_BINARY, run / "talvenook");
    if (kind == Kind::Baseline) fs::copy_file(std::getenv("PASS_BENCH_BASELINE"), run / "talvenook");
    return run;
  }
};

int marked(const fs::path& run) {
  sqlite3* db = nullptr;
  sqlite3_open((run / "DB" / "REDU.sqlite").c_str(), &db);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM software_data WHERE pin = '1'", -1, &statement, nullptr);
  const int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return count;
}

// The port of the program's compiled-in service address ("http://127.0.0.1:8750/").
int servicePort() {
  const std::string base = TALVENOOK_SERVICE_BASE;
  const auto colon = base.rfind(':');
  return colon == std::string::npos ? 0 : std::atoi(base.c_str() + colon + 1);
}

// The responder, on the program's own port when it can have it (then the program needs no help to
// reach it), else on any free port.
std::unique_ptr<ScriptedServer> startResponder(bool& onServicePort) {
  onServicePort = false;
  if (servicePort() > 0 && std::getenv("PASS_BENCH_ANY_PORT") == nullptr) {
    try {
      auto server = std::make_unique<ScriptedServer>(ScriptedServer::Family::IPv4, servicePort());
      onServicePort = true;
      return server;
    } catch (const std::exception&) {
    }
  }
  return std::make_unique<ScriptedServer>();
}

Measure runOnce(const Setup& setup, Kind kind, const fs::path& run, int port, bool onServicePort) {
  switch (kind) {
    case Kind::Pass:
    case Kind::Baseline:
      if (onServicePort) {
        return runProcess({(run / "talvenook").string()}, {"XDG_RUNTIME_DIR=" + setup.runtimeDir.path().string()});
      }
      return runProcess({(run / "talvenook").string()},
                        {"XDG_RUNTIME_DIR=" + setup.runtimeDir.path().string(), "LD_PRELOAD=" PASS_BENCH_REDIRECT,
                         "TALVENOOK_E2E_SERVICE_PORT=" + std::to_string(port)});
    case Kind::IoFloor:
      return runProcess({selfPath(), "--io-floor", std::to_string(port), setup.folder.path().string(), run.string(),
                         std::to_string(kRows)},
                        {});
  }
  return {};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Medians {
  double seconds = 0, cpuSeconds = 0, userSeconds = 0, peakMegabytes = 0;
};

// Every connection: read the request (bodies counted, not kept) and answer that the icon is wanted.
ScriptedServer::Script wantedReply() {
  return ScriptedServer::Script().readRequest(false).send(
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(kReply.size()) +
      "\r\nConnection: close\r\n\r\n" + kReply);
}

int sideBySide() {
  std::vector<Kind> kinds(std::begin(kKinds), std::end(kKinds));
  if (std::getenv("PASS_BENCH_BASELINE") == nullptr) std::erase(kinds, Kind::Baseline);
  if (const char* only = std::getenv("PASS_BENCH_ONLY")) {
    const std::string wanted = std::string(",") + only + ",";
    std::erase_if(kinds, [&](Kind k) { return wanted.find(std::string(",") + nameOf(k) + ",") == std::string::npos; });
  }
  if (kinds.empty()) return 2;
  std::printf("Setting up %d rows, %d rounds of %zu kinds...\n", kRows, kRounds, kinds.size());
  Setup setup;
  bool onServicePort = false;
  const std::unique_ptr<ScriptedServer> responder = startResponder(onServicePort);
  ScriptedServer& server = *responder;
  server.setDefaultScript(wantedReply());
  if (onServicePort) {
    std::printf("The responder has the program's own port %d.\n", server.port());
  } else {
    std::printf("Port %d is taken: the pass reaches the responder (port %d) through a connect redirect.\n",
                servicePort(), server.port());
  }
  std::map<Kind, std::vector<fs::path>> folders;
  for (int round = 0; round < kRounds; ++round)
    for (Kind kind : kinds) folders[kind].push_back(setup.makeRunFolder(kind, round));
  sync();  // the set-up's writes are not left for the first runs to flush

  std::map<Kind, std::vector<Measure>> results;
  std::printf("%-10s %5s %10s %10s %12s %12s %12s %8s\n", "kind", "round", "wall ms", "cpu ms", "wall us/row",
              "cpu us/row", "user us/row", "peak MB");
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      const Kind kind = kinds[(k + static_cast<std::size_t>(round)) % kinds.size()];
      const fs::path& run = folders[kind][static_cast<std::size_t>(round)];
      const Measure m = runOnce(setup, kind, run, server.port(), onServicePort);
      const int done = marked(run);
      if (m.exitCode != 0 || done != kRows) {
        std::printf("%s round %d failed: exit code %d, %d rows of %d marked\n", nameOf(kind), round, m.exitCode, done,
                    kRows);
        return 1;
      }
      std::printf("%-10s %5d %10.1f %10.1f %12.1f %12.1f %12.1f %8.1f\n", nameOf(kind), round, m.seconds * 1e3,
                  m.cpuSeconds * 1e3, m.seconds * 1e6 / kRows, m.cpuSeconds * 1e6 / kRows, m.userSeconds * 1e6 / kRows,
                  m.peakKilobytes / 1024.0);
      std::fflush(stdout);
      results[kind].push_back(m);
    }
  }

  std::map<Kind, Medians> medians;
  std::printf("\nMedians of %d runs (%d rows each):\n", kRounds, kRows);
  for (Kind kind : kinds) {
    std::vector<double> wall, cpu, user, peak;
    for (const Measure& m : results[kind]) {
      wall.push_back(m.seconds);
      cpu.push_back(m.cpuSeconds);
      user.push_back(m.userSeconds);
      peak.push_back(m.peakKilobytes / 1024.0);
    }
    medians[kind] = {median(wall), median(cpu), median(user), median(peak)};
    std::printf("%-10s wall %8.1f ms (%6.1f us/row)  cpu %8.1f ms (%6.1f us/row, user %5.1f)  peak %5.1f MB\n",
                nameOf(kind), medians[kind].seconds * 1e3, medians[kind].seconds * 1e6 / kRows,
                medians[kind].cpuSeconds * 1e3, medians[kind].cpuSeconds * 1e6 / kRows,
                medians[kind].userSeconds * 1e6 / kRows, medians[kind].peakMegabytes);
  }
  if (medians.count(Kind::Pass) != 0) {
    const Medians& pass = medians[Kind::Pass];
    for (Kind floor : {Kind::IoFloor, Kind::Baseline}) {
      if (medians.count(floor) == 0) continue;
      std::printf("pass / %-9s wall %.3fx  cpu %.3fx  peak %.1f MB vs %.1f MB\n", nameOf(floor),
                  pass.seconds / medians[floor].seconds, pass.cpuSeconds / medians[floor].cpuSeconds,
                  pass.peakMegabytes, medians[floor].peakMegabytes);
    }
  }
  return 0;
}

// --- The floors, each in its own process ----------------------------------------------------------

// Opens the catalogue, marks row `n` as the program does, and closes it.
bool markRow(const std::string& database, int n) {
  sqlite3* db = nullptr;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "update software_data set pin=?1 where ID=?2;", -1, &statement, nullptr);
  sqlite3_bind_text(statement, 1, "1", -1, SQLITE_STATIC);
  sqlite3_bind_int64(statement, 2, n + 1);
  const int stepped = sqlite3_step(statement);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return stepped == SQLITE_DONE;
}

// The header pieces of an executable the icon and version reads need: everything up to the
// resource data and the resources themselves (the fixtures are small, so two positioned reads
// take all of it, as the reader's windows do).
bool readExecutable(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  char piece[16384];
  const bool read = fstat(fd, &info) == 0 && pread(fd, piece, 4096, 0) > 0 &&
                    (info.st_size <= 4096 ||
                     pread(fd, piece, std::min<std::size_t>(sizeof piece, static_cast<std::size_t>(info.st_size) - 4096),
                           4096) > 0);
  ::close(fd);
  return read;
}

bool writeAll(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t put = ::write(fd, bytes, count);
    if (put <= 0) return false;
    bytes += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

bool writeIco(const fs::path& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = writeAll(fd, bytes.data(), bytes.size());
  return ::close(fd) == 0 && written;
}

std::string readFile(const fs::path& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info {};
  if (fstat(fd, &info) == 0) {
    bytes.resize(static_cast<std::size_t>(info.st_size));
    if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
  }
  ::close(fd);
  return bytes;
}

// One HTTP/1.0 exchange on a fresh connection: the request out, the reply read until the peer
// closes.
bool post(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            writeAll(fd, request.data(), request.size());
  char reply[4096];
  std::size_t total = 0;
  for (ssize_t got = 1; ok && got > 0;) {
    got = ::read(fd, reply, sizeof reply);
    if (got < 0) ok = false;
    if (got > 0) total += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return ok && total > 0;
}

std::string requestHead(const std::string& target, const std::string& contentType, std::size_t length) {
  return "POST " + target + " HTTP/1.0\r\nConnection: close\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(length) +
         "\r\nHost: 127.0.0.1\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
}

// Per row: the executable's header pieces, a fresh ICO file, the existence POST, the upload of
// that ICO read back from its file, and the update. Nothing else: no decoding, no scaling.
int ioFloor(int port, const fs::path& shared, const fs::path& run, int rows) {
  const std::string database = (run / "DB" / "REDU.sqlite").string();
  const std::string ico = icoBytes();
  if (!fs::is_directory(run / "image")) fs::create_directory(run / "image");
  const std::string boundary = "-----------------------------050820261442379999";
  for (int n = 0; n < rows; ++n) {
    const fs::path executable = executableOf(shared, n);
    if (!readExecutable(executable)) return 2;
    const fs::path icon = run / "image" / (std::to_string(n) + ".ico");
    if (!writeIco(icon, ico)) return 3;

    const std::string name = "Application " + std::to_string(n);
    const std::string version = "1.2.3." + std::to_string(n % kExecutables);
    const std::string form = "&name=Application%20" + std::to_string(n) + "&version=" + version;
    if (!post(port, requestHead("/index.php?r=sw/exist", "application/x-www-form-urlencoded", form.size()) + form))
      return 4;

    const std::string bytes = readFile(icon);
    if (bytes.size() != ico.size()) return 5;
    std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n" + name +
                       "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n" +
                       version + "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"" +
                       icon.filename().string() + "\"\r\nContent-Type: image/x-icon\r\n\r\n";
    body += bytes;
    body += "\r\n--" + boundary + "--\r\n";
    if (!post(port, requestHead("/index.php?r=sw/upload", "multipart/form-data; boundary=" + boundary, body.size()) +
                        body))
      return 6;
    if (!markRow(database, n)) return 7;
  }
  return 0;
}

// The same responder on its own, on a given port (0: any), for the Windows pass benchmark
// (bench/windows_pass.sh): prints the port, then serves until SIGTERM or SIGINT.
int respond(int port) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the server's thread exists, so it inherits the mask
  ScriptedServer server(ScriptedServer::Family::IPv4, port);
  server.setDefaultScript(wantedReply());
  std::printf("%d\n", server.port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&stop, &received);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0) {
    const Measure m = measureHere(argv + 2, environ);
    std::printf("%.6f %.6f %.6f %ld %d\n", m.seconds, m.cpuSeconds, m.userSeconds, m.peakKilobytes, m.exitCode);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--respond") == 0) return respond(std::atoi(argv[2]));
  if (argc == 6 && std::strcmp(argv[1], "--io-floor") == 0)
    return ioFloor(std::atoi(argv[2]), argv[3], argv[4], std::atoi(argv[5]));
  return sideBySide();
}
