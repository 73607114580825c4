// The two service calls against a scripted loopback server: the bytes they send, how each reply
// is judged, the debug lines, and that every failure ends in false.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/ContentTypes.h"
#include "platform/DebugChannel.h"
#include "platform/TextCodePage.h"
#include "runtime/Exception.h"
#include "runtime/TFileStream.h"
#include "runtime/Text.h"
#include "service/IconService.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFolder.h"

namespace {

using testsupport::ScriptedServer;

std::string reply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

ScriptedServer::Script answer(const std::string& status, const std::string& body) {
  return ScriptedServer::Script().readRequest().send(reply(status, body));
}

// A port with nothing listening: bound to the loopback address and closed again.
int closedPort() {
  ScriptedServer probe;
  return probe.port();
}

class ServiceCalls : public testing::Test {
 protected:
  ScriptedServer server;
  testsupport::TempFolder folder;
  std::vector<std::u16string> debugLines;
  service::ServiceCallSettings settings;

  ServiceCalls() {
    settings.baseAddress = rt::u16(server.url("/"));
    settings.connectTimeout = 2000;
    settings.readTimeout = 2000;
    platform::setDebugSink([this](const std::u16string& line) { debugLines.push_back(line); });
    platform::setContentTypesFile(folder.file("absent.types"));
  }
  ~ServiceCalls() override {
    platform::setDebugSink({});
    platform::setContentTypesFile(u"");
  }

  std::string hostHeader() const { return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"; }

  std::u16string writeIcon(const std::string& name, const std::string& bytes) {
    testsupport::writeFileBytes(folder.path() / name, bytes);
    return folder.file(name);
  }

  // The ICO file can be rewritten by the program's own exclusive file stream (nobody holds it).
  bool rewritable(const std::u16string& path) {
    try {
      rt::TFileStream writer(path, rt::FileMode::CreateExclusive);
      writer.WriteBuffer("ICO", 3);
      return true;
    } catch (const rt::Exception&) {
      return false;
    }
  }
};

// --- Existence query -----------------------------------------------------------------------------

// The request on the wire, and the names whose characters a form decoder would misread: the
// separators stay raw, "&", "+", "=" and everything above U+007F are percent-encoded as UTF-8.
TEST_F(ServiceCalls, ExistenceQuerySendsTheFormBody) {
  const std::vector<std::pair<std::u16string, std::string>> names = {
      {u"My App", "&name=My%20App&version=1.2.3.4"},
      {u"AT&T", "&name=AT%26T&version=1.2.3.4"},
      {u"Notepad++", "&name=Notepad%2B%2B&version=1.2.3.4"},
      {u"a=b", "&name=a%3Db&version=1.2.3.4"},
      {u"Caf\u00e9 \u20ac", "&name=Caf%C3%A9%20%E2%82%AC&version=1.2.3.4"},
      {u"", "&name=&version=1.2.3.4"},
  };
  for (size_t i = 0; i < names.size(); ++i) server.addConnection(answer("200 OK", R"({"success":true,"exist":false})"));
  for (const auto& [name, body] : names) EXPECT_TRUE(service::iconExists(name, u"1.2.3.4", settings));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), names.size());
  EXPECT_EQ(requests[0],
            "POST /index.php?r=sw/exist HTTP/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Encoding: UTF-8\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 30\r\n" +
                hostHeader() +
                "Accept: text/html, */*\r\n"
                "Accept-Encoding: identity\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n"
                "\r\n"
                "&name=My%20App&version=1.2.3.4");
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& request = requests[i];
    EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), names[i].second);
  }
}

// Every reply judged: only "success" reading true with "exist" reading false wants an upload.
// Each reply is written to the debug channel before it is read.
TEST_F(ServiceCalls, ExistenceQueryJudgesEveryReplyVariant) {
  const std::vector<std::pair<std::string, bool>> replies = {
      {R"({"success":true,"exist":false})", true},
      {R"({"success":true})", true},  // a missing "exist" reads false
      {R"({"success":true,"exist":true})", false},
      {R"({"success":false,"exist":false})", false},
      {R"({"success":true,"exist":false}<html>trailing page</html>)", true},  // text after the value
      {"", false},
      {"<html><body>Service page</body></html>", false},
      {R"({"success":"false"})", true},  // a non-empty string reads true
      {R"({"success":""})", false},
      {R"({"success":0})", false},
      {R"({"success":0.0})", false},
      {R"({"success":null})", false},
      {R"({"success":1})", true},
      {R"({"success":0.5})", true},
      {R"({"success":[]})", true},
      {R"({"success":{}})", true},
      {R"({"Success":true})", false},  // names are case-sensitive
      {R"([{"success":true}])", false},
      {R"("success")", false},
      {"42 ", false},
      {R"({"success":false,"success":true})", true},  // the last equal name wins
      {R"({"success":true,"exist":"false"})", false},
      {R"({"success":true,"exist":0})", true},
      {"\xEF\xBB\xBF{\"success\":true}", false},  // a UTF-8 byte-order mark is not skipped
  };
  for (const auto& entry : replies) server.addConnection(answer("200 OK", entry.first));
  for (const auto& [body, wanted] : replies) {
    debugLines.clear();
    EXPECT_EQ(service::iconExists(u"App", u"1.0.0.0", settings), wanted) << body;
    ASSERT_EQ(debugLines.size(), 1u) << body;
    // The reply's text as the system's ANSI code page reads it (UTF-8 on Linux).
    EXPECT_EQ(debugLines[0], u"ResponseStream: " + platform::fromAnsi(body));
  }
}

// A rejected status, an unreachable service, a name that cannot be encoded: false, and no debug
// line (the failure's message is dropped).
TEST_F(ServiceCalls, ExistenceQueryFailuresGiveFalseSilently) {
  server.addConnection(answer("404 Not Found", R"({"success":true,"exist":false})"));
  server.addConnection(answer("500 Internal Server Error", R"({"success":true,"exist":false})"));
  server.addConnection(ScriptedServer::Script().readRequest().close());  // no reply at all
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_EQ(server.requests().size(), 3u);

  EXPECT_FALSE(service::iconExists(std::u16string(u"Bad\xD800name"), u"1.0.0.0", settings));
  EXPECT_EQ(server.connections(), 3u);  // nothing was sent for the lone surrogate

  service::ServiceCallSettings unreachable = settings;
  unreachable.baseAddress = u"http://127.0.0.1:" + rt::intToText(closedPort()) + u"/";
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", unreachable));
  EXPECT_TRUE(debugLines.empty());
}

// A service that accepts and never answers fails the call once the read time-out has passed. The
// peers stay silent for kSilence, far longer than the time-out: a call that fails before that was
// ended by the time-out.
TEST_F(ServiceCalls, SilentServiceFailsWithinTheReadTimeout) {
  constexpr int kSilence = 30000;
  settings.readTimeout = 300;
  ScriptedServer uploadServer;  // connections are served one after another: one server per call
  server.addConnection(ScriptedServer::Script().readRequest().delay(kSilence));
  uploadServer.addConnection(ScriptedServer::Script().readRequest().delay(kSilence));
  service::ServiceCallSettings uploadSettings = settings;
  uploadSettings.baseAddress = rt::u16(uploadServer.url("/"));
  const std::u16string icon = writeIcon("0.ico", "icon");

  const auto millisecondsSince = [](std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  };
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_LT(millisecondsSince(started), kSilence);
  started = std::chrono::steady_clock::now();
  EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", uploadSettings));
  EXPECT_LT(millisecondsSince(started), kSilence);
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(uploadServer.requests().size(), 1u);
  EXPECT_TRUE(rewritable(icon));
}

// --- Upload --------------------------------------------------------------------------------------

// A successful upload: the request head, the multipart body byte for byte (a non-ASCII name as
// UTF-8), the three debug lines in order, and the ICO file closed afterwards.
TEST_F(ServiceCalls, UploadSendsTheMultipartBodyAndWritesThreeDebugLines) {
  const std::string iconBytes("\0\0\1\0\1\0\x30\x30\0\0\1\0 \0ICO\r\n----body", 24);
  const std::u16string icon = writeIcon("0.ico", iconBytes);
  const std::u16string name = u"Caf\u00e9 \u8a08\u7b97\u5668";
  server.addConnection(answer("200 OK", R"({"success":true,"id":7})"));

  ASSERT_TRUE(service::uploadIcon(name, icon, u"10.0.19041.1", settings));

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& request = requests[0];
  const std::string head = request.substr(0, request.find("\r\n\r\n") + 4);
  const std::string body = request.substr(head.size());
  const auto boundaryAt = head.find("boundary=") + 9;
  const std::string boundary = head.substr(boundaryAt, head.find("\r\n", boundaryAt) - boundaryAt);
  ASSERT_EQ(boundary.size(), 23u);
  EXPECT_EQ(boundary.substr(0, 8), "--------");
  EXPECT_EQ(head,
            "POST /index.php?r=sw/upload HTTP/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n"
            "Content-Length: " + std::to_string(body.size()) + "\r\n" +
                hostHeader() +
                "Accept: text/html, */*\r\n"
                "Accept-Encoding: identity\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n"
                "\r\n");
  const std::string iconPath = rt::toUtf8(icon);
  EXPECT_EQ(body,
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n" + rt::toUtf8(name) + "\r\n"
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n10.0.19041.1\r\n"
            "--" + boundary + "\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"" + iconPath +
                "\"\r\nContent-Type: image/x-icon\r\n\r\n" + iconBytes + "\r\n"
            "--" + boundary + "--\r\n");

  ASSERT_EQ(debugLines.size(), 3u);
  EXPECT_EQ(rt::toUtf8(debugLines[0]), iconPath + std::to_string(body.size()));
  EXPECT_EQ(rt::toUtf8(debugLines[1]), "multipart/form-data; boundary=" + boundary);
  EXPECT_EQ(rt::toUtf8(debugLines[2]), R"(ResponseStream: {"success":true,"id":7})");
  EXPECT_TRUE(rewritable(icon));
}

// Which completed replies count: any accepted reply, unless it is JSON whose "success" reads
// false. Every one of them is written after "ResponseStream: ".
TEST_F(ServiceCalls, UploadCountsEveryAcceptedReplyButAnExplicitFailure) {
  const std::vector<std::pair<std::string, bool>> replies = {
      {"<html>thanks</html>", true},
      {"", true},
      {R"({"success":true})", true},
      {R"({"success":false,"message":"not an icon"})", false},
      {R"({"success":0})", false},
      {R"({"success":"yes"})", true},
      {R"({"message":"stored"})", true},
      {"[false]", true},
  };
  const std::u16string icon = writeIcon("0.ico", "icon bytes");
  for (const auto& entry : replies) server.addConnection(answer("200 OK", entry.first));
  for (const auto& [body, uploaded] : replies) {
    debugLines.clear();
    EXPECT_EQ(service::uploadIcon(u"App", icon, u"1.0.0.0", settings), uploaded) << body;
    ASSERT_EQ(debugLines.size(), 3u) << body;
    EXPECT_EQ(rt::toUtf8(debugLines[2]), "ResponseStream: " + body);
  }
  EXPECT_TRUE(rewritable(icon));
}

// Failures: a rejected status writes the two lines before posting but not the reply line; a
// missing ICO sends nothing and writes nothing; an unreachable service fails. The file is closed
// after each failure.
TEST_F(ServiceCalls, UploadFailuresGiveFalseAndReleaseTheFile) {
  const std::u16string icon = writeIcon("0.ico", "icon bytes");
  server.addConnection(answer("404 Not Found", "{}"));
  server.addConnection(answer("500 Internal Server Error", "{}"));
  for (int i = 0; i < 2; ++i) {
    debugLines.clear();
    EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings));
    ASSERT_EQ(debugLines.size(), 2u);
    EXPECT_EQ(debugLines[1].rfind(u"multipart/form-data; boundary=--------", 0), 0u);
    EXPECT_TRUE(rewritable(icon));
  }

  debugLines.clear();
  EXPECT_FALSE(service::uploadIcon(u"App", folder.file("missing.ico"), u"1.0.0.0", settings));
  EXPECT_TRUE(debugLines.empty());
  EXPECT_EQ(server.connections(), 2u);

  service::ServiceCallSettings unreachable = settings;
  unreachable.baseAddress = u"http://127.0.0.1:" + rt::intToText(closedPort()) + u"/";
  EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", unreachable));
  EXPECT_TRUE(rewritable(icon));
}

// The three texts end at an embedded U+0000, as the zero-terminated texts they were.
TEST_F(ServiceCalls, UploadCutsTextsAtAnEmbeddedNull) {
  const std::u16string icon = writeIcon("0.ico", "x");
  server.addConnection(answer("200 OK", "ok"));
  ASSERT_TRUE(service::uploadIcon(std::u16string(u"App\0hidden", 10), icon + std::u16string(u"\0.txt", 5),
                                  std::u16string(u"1.0\0.9", 6), settings));
  const std::string request = server.requests().at(0);
  EXPECT_NE(request.find("name=\"name\"\r\n\r\nApp\r\n"), std::string::npos);
  EXPECT_NE(request.find("name=\"version\"\r\n\r\n1.0\r\n"), std::string::npos);
  EXPECT_EQ(request.find("hidden"), std::string::npos);
  EXPECT_NE(request.find("Content-Type: image/x-icon"), std::string::npos);
}

}  // namespace

// --- Hostile or broken service --------------------------------------------------------------------

// Replies that must never count: more than the reply limit (announced, or sent until the close),
// cut before the end of the head or of the body, a malformed chunk size, a chunked body without
// its last chunk, and a reply trickled past the exchange deadline. The existence query then wants
// no upload, and the upload counts as failed; nothing of an oversized reply reaches the debug
// channel.
TEST_F(ServiceCalls, HostileRepliesFailBothCalls) {
  const std::string wanted = R"({"success":true,"exist":false})";
  const std::string oversized = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(settings.replyLimit + 1) + "\r\n\r\n";
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::vector<std::pair<std::string, ScriptedServer::Script>> attacks = {
      {"announced too large", ScriptedServer::Script().readRequest().send(oversized).sendFill(settings.replyLimit + 1)},
      {"too large until close", ScriptedServer::Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\n" + wanted).sendFill(100'000'000, ' ')},
      {"status line only", ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\n")},
      {"body cut short", ScriptedServer::Script().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 200\r\n\r\n" + wanted)},
      {"chunk size zz", ScriptedServer::Script().readRequest().send(chunked + "zz\r\n" + wanted + "\r\n0\r\n\r\n")},
      {"no last chunk", ScriptedServer::Script().readRequest().send(chunked + "1e\r\n" + wanted + "\r\n")},
  };
  const std::u16string icon = writeIcon("0.ico", "icon bytes");
  for (const auto& attack : attacks) {
    server.addConnection(attack.second);
    server.addConnection(attack.second);
  }
  for (const auto& [name, script] : attacks) {
    debugLines.clear();
    EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings)) << name;
    EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings)) << name;
    for (const std::u16string& line : debugLines) EXPECT_LT(line.size(), 1000u) << name;
  }
  EXPECT_TRUE(rewritable(icon));

  // A service that trickles its reply, each byte well within the read time-out.
  service::ServiceCallSettings shortDeadline = settings;
  shortDeadline.exchangeTimeout = 500;
  for (int call = 0; call < 2; ++call) {
    ScriptedServer::Script slow;
    slow.readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 30\r\n\r\n");
    for (char c : wanted) slow.delay(100).send(std::string(1, c));
    server.addConnection(slow);
  }
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", shortDeadline));
  EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", shortDeadline));
}

// The reply limit is the settings': the same good reply succeeds within a limit of its own size
// and fails both calls under a limit one byte smaller.
TEST_F(ServiceCalls, TheReplyLimitComesFromTheSettings) {
  const std::string wanted = R"({"success":true,"exist":false})";
  const std::u16string icon = writeIcon("0.ico", "icon bytes");
  for (int connection = 0; connection < 4; ++connection) server.addConnection(answer("200 OK", wanted));
  settings.replyLimit = static_cast<long long>(wanted.size());
  EXPECT_TRUE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_TRUE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings));
  settings.replyLimit = static_cast<long long>(wanted.size()) - 1;
  EXPECT_FALSE(service::iconExists(u"App", u"1.0.0.0", settings));
  EXPECT_FALSE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings));
}

// Interop: interim 1xx replies before the final one, and 201 Created naming the new icon with a
// Location, complete a good upload.
TEST_F(ServiceCalls, EarlyHintsAndCreatedCountAsSuccess) {
  const std::u16string icon = writeIcon("0.ico", "icon bytes");
  server.addConnection(ScriptedServer::Script().readRequest().send(
      "HTTP/1.1 103 Early Hints\r\nLink: </gallery.css>; rel=preload\r\n\r\n" + reply("200 OK", R"({"success":true})")));
  server.addConnection(answer("201 Created\r\nLocation: /icons/7", R"({"success":true,"id":7})"));
  server.addConnection(ScriptedServer::Script().readRequest().send(
      "HTTP/1.1 103 Early Hints\r\n\r\n" + reply("200 OK", R"({"success":true,"exist":false})")));
  EXPECT_TRUE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings));
  EXPECT_TRUE(service::uploadIcon(u"App", icon, u"1.0.0.0", settings));
  EXPECT_TRUE(service::iconExists(u"App", u"1.0.0.0", settings));
}
