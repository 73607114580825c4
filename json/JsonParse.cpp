// The stream and text entries of the JSON reader, both driving a TJsonTokenizer.
#include "json/JsonParse.h"

#include <array>
#include <cstdint>

#include "json/TJsonTokenizer.h"

namespace json {
namespace {

constexpr std::int64_t kChunkBytes = 1024;

// Feeds the stream to the tokenizer one chunk at a time, converting each chunk to characters.
class StreamReader {
 public:
  explicit StreamReader(rt::TStream& stream) : stream_(stream) {
    const std::int64_t got = stream_.Read(bytes_.data(), 2);
    wide_ = got == 2 && bytes_[0] == 0xFF && bytes_[1] == 0xFE;
    if (!wide_) stream_.Seek(0, rt::SeekOrigin::Beginning);
  }

  // Reads the next chunk into Chars(); false when the stream gave no more bytes.
  bool Next() {
    if (!wide_) {
      const std::int64_t got = stream_.Read(bytes_.data(), kChunkBytes);
      if (got <= 0) return false;
      for (std::int64_t i = 0; i < got; ++i) chars_[i] = bytes_[i];
      count_ = got;
      return true;
    }
    // UTF-16: a read that ends inside a character keeps its odd byte for the next chunk.
    const std::int64_t carried = hasOddByte_ ? 1 : 0;
    if (hasOddByte_) bytes_[0] = oddByte_;
    const std::int64_t got = stream_.Read(bytes_.data() + carried, 2 * kChunkBytes - carried);
    if (got <= 0) return false;
    const std::int64_t total = carried + got;
    count_ = total / 2;
    for (std::int64_t i = 0; i < count_; ++i) {
      chars_[i] = static_cast<char16_t>(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
    }
    hasOddByte_ = total % 2 != 0;
    if (hasOddByte_) oddByte_ = bytes_[total - 1];
    return true;
  }

  const char16_t* Chars() const { return chars_.data(); }
  std::int64_t Count() const { return count_; }

 private:
  rt::TStream& stream_;
  bool wide_ = false;
  bool hasOddByte_ = false;
  std::uint8_t oddByte_ = 0;
  std::array<std::uint8_t, 2 * kChunkBytes> bytes_{};
  std::array<char16_t, 2 * kChunkBytes> chars_{};
  std::int64_t count_ = 0;
};

}  // namespace

JsonRef ParseFromStream(rt::TStream& stream, bool strict, bool partial, const JsonRef& context) {
  TJsonTokenizer tokenizer;
  StreamReader reader(stream);
  JsonRef value;
  bool ran = false;
  while (reader.Next()) {
    ran = true;
    value = tokenizer.ParseChunk(reader.Chars(), reader.Count(), strict, context);
    if (tokenizer.Status() == TJsonStatus::Continue) continue;
    if (tokenizer.Status() != TJsonStatus::Success) return {};
    // The value is complete. It stopped inside this chunk when other text follows it.
    if (tokenizer.Offset() < reader.Count()) return partial ? value : JsonRef();
    if (partial) return value;
    // Not partial and the chunk ended in whitespace after the value: look at what follows.
  }
  if (!ran || tokenizer.Status() != TJsonStatus::Success) return {};
  return value;
}

JsonRef ParseFromText(std::u16string_view text, bool strict, bool partial, const JsonRef& context) {
  const std::size_t end = text.find(u'\0');
  if (end != std::u16string_view::npos) text = text.substr(0, end);
  // Copied once so that the tokenizer finds the terminating U+0000 it reads to.
  const std::u16string terminated(text);
  TJsonTokenizer tokenizer;
  JsonRef value = tokenizer.ParseChunk(terminated.c_str(), -1, strict, context);
  if (tokenizer.Status() != TJsonStatus::Success) return {};
  if (!partial && tokenizer.Offset() < static_cast<std::int64_t>(terminated.size())) return {};
  return value;
}

}  // namespace json
