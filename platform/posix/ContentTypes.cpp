// Registered content types on POSIX systems: the mime.types table (/etc/mime.types), one media
// type per line followed by the extensions that map to it, "#" starting a comment.
#include "platform/ContentTypes.h"

#include <cstdio>
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
bool isTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!isTokenChar(c)) return false;
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
  for (char c : text) {
    if (c <= ' ' || c > '~') return false;
    if (c == '=' || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Splits one line into words; a word starting with "#" ends the line.
template <typename Visit>
void forEachWord(std::string_view line, Visit visit) {
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && isBlank(line[at])) ++at;
    if (at >= line.size() || line[at] == '#') return;
    const size_t start = at;
    while (at < line.size() && !isBlank(line[at])) ++at;
    if (!visit(line.substr(start, at - start))) return;
  }
}

void parseLine(std::string_view line, const ContentTypeSink& sink) {
  std::u16string type;
  bool first = true;
  forEachWord(line, [&](std::string_view word) {
    if (first) {
      first = false;
      if (!isMediaType(word)) return false;  // a garbled line: skip all of it
      type = fromAnsi(word);
      return true;
    }
    if (!isExtension(word)) return true;  // a garbled extension: skip just that one
    std::u16string extension = fromAnsi(word);
    if (extension.front() != u'.') extension.insert(extension.begin(), u'.');
    sink(extension, type);
    return true;
  });
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void enumerateContentTypes(const ContentTypeSink& sink) {
  const std::string path = tableOverride().empty() ? std::string(kSystemTable) : toAnsi(tableOverride());
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return;
  std::string line;
  char block[8192];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    for (size_t i = 0; i < got; ++i) {
      if (block[i] != '\n') {
        line.push_back(block[i]);
        continue;
      }
      parseLine(line, sink);
      line.clear();
    }
  }
  if (!line.empty()) parseLine(line, sink);
}

void setContentTypesFile(std::u16string path) { tableOverride() = std::move(path); }

}  // namespace platform
