// talvenook.exe under Wine, end to end, against the scripted loopback server on 127.0.0.1:8750:
// the debug lines debugrun captures, the requests' bytes on the wire, the icon files, the marks,
// the named mutex held by a first instance, and the error box of a pass that fails.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/windows/LinuxProgramFolder.h"
#include "tests/e2e/windows/WindowsProgramFolder.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;
using wintest::WindowsProgramFolder;

constexpr int kServicePort = 8750;  // the program's compiled-in service address

std::string reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

ScriptedServer::Script answer(const std::string& body, const std::string& status = "200 OK") {
  return ScriptedServer::Script().readRequest().send(reply(status, body));
}

const std::string kWanted = R"({"success":true,"exist":false})";
const std::string kHeld = R"({"success":true,"exist":true})";
const std::string kNotepad = "C:\\windows\\system32\\notepad.exe";

std::string bodyOf(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }
std::string headOf(const std::string& request) { return request.substr(0, request.find("\r\n\r\n") + 4); }

// An upload request with its boundary, its file name and its length written as placeholders.
std::string normalised(std::string request, const std::string& boundary, const std::string& fileName) {
  const auto replaceAll = [&request](const std::string& from, const std::string& to) {
    for (std::size_t at = request.find(from); !from.empty() && at != std::string::npos;
         at = request.find(from, at + to.size()))
      request.replace(at, from.size(), to);
  };
  replaceAll(boundary.substr(2), "BOUNDARY");
  replaceAll("filename=\"" + fileName + "\"", "filename=\"FILE\"");
  request = std::regex_replace(request, std::regex("filename=\"FILE\"\r\nContent-Type: [^\r]*\r\n"),
                               "filename=\"FILE\"\r\nContent-Type: TYPE\r\n");
  return std::regex_replace(request, std::regex("\r\nContent-Length: \\d+\r\n"), "\r\nContent-Length: N\r\n");
}

// The content type the prefix's registry gives an extension (HKCR\<extension>, "Content Type"),
// read from the registry file Wine keeps on disk.
std::string registryContentType(const wintest::WinePrefix& prefix, const std::string& extension) {
  const std::string registry = testsupport::readFileBytes(prefix.folder() / "system.reg");
  const std::size_t key = registry.find("\n[Software\\\\Classes\\\\" + extension + "]");
  if (key == std::string::npos) return "";
  const std::size_t end = registry.find("\n\n", key + 1);
  const std::string value = "\n\"Content Type\"=\"";
  const std::size_t at = registry.find(value, key);
  if (at == std::string::npos || at > end) return "";
  const std::size_t from = at + value.size();
  return registry.substr(from, registry.find('"', from) - from);
}

class WindowsWholePass : public testing::Test {
 protected:
  WindowsProgramFolder program;
};

// Four rows: a generated executable, a file without icon resources, Wine's own notepad.exe, and a
// name with "&". image\0, \2 and \3 are written, \1 is not; three existence queries leave the
// program with the same head and body bytes as on Linux; the service holds every icon, so nothing
// is uploaded and every row stays pending. Each reply is one debug line.
TEST_F(WindowsWholePass, RowWithoutIconIsSkippedAndHeldIconsAreNotUploaded) {
  wintest::writeIconExecutable(program.fixtures() / "first.exe", 0xFF2060C0);
  testsupport::writeFileBytes(program.fixtures() / "plain.exe", "MZ not really an executable");
  wintest::writeIconExecutable(program.fixtures() / "fourth.exe", 0xFFC06020);
  program.writeCatalogue({{"First App", program.fixturePath("first.exe")},
                          {"No Icon", program.fixturePath("plain.exe")},
                          {"Wine Notepad", kNotepad},
                          {"Fourth & Co", program.fixturePath("fourth.exe")}});
  wintest::DebuggedResult result;
  std::vector<std::string> requests;
  {
    ScriptedServer server(ScriptedServer::Family::IPv4, kServicePort);
    for (int i = 0; i < 3; ++i) server.addConnection(answer(kHeld));
    result = program.run();
    requests = server.requests();
  }

  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_EQ(result.reports, "");
  EXPECT_TRUE(program.imageExists(0));
  EXPECT_FALSE(program.imageExists(1));
  EXPECT_TRUE(program.imageExists(2));
  EXPECT_TRUE(program.imageExists(3));
  for (int n : {0, 2, 3}) {
    const std::string ico = program.image(n);
    ASSERT_GE(ico.size(), 22u) << n;
    EXPECT_EQ(ico.substr(0, 6), std::string("\0\0\1\0\1\0", 6)) << n;
    EXPECT_EQ(static_cast<unsigned char>(ico[6]), 48) << n;
    EXPECT_EQ(static_cast<unsigned char>(ico[7]), 48) << n;
  }

  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].rfind("POST /index.php?r=sw/exist HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(bodyOf(requests[0]), "&name=First%20App&version=1.2.3.4");
  EXPECT_TRUE(std::regex_match(bodyOf(requests[1]), std::regex(R"(&name=Wine%20Notepad&version=\d+\.\d+\.\d+\.\d+)")))
      << bodyOf(requests[1]);
  EXPECT_EQ(bodyOf(requests[2]), "&name=Fourth%20%26%20Co&version=1.2.3.4");
  EXPECT_EQ(program.pins(), (std::vector<std::string>{"0", "0", "0", "0"}));
  EXPECT_EQ(result.debugLines, std::vector<std::string>(3, "ResponseStream: " + kHeld));

  // The Linux build, on the same executables (Wine's notepad.exe included) and names, sends the
  // same bytes: heads, bodies, and the version it reads out of notepad.exe.
  wintest::LinuxProgramFolder linuxRun;
  linuxRun.writeCatalogue(
      {{"First App", (program.fixtures() / "first.exe").string()},
       {"No Icon", (program.fixtures() / "plain.exe").string()},
       {"Wine Notepad", (program.prefix().driveC() / "windows" / "system32" / "notepad.exe").string()},
       {"Fourth & Co", (program.fixtures() / "fourth.exe").string()}});
  ScriptedServer linuxServer(ScriptedServer::Family::IPv4, kServicePort);
  for (int i = 0; i < 3; ++i) linuxServer.addConnection(answer(kHeld));
  const auto linuxResult = linuxRun.run();
  EXPECT_EQ(linuxResult.exitCode, 0) << linuxResult.errorOutput;
  EXPECT_EQ(linuxServer.requests(), requests);
  EXPECT_EQ(linuxResult.errorOutput,
            "ResponseStream: " + kHeld + "\nResponseStream: " + kHeld + "\nResponseStream: " + kHeld + "\n");
}

// A wanted icon is uploaded and exactly that row is marked. The upload carries the name (accents,
// CJK, "&", "+", "=" as UTF-8), the version, and the ICO file as written, named by its Windows
// path; the debug lines are the reply, the ICO path with the body size, the content type, the
// upload's reply and the next row's reply.
TEST_F(WindowsWholePass, SuccessfulUploadMarksExactlyThatRow) {
  const std::string name = "Caf\u00e9 & Cr\u00e8me+=\u6587\u5b57";
  wintest::writeIconExecutable(program.fixtures() / "a.exe", 0xFF2060C0);
  wintest::writeIconExecutable(program.fixtures() / "b.exe", 0xFF20C060);
  program.writeCatalogue({{name, program.fixturePath("a.exe")}, {"Held", program.fixturePath("b.exe")}});
  wintest::DebuggedResult result;
  std::vector<std::string> requests;
  {
    ScriptedServer server(ScriptedServer::Family::IPv4, kServicePort);
    server.addConnection(answer(kWanted));
    server.addConnection(answer(R"({"success":true,"id":1})"));
    server.addConnection(answer(kHeld));
    result = program.run();
    requests = server.requests();
  }
  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_EQ(program.pins(), (std::vector<std::string>{"1", "0"}));

  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(bodyOf(requests[0]), "&name=Caf%C3%A9%20%26%20Cr%C3%A8me%2B%3D%E6%96%87%E5%AD%97&version=1.2.3.4");
  EXPECT_EQ(requests[1].rfind("POST /index.php?r=sw/upload HTTP/1.0\r\n", 0), 0u);
  const std::string upload = bodyOf(requests[1]);
  const std::string boundary = upload.substr(0, upload.find("\r\n"));
  EXPECT_NE(headOf(requests[1]).find("\r\nContent-Type: multipart/form-data; boundary=" + boundary.substr(2) + "\r\n"),
            std::string::npos)
      << headOf(requests[1]);
  EXPECT_NE(upload.find("name=\"name\"\r\n\r\n" + name + "\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"version\"\r\n\r\n1.2.3.4\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"icon\"; filename=\"" + WindowsProgramFolder::imagePath(0) + "\"\r\n"),
            std::string::npos)
      << upload.substr(0, 600);
  EXPECT_NE(upload.find("\r\n\r\n" + program.image(0) + "\r\n" + boundary + "--\r\n"), std::string::npos);
  // The file part's content type comes from the registry (Linux: /etc/mime.types).
  const std::string iconType = registryContentType(program.prefix(), ".ico");
  ASSERT_FALSE(iconType.empty());
  EXPECT_NE(
      upload.find("filename=\"" + WindowsProgramFolder::imagePath(0) + "\"\r\nContent-Type: " + iconType + "\r\n"),
      std::string::npos)
      << iconType;
  EXPECT_EQ(bodyOf(requests[2]), "&name=Held&version=1.2.3.4");

  ASSERT_EQ(result.debugLines.size(), 5u) << result.reports;
  EXPECT_EQ(result.debugLines[0], "ResponseStream: " + kWanted);
  EXPECT_EQ(result.debugLines[1], WindowsProgramFolder::imagePath(0) + std::to_string(upload.size()));
  EXPECT_EQ(result.debugLines[2], "multipart/form-data; boundary=" + boundary.substr(2));
  EXPECT_EQ(result.debugLines[3], R"(ResponseStream: {"success":true,"id":1})");
  EXPECT_EQ(result.debugLines[4], "ResponseStream: " + kHeld);

  // The Linux build's upload of the same row is the same request, but for its own boundary, the
  // file name (a Linux path), the lengths that follow from that, and the content type its
  // platform's table gives ".ico".
  wintest::LinuxProgramFolder linuxRun;
  linuxRun.writeCatalogue(
      {{name, (program.fixtures() / "a.exe").string()}, {"Held", (program.fixtures() / "b.exe").string()}});
  std::vector<std::string> linuxRequests;
  {
    ScriptedServer linuxServer(ScriptedServer::Family::IPv4, kServicePort);
    linuxServer.addConnection(answer(kWanted));
    linuxServer.addConnection(answer(R"({"success":true,"id":1})"));
    linuxServer.addConnection(answer(kHeld));
    EXPECT_EQ(linuxRun.run().exitCode, 0);
    linuxRequests = linuxServer.requests();
  }
  ASSERT_EQ(linuxRequests.size(), 3u);
  EXPECT_EQ(linuxRequests[0], requests[0]);
  EXPECT_EQ(linuxRequests[2], requests[2]);
  const std::string linuxUpload = bodyOf(linuxRequests[1]);
  EXPECT_EQ(normalised(linuxRequests[1], linuxUpload.substr(0, linuxUpload.find("\r\n")),
                       (linuxRun.folder() / "image" / "0.ico").string()),
            normalised(requests[1], boundary, WindowsProgramFolder::imagePath(0)));
}

// Nobody listening on the service port: every query fails quietly, the icons are still written,
// the rows stay pending, and the program ends normally without a debug line.
TEST_F(WindowsWholePass, UnreachableServiceLeavesRowsPendingAndExitsNormally) {
  wintest::writeIconExecutable(program.fixtures() / "a.exe", 0xFF2060C0);
  program.writeCatalogue({{"One", program.fixturePath("a.exe")}, {"Two", program.fixturePath("a.exe")}});
  const auto result = program.run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.reports, "");
  EXPECT_TRUE(result.debugLines.empty());
  EXPECT_TRUE(program.imageExists(0));
  EXPECT_TRUE(program.imageExists(1));
  EXPECT_EQ(program.pins(), (std::vector<std::string>{"0", "0"}));
}

// The named mutex: while a first instance waits for a slow service (so it holds "TALVENOOK"), a
// second one in the same prefix exits with code 0, says nothing and sends nothing; the first
// then finishes its pass.
TEST_F(WindowsWholePass, SecondInstanceDuringASlowPassExitsAtOnce) {
  wintest::writeIconExecutable(program.fixtures() / "a.exe", 0xFF2060C0);
  program.writeCatalogue({{"Slow", program.fixturePath("a.exe")}});
  ScriptedServer server(ScriptedServer::Family::IPv4, kServicePort);
  server.addConnection(ScriptedServer::Script().readRequest().delay(20000).send(reply("200 OK", kHeld)));

  auto first = program.start();
  for (int waited = 0; server.connections() == 0 && first->running() && waited < 1200; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(server.connections(), 1u) << "the first instance never reached the service";

  const auto second = program.run();
  const bool firstStillWaiting = first->running() && !server.waitForFinished(1, 0);
  const auto firstResult = first->wait();

  EXPECT_EQ(second.exitCode, 0) << second.reports;
  EXPECT_TRUE(second.debugLines.empty());
  EXPECT_EQ(second.reports, "");
  EXPECT_TRUE(firstStillWaiting) << "the second instance ended only after the first one's answer";
  EXPECT_EQ(server.connections(), 1u);
  EXPECT_EQ(firstResult.exitCode, 0) << firstResult.reports;
  EXPECT_EQ(firstResult.debugLines, std::vector<std::string>{"ResponseStream: " + kHeld});
}

// A catalogue without the table: the pass fails, one error box (caption: the application title;
// text: the catalogue error's message) is shown and closed, and the program ends with code 0.
// The box says exactly what the Linux build writes on its error line for the same catalogue.
TEST_F(WindowsWholePass, FailedPassShowsOneErrorBoxAndEndsNormally) {
  program.writeCatalogueWithoutTable();
  const auto result = program.run();
  EXPECT_EQ(result.exitCode, 0) << result.reports;
  EXPECT_TRUE(result.debugLines.empty());
  const std::string prefix = "debugrun: error box \"talvenook\": ";
  ASSERT_EQ(result.reports.rfind(prefix, 0), 0u) << result.reports;
  EXPECT_NE(result.reports.find("no such table: software_data"), std::string::npos) << result.reports;
  const std::string boxText = result.reports.substr(prefix.size());
  EXPECT_EQ(std::count(result.reports.begin(), result.reports.end(), '\n'),
            std::count(boxText.begin(), boxText.end(), '\n'));  // nothing after the one box

  // The Linux build on a copy of the same catalogue, for the same message.
  wintest::LinuxProgramFolder linuxRun;
  fs::create_directories(linuxRun.folder() / "DB");
  fs::copy_file(program.folder() / "DB" / "REDU.sqlite", linuxRun.folder() / "DB" / "REDU.sqlite");
  const auto linuxResult = linuxRun.run();
  EXPECT_EQ(linuxResult.exitCode, 0);
  EXPECT_EQ("talvenook: " + boxText, linuxResult.errorOutput);
}

}  // namespace
