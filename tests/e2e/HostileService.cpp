// The hostile-service set and its runner: the real binary started by the test program runner (which
// also takes its peak memory), its connects sent to the attack's scripted server, its catalogue
// read after.
#include "tests/e2e/HostileService.h"

#include <sys/stat.h>

#include <stdexcept>

#include "tests/e2e/RedirectedLaunch.h"
#include "tests/support/Catalogue.h"
#include "tests/support/PeWriter.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/TempFolder.h"

namespace hostile {
namespace {

namespace fs = std::filesystem;
using Script = testsupport::ScriptedServer::Script;

const std::string kWanted = R"({"success":true,"exist":false})";

std::string reply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

Script wanted() { return Script().readRequest().send(reply(kWanted)); }

// The upload's reply is the attack; the existence query wants the icon.
Attack onUpload(std::string name, Script upload) { return Attack {std::move(name), Catalogue::OneRow, {wanted(), std::move(upload)}}; }

// `piece` sent every `gap` ms, `times` times, after `head`.
Script trickle(const std::string& head, const std::string& piece, int times, int gap) {
  Script script;
  script.readRequest().send(head);
  for (int i = 0; i < times; ++i) script.delay(gap).send(piece);
  return script;
}

void writeCatalogue(const fs::path& folder, Catalogue kind) {
  fs::create_directories(folder / "DB");
  const fs::path exe = folder / "sample.exe";
  std::vector<std::uint32_t> pixels(48 * 48, 0xFF3366CC);
  testsupport::writeIconExecutable(exe, 48, pixels, (1u << 16) | 2u, (3u << 16) | 4u, u"1.2.3.4");
  const fs::path fifo = folder / "setup.exe";
  if (kind == Catalogue::FifoPath && mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");

  const fs::path database = folder / "DB" / "REDU.sqlite";
  if (kind == Catalogue::Mixed) {
    // The first row fixes the column kinds (integer key, integer name); rows 0 and 2 are not
    // pending and are what a null key or 2.7 read as an integer would wrongly mark.
    testsupport::writeCatalogue(database,
                                {{5, 7, exe.string()}, {0, "Zero", "", "0", "0"}, {2, "Two", "", "0", "0"},
                                 {nullptr, "Null Key", exe.string()}, {2.7, "Real Key", exe.string()},
                                 {"abc", "Text Key", exe.string()}},
                                "ID, softname, exepath, pin, exticon");
    return;
  }
  testsupport::writeCatalogue(database, {{1, "Sample", (kind == Catalogue::FifoPath ? fifo : exe).string()}});
}

void readMarks(const fs::path& folder, Outcome& outcome) {
  for (const std::string& row : testsupport::readCatalogue(folder / "DB" / "REDU.sqlite", "pin || ' ' || quote(ID)")) {
    if (row.rfind("1 ", 0) != 0) continue;
    if (outcome.rowsMarked++ > 0) outcome.markedKeys += " ";
    outcome.markedKeys += row.substr(2);
  }
}

}  // namespace

std::vector<Attack> attacks() {
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::vector<Attack> set;
  set.push_back(onUpload("endless 100 Continue", Script().readRequest().sendForever("HTTP/1.1 100 Continue\r\n\r\n")));
  set.push_back(onUpload("100 MB reply, announced",
                         Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n").sendFill(100'000'000)));
  set.push_back(onUpload("100 MB reply, until close",
                         Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\n").sendFill(100'000'000, ' ')));
  set.push_back(Attack {"100 MB reply to the existence query", Catalogue::OneRow,
                        {Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\n" + kWanted).sendFill(100'000'000, ' ')}});
  set.push_back(onUpload("reply of 1 MiB less 1 byte (kept)",
                         Script().readRequest().send(reply("{\"success\":true}" + std::string((1 << 20) - 17, ' ')))));
  set.push_back(onUpload("status line, then close", Script().readRequest().send("HTTP/1.1 200 OK\r\n")));
  set.push_back(onUpload("Content-Length 200, 14 bytes, close",
                         Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n{\"success\":fal")));
  set.push_back(onUpload("chunk size \"zz\"", Script().readRequest().send(chunked + "zz\r\n{\"success\":true}\r\n0\r\n\r\n")));
  set.push_back(onUpload("chunked, cut before the last chunk",
                         Script().readRequest().send(chunked + "10\r\n{\"success\":true}\r\n")));
  set.push_back(onUpload("ESC sequences and CR LF in the reply",
                         Script().readRequest().send(reply("{\"success\":true}\r\n\x1b[2J\x1b[H\rtalvenook: forged line"))));
  set.push_back(onUpload("103 Early Hints, then 201 Created + Location",
                         Script().readRequest().send("HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n"
                                                     "HTTP/1.1 201 Created\r\nLocation: /icons/1\r\nContent-Length: 16\r\n\r\n"
                                                     "{\"success\":true}")));
  set.push_back(Attack {"exepath is a FIFO", Catalogue::FifoPath, {wanted(), wanted()}});
  set.push_back(Attack {"catalogue: NULL, 2.7, 'abc' keys, numeric name", Catalogue::Mixed,
                        {wanted(), Script().readRequest().send(reply("{}")), wanted(), Script().readRequest().send(reply("{}")),
                         wanted(), Script().readRequest().send(reply("{}")), wanted(), Script().readRequest().send(reply("{}"))}});
  Attack headTrickle = onUpload("header lines trickled, one per 2 s",
                                trickle("HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 80, 2000));
  headTrickle.slow = true;
  set.push_back(std::move(headTrickle));
  Attack bodyTrickle = onUpload("body trickled, one byte per 2 s",
                                trickle("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", " ", 80, 2000));
  bodyTrickle.slow = true;
  set.push_back(std::move(bodyTrickle));
  return set;
}

Outcome run(const Attack& attack, const fs::path& binary, const fs::path& redirectLibrary, double timeoutSeconds) {
  testsupport::ScriptedServer server;
  for (const Script& script : attack.connections) server.addConnection(script);
  testsupport::TempFolder folder;
  testsupport::TempFolder runtimeDir;
  writeCatalogue(folder.path(), attack.catalogue);
  const fs::path program = testsupport::installProgram(binary, folder.path());
  testsupport::ProgramLaunch launch {
      program, e2etest::redirectedEnvironment(runtimeDir.path(), server.port(), redirectLibrary), {}, timeoutSeconds};
  launch.errorOutputLimit = 65536;
  const testsupport::ProgramResult result = testsupport::runProgram(launch);
  Outcome outcome;
  outcome.exitCode = result.exitCode;
  outcome.seconds = result.seconds;
  outcome.peakKilobytes = static_cast<long>(result.peakKilobytes);
  outcome.errorBytes = static_cast<std::size_t>(result.errorBytes);
  outcome.errorHead = result.errorOutput;
  readMarks(folder.path(), outcome);
  return outcome;
}

}  // namespace hostile
