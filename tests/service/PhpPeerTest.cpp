// The service calls decoded by a peer nobody here wrote: PHP's built-in web server runs
// peer/index.php, which answers with what PHP's own form and multipart parsers made of each
// request. The reply comes back through the debug channel's "ResponseStream: " line.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "json/JsonParse.h"
#include "platform/ContentTypes.h"
#include "platform/DebugChannel.h"
#include "runtime/Text.h"
#include "service/IconService.h"
#include "tests/support/PhpServer.h"
#include "tests/support/TempFolder.h"

namespace {

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class PhpPeer : public testing::Test {
 protected:
  testsupport::PhpServer php{std::filesystem::path(__FILE__).parent_path() / "peer"};
  testsupport::TempFolder folder;
  std::vector<std::u16string> debugLines;
  service::ServiceCallSettings settings;

  PhpPeer() {
    settings.baseAddress = rt::fromUtf8(php.base());
    settings.readTimeout = 10000;
    platform::setDebugSink([this](const std::u16string& line) { debugLines.push_back(line); });
    platform::setContentTypesFile(folder.file("absent.types"));
  }
  ~PhpPeer() override {
    platform::setDebugSink({});
    platform::setContentTypesFile(u"");
  }

  // The JSON the peer answered with, read back from the last "ResponseStream: " line.
  json::JsonRef lastReply() {
    const std::u16string prefix = u"ResponseStream: ";
    if (debugLines.empty() || debugLines.back().rfind(prefix, 0) != 0) return {};
    return json::ParseFromText(debugLines.back().substr(prefix.size()));
  }
  static std::u16string textAt(const json::JsonRef& value, std::u16string_view key) {
    const json::JsonRef member = value ? value->ValueAt(key) : json::JsonRef();
    return member ? member->Text() : u"(none)";
  }
};

// Uploads decoded by PHP: the name (also outside ASCII and with form syntax characters), the
// version, the file's exact bytes and its client path equal what was sent.
TEST_F(PhpPeer, UploadFieldsAndFileArriveIntact) {
  ASSERT_TRUE(php.running()) << "php -S did not start";
  std::filesystem::create_directories(folder.path() / "ikoner-\xc3\xa4");
  std::string iconBytes;
  for (int i = 0; i < 256; ++i) iconBytes += static_cast<char>(i);
  iconBytes += "\r\n--------\r\n--\r\nContent-Type: text/plain\r\n\r\n";
  const std::vector<std::u16string> names = {u"My App", u"Caf\u00e9 \u8a08\u7b97\u5668 \u2122", u"AT&T a=b Notepad++",
                                             u"say \"hi\""};
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string file = "ikoner-\xc3\xa4/" + std::to_string(i) + ".ico";
    testsupport::writeFileBytes(folder.path() / file, iconBytes + std::to_string(i));
    const std::u16string path = folder.file(file);
    debugLines.clear();
    ASSERT_TRUE(service::uploadIcon(names[i], path, u"10.0.19041." + rt::intToText(static_cast<int>(i)), settings));

    const json::JsonRef reply = lastReply();
    ASSERT_TRUE(reply) << rt::toUtf8(debugLines.back());
    EXPECT_EQ(textAt(reply, u"r"), u"sw/upload");
    EXPECT_EQ(textAt(reply, u"post.name"), names[i]);
    EXPECT_EQ(textAt(reply, u"post.version"), u"10.0.19041." + rt::intToText(static_cast<int>(i)));
    EXPECT_EQ(textAt(reply, u"files.icon.full_path"), path);
    EXPECT_EQ(textAt(reply, u"files.icon.name"), rt::intToText(static_cast<int>(i)) + u".ico");
    EXPECT_EQ(textAt(reply, u"files.icon.type"), u"image/x-icon");
    EXPECT_EQ(rt::toUtf8(textAt(reply, u"files.icon.hex")), hex(iconBytes + std::to_string(i)));
  }
}

// Existence queries decoded by PHP's form parser: the name arrives exactly as it was, including
// "&", "+", "=" and characters outside ASCII.
TEST_F(PhpPeer, ExistenceQueryFieldsArriveIntact) {
  ASSERT_TRUE(php.running()) << "php -S did not start";
  for (const std::u16string name : {u"My App", u"Notepad++", u"AT&T", u"a=b&c=d", u"Caf\u00e9 \u20ac \U0001F600",
                                    u"100% <sure> #1"}) {
    debugLines.clear();
    EXPECT_TRUE(service::iconExists(name, u"1.2.3.4", settings));
    const json::JsonRef reply = lastReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(textAt(reply, u"r"), u"sw/exist");
    EXPECT_EQ(textAt(reply, u"post.name"), name) << rt::toUtf8(debugLines.back());
    EXPECT_EQ(textAt(reply, u"post.version"), u"1.2.3.4");
  }
}

}  // namespace
