// The whole upload pass, measured as a user runs it: the real `talvenook` binary over a catalogue
// of 2,000 pending rows (each row: icon extraction, ICO file, version read, existence query,
// upload, catalogue update) against a fast loopback responder that wants every icon.
//
//   WholePass   the program, started in a fresh process; its connects reach the responder through
//               a preload library (the program's own service address is compiled in).
//   CurlFloor   the same bench binary re-started as a fresh process that does only the network and
//               catalogue part per row: the same existence POST and multipart upload with libcurl
//               (a fresh connection each, HTTP/1.0) and the same SQLite open/update/close.
//
// `pass_bench --respond PORT` runs the responder alone (see bench/windows_pass.sh), and
// `pass_bench --measure PROGRAM...` the measuring launcher, which prints "seconds cpu peak_KB exit".
//
// Reported per run: rows per second, CPU time per row (user + system of that process alone) and
// the process's peak resident memory. The ratio line at the end compares the two; <= 1.0x means
// the whole pass, icon work included, costs no more than the bare floor.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/PeWriter.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;

// PASS_BENCH_ROWS overrides the row count (for profiling runs).
const int kRows = [] {
  const char* rows = std::getenv("PASS_BENCH_ROWS");
  return rows != nullptr && std::atoi(rows) > 0 ? std::atoi(rows) : 2000;
}();
constexpr int kExecutables = 16;
const std::string kReply = R"({"success":true,"exist":false})";

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;
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
  // PASS_BENCH_WRAP (e.g. "strace -c -o /tmp/pass.strace") runs the measured process under a
  // profiler; the figures then include the profiler's own cost.
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
  std::sscanf(figures.c_str(), "%lf %lf %ld %d", &measure.seconds, &measure.cpuSeconds, &measure.peakKilobytes,
              &measure.exitCode);
  return measure;
}

void writeExecutable(const fs::path& path, unsigned seed) {
  std::vector<std::uint32_t> pixels(48 * 48);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | ((i * 7 + seed * 40) & 0xFF) << 16 | ((i / 48 * 5) & 0xFF) << 8 | (seed & 0xFF);
  testsupport::writeIconExecutable(path, 48, pixels, 0x00010002, 0x00030000 + seed, u"1.2.3");
}

// The program folder: the binary, DB/REDU.sqlite with kRows pending rows, and the executables.
struct Setup {
  testsupport::TempFolder folder;
  testsupport::TempFolder runtimeDir;
  fs::path program;
  Setup() {
    program = folder.path() / "talvenook";
    fs::copy_file(TALVENOOK_BINARY, program);
    fs::create_directories(folder.path() / "fixtures");
    for (unsigned i = 0; i < kExecutables; ++i)
      writeExecutable(folder.path() / "fixtures" / ("app" + std::to_string(i) + ".exe"), i);
  }
  fs::path database() const { return folder.path() / "DB" / "REDU.sqlite"; }
  void resetCatalogue() const {
    fs::create_directories(database().parent_path());
    fs::remove(database());
    sqlite3* db = nullptr;
    sqlite3_open(database().c_str(), &db);
    std::string sql = "BEGIN; CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, "
                      "pin TEXT, exticon TEXT);";
    for (int n = 0; n < kRows; ++n)
      sql += "INSERT INTO software_data (softname, exepath, pin, exticon) VALUES ('Application " + std::to_string(n) +
             "', '" + (folder.path() / "fixtures" / ("app" + std::to_string(n % kExecutables) + ".exe")).string() +
             "', '0', '1');";
    sql += "COMMIT;";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  int marked() const {
    sqlite3* db = nullptr;
    sqlite3_open(database().c_str(), &db);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM software_data WHERE pin = '1'", -1, &statement, nullptr);
    const int count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return count;
  }
};

Setup& setup() {
  static Setup instance;
  return instance;
}

// Every connection: read the request (bodies counted, not kept) and answer that the icon is wanted.
ScriptedServer::Script wantedReply() {
  return ScriptedServer::Script().readRequest(false).send(
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(kReply.size()) +
      "\r\nConnection: close\r\n\r\n" + kReply);
}

ScriptedServer& responder() {
  static ScriptedServer server;
  static const bool ready = [] {
    server.setDefaultScript(wantedReply());
    return true;
  }();
  (void)ready;
  return server;
}

Measure lastPass, lastFloor;

void report(benchmark::State& state, const Measure& m) {
  state.SetIterationTime(m.seconds);
  state.counters["rows_per_s"] = kRows / m.seconds;
  state.counters["cpu_us_per_row"] = m.cpuSeconds * 1e6 / kRows;
  state.counters["peak_MB"] = static_cast<double>(m.peakKilobytes) / 1024.0;
}

// Runs `command` once per iteration on a fresh catalogue; every row must end up marked.
void measureRuns(benchmark::State& state, Setup& s, const std::vector<std::string>& command,
                 const std::vector<std::string>& environment, Measure& last) {
  for (auto _ : state) {
    state.PauseTiming();
    s.resetCatalogue();
    state.ResumeTiming();
    const Measure m = runProcess(command, environment);
    if (m.exitCode != 0 || s.marked() != kRows) {
      const std::string why = "exit code " + std::to_string(m.exitCode) + ", " + std::to_string(s.marked()) +
                              " rows of " + std::to_string(kRows) + " marked";
      state.SkipWithError(why.c_str());
      return;
    }
    report(state, m);
    last = m;
  }
}

void WholePass(benchmark::State& state) {
  Setup& s = setup();
  const int port = responder().port();
  measureRuns(state, s, {s.program.string()},
              {"XDG_RUNTIME_DIR=" + s.runtimeDir.path().string(), "LD_PRELOAD=" PASS_BENCH_REDIRECT,
               "TALVENOOK_E2E_SERVICE_PORT=" + std::to_string(port)},
              lastPass);
}

void CurlFloor(benchmark::State& state) {
  Setup& s = setup();
  const int port = responder().port();
  measureRuns(state, s,
              {selfPath(), "--curl-floor", "http://127.0.0.1:" + std::to_string(port) + "/", s.folder.path().string(),
               std::to_string(kRows)},
              {}, lastFloor);
}

BENCHMARK(WholePass)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(CurlFloor)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- The floor, in its own process ----------------------------------------------------------------

size_t discard(char*, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(static_cast<size_t>(size * count), ' ');
  return size * count;
}

CURL* freshHandle(const std::string& url, std::string& reply) {
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  return curl;
}

// Per row: the existence POST, the multipart upload of the row's ICO file, and the update on a
// connection of its own. The ICO files are the ones an earlier pass wrote.
int curlFloor(const std::string& base, const fs::path& folder, int rows) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const std::string database = (folder / "DB" / "REDU.sqlite").string();
  for (int n = 0; n < rows; ++n) {
    const std::string name = "Application " + std::to_string(n);
    const std::string version = "1.2.3." + std::to_string(n % kExecutables);
    std::string reply;
    CURL* curl = freshHandle(base + "index.php?r=sw/exist", reply);
    const std::string form = "&name=Application%20" + std::to_string(n) + "&version=" + version;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Encoding: UTF-8");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
    const bool asked = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    if (!asked) return 2;

    const std::string icon = (folder / "image" / (std::to_string(n) + ".ico")).string();
    curl = freshHandle(base + "index.php?r=sw/upload", reply);
    curl_mime* mime = curl_mime_init(curl);
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, "name");
    curl_mime_data(part, name.c_str(), CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(mime);
    curl_mime_name(part, "version");
    curl_mime_data(part, version.c_str(), CURL_ZERO_TERMINATED);
    part = curl_mime_addpart(mime);
    curl_mime_name(part, "icon");
    curl_mime_filedata(part, icon.c_str());
    curl_mime_type(part, "image/x-icon");
    curl_easy_setopt(curl, CURLOPT_MIMEPOST, mime);
    const CURLcode code = curl_easy_perform(curl);
    const bool uploaded = code == CURLE_OK;
    curl_easy_cleanup(curl);
    curl_mime_free(mime);
    if (!uploaded) return 3;

    sqlite3* db = nullptr;
    if (sqlite3_open(database.c_str(), &db) != SQLITE_OK) return 4;
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "update software_data set pin=?1 where ID=?2;", -1, &statement, nullptr);
    sqlite3_bind_text(statement, 1, "1", -1, SQLITE_STATIC);
    const std::string id = std::to_string(n + 1);
    sqlite3_bind_text(statement, 2, id.c_str(), -1, SQLITE_TRANSIENT);
    const int stepped = sqlite3_step(statement);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    if (stepped != SQLITE_DONE) return 5;
  }
  curl_global_cleanup();
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
  if (argc == 3 && std::strcmp(argv[1], "--respond") == 0) return respond(std::atoi(argv[2]));
  if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0) {
    const Measure m = measureHere(argv + 2, environ);
    std::printf("%.6f %.6f %ld %d\n", m.seconds, m.cpuSeconds, m.peakKilobytes, m.exitCode);
    return 0;
  }
  if (argc == 5 && std::strcmp(argv[1], "--curl-floor") == 0) return curlFloor(argv[2], argv[3], std::atoi(argv[4]));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (lastPass.seconds > 0 && lastFloor.seconds > 0) {
    std::printf("Whole pass vs libcurl floor (last run each): time %.2fx, CPU %.2fx; peak memory %.1f MB vs %.1f MB\n",
                lastPass.seconds / lastFloor.seconds, lastPass.cpuSeconds / lastFloor.cpuSeconds,
                lastPass.peakKilobytes / 1024.0, lastFloor.peakKilobytes / 1024.0);
  }
  return 0;
}
