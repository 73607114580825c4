// Form POSTs decoded by a peer nobody here wrote: PHP's built-in web server runs form_echo.php,
// which answers with the fields PHP decoded. Every field must come back exactly as sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "http/TNetHTTP.h"
#include "runtime/TStringStream.h"
#include "runtime/Text.h"
#include "tests/support/PhpServer.h"

using namespace net;

namespace {

std::string fromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// The fields PHP reported: name -> value, both as UTF-8 bytes.
std::map<std::string, std::string> decodedFields(const std::string& reply) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(reply);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields[fromHex(line.substr(0, equals))] = fromHex(line.substr(equals + 1));
  }
  return fields;
}

}  // namespace

TEST(PhpPeerTest, FormFieldsArriveAsSent) {
  testsupport::PhpServer php(std::filesystem::path(__FILE__).parent_path());
  ASSERT_TRUE(php.running()) << "php -S did not start";
  const std::u16string url = u"http://127.0.0.1:" + rt::intToText(php.port()) + u"/form_echo.php?r=sw/exist";

  const std::u16string names[] = {
      u"Talvenook Setup 2",                              // ASCII with spaces
      u"AT&T Notepad++ a=b 100% <x> [y] #z *q ?/:;'\"",  // reserved characters
      u"\u4e2d\u6587\u8f6f\u4ef6 \u30c6\u30b9\u30c8",    // CJK
      u"Caf\u00e9 \u00dcber M\u00f6t\u00f6r \u00c5ngstr\u00f6m \u20ac",  // accented, up to U+20AC
      u"\U0001F600 emoji\ttab",                           // beyond the BMP, a control character
  };
  for (const std::u16string& name : names) {
    // The existence query's shape: "&name=" + name and "version=" + version.
    TNetHTTP http;
    http.Request().ContentEncoding = u"UTF-8";
    rt::TStringList fields;
    fields.Add(u"&name=" + name);
    fields.Add(u"version=1.2.3.4");
    rt::TStringStream reply;
    http.PostStrings(url, fields, reply);
    const std::map<std::string, std::string> decoded = decodedFields(reply.DataString());
    EXPECT_EQ(decoded.size(), 2u) << reply.DataString();
    EXPECT_EQ(decoded.count("name") ? decoded.at("name") : "<missing>", rt::toUtf8(name)) << reply.DataString();
    EXPECT_EQ(decoded.count("version") ? decoded.at("version") : "<missing>", "1.2.3.4");
  }
}

// Servers started side by side each bind a port of their own and report it: none is told a port
// that another could take first, so parallel test runs cannot collide.
TEST(PhpPeerTest, ServersStartedTogetherGetPortsOfTheirOwn) {
  const std::filesystem::path root = std::filesystem::path(__FILE__).parent_path();
  testsupport::PhpServer first(root), second(root), third(root);
  ASSERT_TRUE(first.running() && second.running() && third.running());
  EXPECT_NE(first.port(), second.port());
  EXPECT_NE(second.port(), third.port());
  EXPECT_NE(first.port(), third.port());
  EXPECT_EQ(testsupport::portFromStartLine("[Tue Dec  8 13:32:38 2026] PHP 8.2.36 Development Server "
                                           "(http://127.0.0.1:39525) started\n"),
            39525);
  EXPECT_EQ(testsupport::portFromStartLine("[Tue Dec  8] PHP 8.2.36 Development Server (http://127.0.0.1:"), 0);
  EXPECT_EQ(testsupport::portFromStartLine("Failed to listen on 127.0.0.1:0 (reason: Address in use)"), 0);
}
