// Fuzzes the JSON reader: any bytes as a reply read by ParseFromStream (single-byte and, after
// FF FE, UTF-16), the same bytes as UTF-16 text, and lookups with a key taken from the input.
// The reader must never crash, hang, leak or recurse without bound.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "json/JsonParse.h"
#include "json/TJsonMemberTable.h"
#include "json/TJsonValue.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"

namespace {

void lookUp(const json::JsonRef& value, const std::u16string& key) {
  if (!value) return;
  value->BoolAt(u"success");
  value->BoolAt(u"exist");
  if (json::JsonRef found = value->ValueAt(key)) {
    found->ToBool();
    found->ValueAt(key);
  }
}

// Names cut from the input (at each 0x2C byte) go into a member table; every name must then give
// the last value put under it, whatever rotations the puts caused.
void checkMemberTable(std::string_view bytes) {
  json::TJsonMemberTable table;
  std::unordered_map<std::u16string, std::int64_t> expected;
  std::int64_t serial = 0;
  std::size_t start = 0;
  while (start <= bytes.size()) {
    std::size_t end = bytes.find(',', start);
    if (end == std::string_view::npos) end = bytes.size();
    std::u16string name = rt::fromBytes8(bytes.substr(start, end - start));
    if (name.find(u'\0') == std::u16string::npos) {  // names meet the table cut at U+0000
      expected[name] = serial;
      table.Put(name, json::TJsonValue::FromInteger(serial));
      ++serial;
    }
    start = end + 1;
  }
  if (table.Count() != expected.size()) __builtin_trap();
  for (const auto& [name, value] : expected) {
    const json::JsonRef found = table.Get(name);
    if (!found || found->Integer() != value) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // First byte: length of the lookup key that follows; the rest is the document.
  std::size_t keyLength = size > 0 ? data[0] % 32 : 0;
  if (keyLength + 1 > size) keyLength = size > 0 ? size - 1 : 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string key = rt::fromBytes8(bytes.substr(size > 0 ? 1 : 0, keyLength));
  const std::string_view document = bytes.substr(size > 0 ? 1 + keyLength : 0);

  {
    // As the existence query reads a reply.
    testsupport::BytesStream stream(document);
    lookUp(json::ParseFromStream(stream), key);
    // Strict, whole-input, from the reply's end.
    stream.Seek(0, rt::SeekOrigin::End);
    lookUp(json::ParseFromStream(stream, json::kStrict, json::kWholeInput), key);
  }
  {
    // The document as UTF-16 text, reaching characters above U+00FF.
    std::u16string text;
    for (std::size_t i = 0; i + 1 < document.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(document[i]) |
                                           static_cast<std::uint8_t>(document[i + 1]) << 8));
    }
    lookUp(json::ParseFromText(text), key);
    // The document's text as the key of a lookup against a small object.
    const json::JsonRef object = json::ParseFromText(u"{\"a\":{\"b\":[1,[2,{\"c\":true}]]},\"5\":\"x\"}");
    object->ValueAt(text);
    object->ValueAt(rt::fromBytes8(document));
  }
  checkMemberTable(document);
  return 0;
}
