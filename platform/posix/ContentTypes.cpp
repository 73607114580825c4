// Registered content types on POSIX systems: the mime.types table (/etc/mime.types), one media
// type per line followed by the extensions that map to it, "#" starting a comment.
#include "platform/ContentTypes.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/TextCodePage.h"

namespace platform {
namespace {

constexpr char kSystemTable[] = "/etc/mime.types";

std::u16string& tableOverride() {
  static std::u16string path;
  return path;
}

// RFC 9110, section 5.6.2: tchar.
constexpr std::array<bool, 256> kTokenChars = [] {
  std::array<bool, 256> table {};
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = table[c - 32] = true;
  for (const char c : std::string_view("!#$%&'*+-.^_`|~")) table[static_cast<unsigned char>(c)] = true;
  return table;
}();

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (!kTokenChars[static_cast<unsigned char>(c)]) return false;
  return true;
}

// A media type without parameters (RFC 9110, section 8.3.1): token "/" token. Anything else is a
// garbled entry; it would end up in a part header, so it is refused rather than passed on.
bool isMediaType(std::string_view text) {
  const auto slash = text.find('/');
  if (slash == std::string_view::npos) return false;
  return isToken(text.substr(0, slash)) && isToken(text.substr(slash + 1));
}

// An extension is visible ASCII without the characters that separate pairs ("=") or path parts;
// a leading "." is allowed but not needed.
bool isExtension(std::string_view text) {
  if (!text.empty() && text.front() == '.') text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char c : text) {
    if (c <= ' ' || c > '~') return false;
    if (c == '=' || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

// `word` (with or without its leading ".") names `wanted` (with its leading "."), ignoring ASCII case.
bool namesExtension(std::string_view word, std::u16string_view wanted) {
  if (!word.empty() && word.front() == '.') word.remove_prefix(1);
  if (word.size() + 1 != wanted.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    char16_t a = static_cast<unsigned char>(word[i]);
    char16_t b = wanted[i + 1];
    if (a >= u'A' && a <= u'Z') a += 32;
    if (b >= u'A' && b <= u'Z') b += 32;
    if (a != b) return false;
  }
  return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// The next word of `line` from `at`, or an empty view at the end of the line or at a comment.
std::string_view nextWord(std::string_view line, size_t& at) {
  while (at < line.size() && isBlank(line[at])) ++at;
  if (at >= line.size() || line[at] == '#') return {};
  const size_t start = at;
  while (at < line.size() && !isBlank(line[at])) ++at;
  return line.substr(start, at - start);
}

void parseLine(std::string_view line, const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  size_t at = 0;
  const std::string_view typeWord = nextWord(line, at);
  if (typeWord.empty()) return;
  bool typeChecked = false;
  std::u16string type;
  for (std::string_view word = nextWord(line, at); !word.empty(); word = nextWord(line, at)) {
    if (!onlyExtension.empty() && !namesExtension(word, onlyExtension)) continue;
    if (!typeChecked) {
      if (!isMediaType(typeWord)) return;  // a garbled line: skip all of it
      type = fromAnsi(typeWord);
      typeChecked = true;
    }
    if (!isExtension(word)) continue;  // a garbled extension: skip just that one
    std::u16string extension = fromAnsi(word);
    if (extension.front() != u'.') extension.insert(extension.begin(), u'.');
    sink(extension, type);
  }
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string readWhole(const std::string& path) {
  std::string content;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return content;
  char block[16384];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) content.append(block, got);
  return content;
}

}  // namespace

void enumerateContentTypes(const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  // Our own entries are visible ASCII: a wanted extension with anything else cannot match.
  for (const char16_t c : onlyExtension)
    if (c <= u' ' || c > u'~') return;
  const std::string path = tableOverride().empty() ? std::string(kSystemTable) : toAnsi(tableOverride());
  const std::string content = readWhole(path);
  std::string_view rest(content);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    parseLine(rest.substr(0, end), sink, onlyExtension);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

void setContentTypesFile(std::u16string path) { tableOverride() = std::move(path); }

}  // namespace platform
