// The whole job, end to end: the real `talvenook` binary in a temporary program folder with a
// generated catalogue and generated executables, talking to a scripted loopback service.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/RedirectedLaunch.h"
#include "tests/support/Catalogue.h"
#include "tests/support/PeWriter.h"
#include "tests/support/ProgramRunner.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ScriptedServer;

std::string reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

ScriptedServer::Script answer(const std::string& body, const std::string& status = "200 OK") {
  return ScriptedServer::Script().readRequest().send(reply(status, body));
}

const std::string kWanted = R"({"success":true,"exist":false})";
const std::string kHeld = R"({"success":true,"exist":true})";

// A Windows executable with a 48x48 32-bit icon and the file version 1.2.3.4.
void writeExecutable(const fs::path& path, std::uint32_t colour) {
  std::vector<std::uint32_t> pixels(48 * 48, colour);
  for (int i = 0; i < 48; ++i) pixels[static_cast<size_t>(i * 48 + i)] = 0xFF000000;
  testsupport::writeIconExecutable(path, 48, pixels, (1u << 16) | 2u, (3u << 16) | 4u, u"1.2.3.4");
}

struct Row {
  std::string name;
  std::string exe;  // file name inside the fixtures folder
};

class WholePass : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  testsupport::TempFolder runtimeDir;
  testsupport::TempFolder fixtures;
  fs::path program = testsupport::installProgram(TALVENOOK_BINARY, folder.path());
  ScriptedServer server;

  // DB/REDU.sqlite beside the program with one pending row per entry, IDs from 1.
  void writeCatalogue(const std::vector<Row>& rows) {
    std::vector<testsupport::CatalogueRow> catalogue;
    for (const Row& row : rows) catalogue.push_back({nullptr, row.name, (fixtures.path() / row.exe).string()});
    testsupport::writeCatalogue(folder.path() / "DB" / "REDU.sqlite", catalogue);
  }
  std::vector<std::string> pins() { return testsupport::readCatalogue(folder.path() / "DB" / "REDU.sqlite", "pin"); }

  // The program's connects go to `servicePort`: the scripted server's, unless a test changes it.
  int servicePort = server.port();
  testsupport::ProgramResult run() {
    return testsupport::runProgram({program, e2etest::redirectedEnvironment(runtimeDir.path(), servicePort), {}, 60});
  }

  bool imageExists(int n) const { return fs::exists(folder.path() / "image" / (std::to_string(n) + ".ico")); }
  std::string image(int n) const {
    return testsupport::readFileBytes(folder.path() / "image" / (std::to_string(n) + ".ico"));
  }
  std::string imagePath(int n) const { return (folder.path() / "image" / (std::to_string(n) + ".ico")).string(); }

  static std::string bodyOf(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }
};

// Three rows, the middle one without an icon: image/0.ico and image/2.ico are written, two
// existence queries go out in row order; the service holds both icons, so nothing is uploaded
// and every row stays pending.
TEST_F(WholePass, RowWithoutIconIsSkippedAndHeldIconsAreNotUploaded) {
  writeExecutable(fixtures.path() / "first.exe", 0xFF2060C0);
  testsupport::writeFileBytes(fixtures.path() / "plain.exe", "MZ not really an executable");
  writeExecutable(fixtures.path() / "third.exe", 0xFFC06020);
  writeCatalogue({{"First App", "first.exe"}, {"No Icon", "plain.exe"}, {"Third & Co", "third.exe"}});
  server.addConnection(answer(kHeld));
  server.addConnection(answer(kHeld));

  const auto result = run();
  EXPECT_EQ(result.exitCode, 0) << result.errorOutput;
  EXPECT_TRUE(imageExists(0));
  EXPECT_FALSE(imageExists(1));
  EXPECT_TRUE(imageExists(2));
  const std::string ico = image(0);
  ASSERT_GE(ico.size(), 22u);
  EXPECT_EQ(ico.substr(0, 4), std::string("\0\0\1\0", 4));
  EXPECT_EQ(static_cast<unsigned char>(ico[6]), 48);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].rfind("POST /index.php?r=sw/exist HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(bodyOf(requests[0]), "&name=First%20App&version=1.2.3.4");
  EXPECT_EQ(bodyOf(requests[1]), "&name=Third%20%26%20Co&version=1.2.3.4");
  EXPECT_EQ(pins(), (std::vector<std::string>{"0", "0", "0"}));
  EXPECT_EQ(result.errorOutput, "ResponseStream: " + kHeld + "\nResponseStream: " + kHeld + "\n");
}

// A wanted icon is uploaded and exactly that row is marked; the row whose icon the service holds
// stays pending. The upload carries the ICO file as written, the name and the file version.
TEST_F(WholePass, SuccessfulUploadMarksExactlyThatRow) {
  writeExecutable(fixtures.path() / "a.exe", 0xFF2060C0);
  writeExecutable(fixtures.path() / "b.exe", 0xFF20C060);
  writeCatalogue({{"Wanted", "a.exe"}, {"Held", "b.exe"}});
  server.addConnection(answer(kWanted));
  server.addConnection(answer(R"({"success":true,"id":1})"));
  server.addConnection(answer(kHeld));

  const auto result = run();
  EXPECT_EQ(result.exitCode, 0) << result.errorOutput;
  EXPECT_EQ(pins(), (std::vector<std::string>{"1", "0"}));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].rfind("POST /index.php?r=sw/upload HTTP/1.0\r\n", 0), 0u);
  const std::string upload = bodyOf(requests[1]);
  EXPECT_NE(upload.find("name=\"name\"\r\n\r\nWanted\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"version\"\r\n\r\n1.2.3.4\r\n"), std::string::npos);
  EXPECT_NE(upload.find("name=\"icon\"; filename=\"" + imagePath(0) + "\"\r\n"), std::string::npos);
  EXPECT_NE(upload.find("\r\n\r\n" + image(0) + "\r\n--"), std::string::npos);
  EXPECT_EQ(bodyOf(requests[2]), "&name=Held&version=1.2.3.4");

  // Debug lines: the reply, the ICO path with the body size, the content type, the reply, the reply.
  const std::string& out = result.errorOutput;
  const auto sizeLine = out.find(imagePath(0) + std::to_string(upload.size()) + "\nmultipart/form-data; boundary=--------");
  EXPECT_NE(sizeLine, std::string::npos) << out;
  EXPECT_EQ(out.rfind("ResponseStream: " + kWanted + "\n", 0), 0u) << out;
  EXPECT_NE(out.find("\nResponseStream: {\"success\":true,\"id\":1}\nResponseStream: " + kHeld + "\n"), std::string::npos)
      << out;
}

// An upload that the service refuses, by a JSON reply or by its status, leaves the row pending.
TEST_F(WholePass, RefusedUploadsLeaveTheRowsPending) {
  writeExecutable(fixtures.path() / "a.exe", 0xFF2060C0);
  writeCatalogue({{"Refused by reply", "a.exe"}, {"Refused by status", "a.exe"}, {"Accepted", "a.exe"}});
  server.addConnection(answer(kWanted));
  server.addConnection(answer(R"({"success":false,"message":"not an icon"})"));
  server.addConnection(answer(kWanted));
  server.addConnection(answer(R"({"success":false})", "400 Bad Request"));
  server.addConnection(answer(kWanted));
  server.addConnection(answer("stored"));

  const auto result = run();
  EXPECT_EQ(result.exitCode, 0) << result.errorOutput;
  EXPECT_EQ(server.requests().size(), 6u);
  EXPECT_EQ(pins(), (std::vector<std::string>{"0", "0", "1"}));
}

// Nobody listening: every query fails quietly, the icons are still written, the rows stay
// pending, and the program ends normally.
TEST_F(WholePass, UnreachableServiceLeavesRowsPendingAndExitsNormally) {
  writeExecutable(fixtures.path() / "a.exe", 0xFF2060C0);
  writeCatalogue({{"One", "a.exe"}, {"Two", "a.exe"}});
  int closedPort = 0;
  {
    ScriptedServer gone;
    closedPort = gone.port();
  }
  servicePort = closedPort;
  const auto result = run();
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_LT(result.seconds, 20);
  EXPECT_EQ(result.errorOutput, "");
  EXPECT_TRUE(imageExists(0));
  EXPECT_TRUE(imageExists(1));
  EXPECT_EQ(pins(), (std::vector<std::string>{"0", "0"}));
}

// A second instance started while a slow pass runs exits at once with code 0 and sends nothing;
// the first instance finishes its pass. The first one's answer is held back until the second has
// ended (or kHeldBack has passed): a second instance that ends before kHeldBack did not wait for
// the first.
TEST_F(WholePass, SecondInstanceDuringASlowPassExitsAtOnce) {
  constexpr int kHeldBack = 30000;
  writeExecutable(fixtures.path() / "a.exe", 0xFF2060C0);
  writeCatalogue({{"Slow", "a.exe"}});
  std::atomic<bool> secondEnded {false};
  server.addConnection(
      ScriptedServer::Script().readRequest().delayUntil(secondEnded, kHeldBack).send(reply("200 OK", kHeld)));

  testsupport::ProgramResult first;
  std::thread firstRun([&] { first = run(); });
  for (int waited = 0; server.connections() == 0 && waited < 200; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(server.connections(), 1u);

  const auto second = run();
  const std::size_t connectionsDuringSecond = server.connections();
  secondEnded = true;
  firstRun.join();

  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.errorOutput, "");
  EXPECT_LT(second.seconds * 1000, kHeldBack);  // before the first instance could get its answer
  EXPECT_EQ(connectionsDuringSecond, 1u);
  EXPECT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.errorOutput, "ResponseStream: " + kHeld + "\n");
  EXPECT_EQ(server.connections(), 1u);
}

}  // namespace

// Files planted in the program's folders, with the real program: a FIFO as the catalogue's journal
// ends the pass at once with the open failure's error box (it used to wait in open() for ever);
// a link as the image folder ends it with the create error, and nothing is written where the link
// leads. Neither sends a request, and every row stays pending.
TEST_F(WholePass, PlantedJournalFifoAndLinkedImageFolderStopThePassWithTheirErrorBox) {
  writeExecutable(fixtures.path() / "a.exe", 0xFF2060C0);
  writeCatalogue({{"One", "a.exe"}});
  const fs::path programFolder = fs::canonical(folder.path());
  const std::string database = (programFolder / "DB" / "REDU.sqlite").string();
  ASSERT_EQ(mkfifo((database + "-journal").c_str(), 0600), 0);
  auto result = run();
  EXPECT_NE(result.exitCode, -1) << "the program waited on the FIFO until it was killed";
  EXPECT_LT(result.seconds, 20);
  EXPECT_EQ(result.errorOutput, "talvenook: Failed to open database \"" + database + "\" : \"" + database +
                                    "-journal\" is not a regular file.\n");
  EXPECT_FALSE(fs::exists(folder.path() / "image"));
  fs::remove(database + "-journal");

  fs::create_directory(fixtures.path() / "elsewhere");
  fs::create_directory_symlink(fixtures.path() / "elsewhere", folder.path() / "image");
  result = run();
  EXPECT_NE(result.exitCode, -1);
  EXPECT_EQ(result.errorOutput, "talvenook: Cannot create file \"" + (programFolder / "image" / "0.ico").string() +
                                    "\". " + std::strerror(ELOOP) + ".\n");
  EXPECT_TRUE(fs::is_empty(fixtures.path() / "elsewhere"));
  EXPECT_EQ(server.connections(), 0u);
  EXPECT_EQ(pins(), (std::vector<std::string>{"0"}));
}
