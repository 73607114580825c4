// Registered content types on POSIX systems: the mime.types table (/etc/mime.types), one media
// type per line followed by the extensions that map to it, "#" starting a comment.
#include "platform/ContentTypes.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "platform/AsciiCase.h"
#include "platform/ContentTypeRegistry.h"
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
  for (size_t i = 0; i < word.size(); ++i)
    if (lowerAscii(static_cast<unsigned char>(word[i])) != lowerAscii(wanted[i + 1])) return false;
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

// An open file, closed with the object.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// A table's text as read: `length` bytes at `bytes`.
struct TableText {
  std::unique_ptr<char[]> bytes;
  size_t length = 0;
  std::string_view view() const { return {bytes.get(), length}; }
};

// The whole text of the table at `path`; empty when it cannot be opened or read. A regular file
// is read in one call of its size plus one byte, and one that gives fewer bytes than asked for has
// ended without a further call to say so (a table that grew meanwhile is read on to its end). The
// buffer is left uninitialised: the reads fill it.
TableText readWhole(const std::string& path) {
  TableText text;
  const FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return text;
  struct stat info {};
  const bool known = fstat(file.fd, &info) == 0;
  const bool regular = known && S_ISREG(info.st_mode);
  size_t capacity = known && info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 16384;
  text.bytes = std::make_unique_for_overwrite<char[]>(capacity);
  for (;;) {
    if (text.length == capacity) {
      auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
      std::memcpy(larger.get(), text.bytes.get(), text.length);
      text.bytes = std::move(larger);
      capacity *= 2;
    }
    const size_t asked = capacity - text.length;
    const ssize_t got = ::read(file.fd, text.bytes.get() + text.length, asked);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.length += static_cast<size_t>(got);
    if (regular && static_cast<size_t>(got) < asked) break;
  }
  return text;
}

bool matchesAt(std::string_view text, size_t at, std::string_view lowered) {
  for (size_t i = 0; i < lowered.size(); ++i)
    if (lowerAscii(static_cast<unsigned char>(text[at + i])) != static_cast<unsigned char>(lowered[i])) return false;
  return true;
}

// The sieve finds where `lowered` may start: in each block of 16 positions, a bit for every
// position whose first and last characters match, both sides OR 0x20 (which folds ASCII case and
// lets a few other bytes through); only those hits are compared in full. It returns the first
// match, or npos with `at` moved to where the whole blocks end.
//
// Every upload asks for one extension, so this runs once per row over the whole system table
// (74 KB on Debian). Splitting every line into words instead made the lookup about ten times
// slower (bench/windows_content_types_bench on Linux) and cost the pass some 270 us of CPU a row,
// 20 % of its 1,340 us (bench/pass_bench, paired with this sieve). Testing four blocks per step
// where nothing matches took a lookup of ".ico" in Debian's table (read, sieved and parsed) from
// 14.4 to 10.3 us of CPU (medians of 4 runs, each the best of 9 rounds of 2,000 lookups), and the
// sieve's share of a 2,000-row pass from about 20 to about 14 ms (perf, 3 runs each); blocks of 32
// bytes with AVX2 chosen at run time, or a read buffer kept between calls, made no difference the
// lookup bench could tell from its noise, so there are none of them.
#if defined(__SSE2__)
size_t sieveSse2(std::string_view text, size_t& at, std::string_view lowered) {
  const size_t n = lowered.size();
  const __m128i fold = _mm_set1_epi8(0x20);
  const __m128i first = _mm_set1_epi8(static_cast<char>(lowered.front() | 0x20));
  const __m128i last = _mm_set1_epi8(static_cast<char>(lowered.back() | 0x20));
  const auto hits = [&](size_t start) {
    const auto* block = reinterpret_cast<const __m128i*>(text.data() + start);
    const auto* blockOfLast = reinterpret_cast<const __m128i*>(text.data() + start + n - 1);
    const __m128i a = _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128(block), fold), first);
    const __m128i b = _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128(blockOfLast), fold), last);
    return _mm_and_si128(a, b);
  };
  while (at + n - 1 + 16 <= text.size()) {
    // Most of the table holds no hit: four blocks are tested at once, so the loop's own work is
    // paid once for 64 positions there.
    if (at + n - 1 + 64 <= text.size()) {
      const __m128i any =
          _mm_or_si128(_mm_or_si128(hits(at), hits(at + 16)), _mm_or_si128(hits(at + 32), hits(at + 48)));
      if (_mm_movemask_epi8(any) == 0) {
        at += 64;
        continue;
      }
    }
    for (unsigned found = static_cast<unsigned>(_mm_movemask_epi8(hits(at))); found != 0; found &= found - 1) {
      const size_t candidate = at + static_cast<size_t>(std::countr_zero(found));
      if (matchesAt(text, candidate, lowered)) return candidate;
    }
    at += 16;
  }
  return std::string_view::npos;
}

#endif

// The first position from `from` where `text` holds `lowered` (lower case, not empty), ignoring
// ASCII case; npos when there is none. The sieve finds the candidates where it can; the last
// positions, too few for a whole block, are compared one by one.
size_t findIgnoringCase(std::string_view text, size_t from, std::string_view lowered) {
  size_t at = from;
#if defined(__SSE2__)
  const size_t found = sieveSse2(text, at, lowered);
  if (found != std::string_view::npos) return found;
#endif
  for (; at + lowered.size() <= text.size(); ++at)
    if (matchesAt(text, at, lowered)) return at;
  return std::string_view::npos;
}

}  // namespace

void enumerateContentTypes(const ContentTypeSink& sink, std::u16string_view onlyExtension) {
  if (const auto registry = contentTypeRegistryOverride()) {
    enumerateRegistryContentTypes(*registry, sink, onlyExtension);
    return;
  }
  // Our own entries are visible ASCII: a wanted extension with anything else cannot match.
  for (const char16_t c : onlyExtension)
    if (c <= u' ' || c > u'~') return;
  const std::string path = tableOverride().empty() ? std::string(kSystemTable) : toAnsi(tableOverride());
  const TableText table = readWhole(path);
  std::string_view rest = table.view();
  // For one extension, only the lines holding its text (in any case) can name it; the others
  // are skipped without being split into words. The lines are still visited in order.
  std::string wanted;
  if (!onlyExtension.empty())
    for (const char16_t c : onlyExtension.substr(1)) wanted += static_cast<char>(lowerAscii(c));
  if (!wanted.empty()) {
    for (size_t hit = findIgnoringCase(rest, 0, wanted); hit != std::string_view::npos;) {
      const size_t begin = rest.rfind('\n', hit) + 1;  // npos + 1 == 0: the first line
      const size_t end = rest.find('\n', hit);
      parseLine(rest.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin), sink,
                onlyExtension);
      if (end == std::string_view::npos) break;
      hit = findIgnoringCase(rest, end + 1, wanted);
    }
    return;
  }
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    parseLine(rest.substr(0, end), sink, onlyExtension);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

void setContentTypesFile(std::u16string path) { tableOverride() = std::move(path); }

}  // namespace platform
