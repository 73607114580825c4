// The multipart body stream: exact bytes, sizes that match what reading yields, the seek rules,
// and the file part's read lock.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "http/NetExceptions.h"
#include "platform/ContentTypes.h"
#include "runtime/Exception.h"
#include "runtime/TFileStream.h"
#include "runtime/Text.h"
#include "service/TEncodingMultiPartFormData.h"
#include "tests/support/TempFolder.h"

namespace {

using service::TEncodingMultiPartFormData;

// 3 December 2013, 14:05:09.007.
constexpr platform::LocalTime kCreated{2013, 12, 3, 14, 5, 9, 7};
constexpr char kBoundary[] = "--------120313140509007";

std::string readAll(rt::TStream& stream, std::int64_t chunk) {
  std::string body;
  std::vector<char> buffer(static_cast<size_t>(chunk));
  for (;;) {
    const std::int64_t got = stream.Read(buffer.data(), chunk);
    if (got == 0) return body;
    body.append(buffer.data(), static_cast<size_t>(got));
  }
}

class MultiPart : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  MultiPart() { platform::setContentTypesFile(folder.file("absent.types")); }
  ~MultiPart() override { platform::setContentTypesFile(u""); }

  std::u16string writeFile(const std::string& name, const std::string& bytes) {
    testsupport::writeFileBytes(folder.path() / name, bytes);
    return folder.file(name);
  }
};

// The whole body of an upload-shaped form, byte for byte: both header templates, a file part
// whose content type comes from its extension, names and file names inserted unescaped.
TEST_F(MultiPart, BodyIsTheTwoTemplatesAndTheClosingLine) {
  const std::string icon("\0\0\1\0ICO\r\n--bytes", 17);
  const std::u16string path = writeFile("0.ico", icon);
  const std::string pathBytes = rt::toUtf8(path);
  TEncodingMultiPartFormData stream(kCreated);
  EXPECT_EQ(stream.BoundaryText(), rt::u16(kBoundary));
  EXPECT_EQ(stream.FormContentType(), u"multipart/form-data; boundary=" + rt::u16(kBoundary));
  stream.AddTextField(u"name", u"My App");
  stream.AddTextField(u"version", u"1.2.3.4");
  stream.AddTextField(u"empty", u"");
  stream.AddFileField(u"icon", path, u"");
  stream.AddTextField(u"say \"hi\"", u"a\"b");

  const std::string expected = std::string() +
      "----------120313140509007\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nMy App\r\n"
      "----------120313140509007\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n1.2.3.4\r\n"
      "----------120313140509007\r\nContent-Disposition: form-data; name=\"empty\"\r\n\r\n\r\n"
      "----------120313140509007\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"" + pathBytes +
      "\"\r\nContent-Type: image/x-icon\r\n\r\n" + icon + "\r\n"
      "----------120313140509007\r\nContent-Disposition: form-data; name=\"say \"hi\"\"\r\n\r\na\"b\r\n"
      "----------120313140509007--\r\n";
  EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(readAll(stream, 1 << 16), expected);
}

// Reads of any size give the same bytes, the size equals the bytes read (also for an empty file
// and a file whose length meets a chunk end exactly), and the read after the end gives 0.
TEST_F(MultiPart, ChunkSizesDoNotChangeTheBytes) {
  const std::u16string empty = writeFile("empty.bin", "");
  std::string content(4096, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const std::u16string data = writeFile("data.bin", content);

  TEncodingMultiPartFormData stream(kCreated);
  stream.AddTextField(u"name", u"x");
  stream.AddFileField(u"empty", empty, u"application/x-empty");
  stream.AddFileField(u"data", data, u"application/x-data");
  const std::int64_t size = stream.Size();

  const std::string whole = readAll(stream, size + 100);
  EXPECT_EQ(static_cast<std::int64_t>(whole.size()), size);
  EXPECT_NE(whole.find("application/x-empty\r\n\r\n\r\n--"), std::string::npos);
  char after = 0;
  EXPECT_EQ(stream.Read(&after, 1), 0);
  for (std::int64_t chunk : {1, 2, 7, 4096, 4096 + 2}) {
    stream.Seek(0, rt::SeekOrigin::Beginning);
    EXPECT_EQ(readAll(stream, chunk), whole) << "chunk " << chunk;
  }
}

// Before any read the size is the parts plus 29 bytes of closing line; a name outside ASCII is
// counted and written as its UTF-8 bytes.
TEST_F(MultiPart, SizesCountTheUtf8Bytes) {
  const std::u16string name = u"Caf\u00e9 \u8a08\u7b97\u5668 \U0001F600";
  TEncodingMultiPartFormData utf8(kCreated);
  utf8.AddTextField(u"name", name);
  const std::string header = "----------120313140509007\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n";
  const std::string closing = "----------120313140509007--\r\n";
  ASSERT_EQ(closing.size(), 29u);

  const std::string utf8Body = header + rt::toUtf8(name) + "\r\n" + closing;
  EXPECT_EQ(utf8.Size(), static_cast<std::int64_t>(utf8Body.size()));
  EXPECT_EQ(readAll(utf8, 3), utf8Body);
}

// Only a rewind moves: other seeks report the bytes delivered, from the end the body size; a
// rewind in the middle of a file part starts the body over.
TEST_F(MultiPart, OnlyARewindMovesThePosition) {
  const std::u16string data = writeFile("data.bin", std::string(300, 'd'));
  TEncodingMultiPartFormData stream(kCreated);
  stream.AddTextField(u"name", u"n");
  stream.AddFileField(u"data", data, u"a/b");
  const std::int64_t size = stream.Size();
  const std::string whole = readAll(stream, 1000);
  stream.Seek(0, rt::SeekOrigin::Beginning);

  std::string head(100, '\0');
  ASSERT_EQ(stream.Read(head.data(), 100), 100);
  EXPECT_EQ(stream.Seek(5, rt::SeekOrigin::Beginning), 100);
  EXPECT_EQ(stream.Seek(-50, rt::SeekOrigin::Current), 100);
  EXPECT_EQ(stream.Seek(0, rt::SeekOrigin::End), size);
  EXPECT_EQ(stream.Size(), size);
  EXPECT_EQ(stream.Position(), 100);
  EXPECT_EQ(head + readAll(stream, 64), whole);

  stream.Seek(0, rt::SeekOrigin::Beginning);
  std::string partial(250, '\0');  // stops inside the file's content
  ASSERT_EQ(stream.Read(partial.data(), 250), 250);
  EXPECT_EQ(stream.Seek(0, rt::SeekOrigin::Beginning), 0);
  EXPECT_EQ(readAll(stream, 1000), whole);
}

// A boundary whose delimiter occurs in a part is never used: the time moves on a millisecond at
// a time (across day and year ends) past every stamp the parts hold, wherever the delimiter
// stands: inside a value, at its very start (after the header's line break), inside a file or
// across the edge of a scan piece, or where the file's first bytes meet its header.
TEST_F(MultiPart, BoundaryAvoidsDelimitersThePartsHold) {
  const auto delimiter = [](const std::string& stamp) { return "\r\n----------" + stamp; };
  const std::string pieceEdge(64 * 1024 - 5, 'x');  // a delimiter across the first scan piece's end
  struct Case {
    const char* what;
    platform::LocalTime created;
    std::string value, file;
    const char* boundary;
  } cases[] = {
      {"ordinary body", kCreated, "My App", "ICO bytes", "--------120313140509007"},
      {"in a value", kCreated, "a" + delimiter("120313140509007") + "b", "", "--------120313140509008"},
      {"at a value's start", kCreated, "----------120313140509007", "", "--------120313140509008"},
      {"two held in a row", kCreated, delimiter("120313140509007"), delimiter("120313140509008"),
       "--------120313140509009"},
      {"across a scan piece", kCreated, "", pieceEdge + delimiter("120313140509007"), "--------120313140509008"},
      {"at a file's start", kCreated, "", "----------120313140509007", "--------120313140509008"},
      {"a later stamp only", kCreated, delimiter("120313140509008"), "", "--------120313140509007"},
      {"not a stamp", kCreated, delimiter("12031314050900") + "x" + delimiter("-120313140509007"), "",
       "--------120313140509007"},
      {"year's end", {2013, 12, 31, 23, 59, 59, 999}, delimiter("123113235959999"), "", "--------010114000000000"},
      {"leap day", {2016, 2, 28, 23, 59, 59, 999}, delimiter("022816235959999"), "", "--------022916000000000"},
  };
  for (const Case& c : cases) {
    const std::u16string path = writeFile("part.bin", c.file);
    TEncodingMultiPartFormData stream(c.created);
    stream.AddTextField(u"name", rt::fromUtf8(c.value));
    stream.AddFileField(u"icon", path, u"image/x-icon");
    EXPECT_EQ(rt::toUtf8(stream.BoundaryText()), c.boundary) << c.what;
    EXPECT_EQ(rt::toUtf8(stream.FormContentType()), std::string("multipart/form-data; boundary=") + c.boundary);

    // The body's delimiters are the three of its framing alone, and it is as long as announced.
    const std::string body = readAll(stream, 4096);
    EXPECT_EQ(static_cast<std::int64_t>(body.size()), stream.Size()) << c.what;
    const std::string line = std::string("\r\n--") + c.boundary;
    int delimiters = 0;
    for (size_t at = body.find(line); at != std::string::npos; at = body.find(line, at + 1)) ++delimiters;
    EXPECT_EQ(delimiters, 2) << c.what;  // before the file part and before the closing line
    EXPECT_EQ(body.rfind(std::string("--") + c.boundary + "\r\n", 0), 0u) << c.what;
  }
}

// Writing and resizing are refused with the client's error.
TEST_F(MultiPart, WriteAndSetSizeAreUnsupported) {
  TEncodingMultiPartFormData stream(kCreated);
  for (auto attempt : {+[](rt::TStream& s) { s.Write("x", 1); }, +[](rt::TStream& s) { s.SetSize(0); }}) {
    try {
      attempt(stream);
      ADD_FAILURE() << "no error";
    } catch (const net::ENetException& error) {
      EXPECT_EQ(error.Message(), u"Unsupported operation.");
    }
  }
}

// A file that cannot be opened fails with the runtime's open error and adds nothing.
TEST_F(MultiPart, MissingFileAddsNoPart) {
  TEncodingMultiPartFormData stream(kCreated);
  stream.AddTextField(u"name", u"n");
  const std::int64_t before = stream.Size();
  const std::u16string missing = folder.file("missing.ico");
  try {
    stream.AddFileField(u"icon", missing, u"");
    ADD_FAILURE() << "no error";
  } catch (const rt::EFOpenError& error) {
    EXPECT_EQ(error.Message().rfind(u"Cannot open file \"" + missing + u"\". ", 0), 0u) << error.what();
  }
  EXPECT_EQ(stream.Size(), before);
  EXPECT_EQ(static_cast<std::int64_t>(readAll(stream, 100).size()), before);
}

// While a file part is open nobody can rewrite the file with the program's own (create-always,
// no sharing) file stream; once the body is gone, they can.
TEST_F(MultiPart, FilePartHoldsOffWritersUntilTheStreamIsGone) {
  const std::u16string path = writeFile("0.ico", "original");
  {
    TEncodingMultiPartFormData stream(kCreated);
    stream.AddFileField(u"icon", path, u"");
    EXPECT_THROW(rt::TFileStream(path, rt::FileMode::CreateExclusive), rt::EFCreateError);
    EXPECT_NE(readAll(stream, 64).find("original"), std::string::npos);
    rt::TFileStream reader(path, rt::FileMode::OpenReadDenyWrite);  // readers are still welcome
  }
  rt::TFileStream writer(path, rt::FileMode::CreateExclusive);
  writer.WriteBuffer("new", 3);
}

// A file that shrank after it was added ends the body early: the reader sees fewer bytes than
// announced (the HTTP client turns that into an error). Where the file part's read lock is only
// advisory (POSIX) a careless program can shrink the file; where it is a sharing mode (Windows)
// the system refuses the shrink, and the body is whole.
TEST_F(MultiPart, FileShorterThanAnnouncedEndsTheBodyEarly) {
  const std::u16string path = writeFile("data.bin", std::string(100, 'x'));
  TEncodingMultiPartFormData stream(kCreated);
  stream.AddFileField(u"data", path, u"a/b");
  const std::int64_t size = stream.Size();
  std::error_code refused;
  std::filesystem::resize_file(std::filesystem::path(path), 40, refused);
  const std::int64_t expected = refused ? size : size - 60;
  EXPECT_EQ(static_cast<std::int64_t>(readAll(stream, 4096).size()), expected) << refused.message();
}

}  // namespace
