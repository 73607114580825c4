// Registered content types on POSIX systems: the mime.types table (/etc/mime.types), one media
// type per line followed by the extensions that map to it, "#" starting a comment.
#include "platform/ContentTypes.h"

#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
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

// The whole table in one block at least the file's length (left uninitialised: the reads fill
// it), so it is read in one call and never copied while it grows (a table that grows meanwhile
// is still read to its end). A regular file that gives fewer bytes than asked for has ended, so
// no second call is made to hear that. The block is kept for the next reading on the same thread;
// its text is not: every reading reads the file afresh.
struct TableBlock {
  std::unique_ptr<char[]> bytes;
  size_t capacity = 0;
  void reserve(size_t wanted, size_t keep) {
    if (wanted <= capacity) return;
    auto larger = std::make_unique_for_overwrite<char[]>(wanted);
    if (keep > 0) std::memcpy(larger.get(), bytes.get(), keep);
    bytes = std::move(larger);
    capacity = wanted;
  }
};

std::string_view readWhole(const std::string& path) {
  thread_local TableBlock block;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat info {};
  const bool known = fstat(fd, &info) == 0;
  const bool regular = known && S_ISREG(info.st_mode);
  block.reserve(known && info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : 16384, 0);
  size_t length = 0;
  for (;;) {
    if (length == block.capacity) block.reserve(block.capacity * 2, length);
    const size_t asked = block.capacity - length;
    const ssize_t got = ::read(fd, block.bytes.get() + length, asked);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<size_t>(got);
    if (regular && static_cast<size_t>(got) < asked) break;
  }
  ::close(fd);
  return {block.bytes.get(), length};
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool matchesAt(std::string_view text, size_t at, std::string_view lowered) {
  for (size_t i = 0; i < lowered.size(); ++i)
    if (lowerAscii(text[at + i]) != lowered[i]) return false;
  return true;
}

// The sieves find where `lowered` may start: in each block of 16 or 32 positions, a bit for every
// position whose first and last characters match, both sides OR 0x20 (which folds ASCII case and
// lets a few other bytes through); only those hits are compared in full. Sixty-four positions are
// tested per step while nothing matches (most of the table), so the loop's own bookkeeping is
// paid once per step; where a step has a hit, its blocks are looked at one by one. Each returns
// the first match, or npos with `at` moved to where the whole blocks end.
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

#if defined(__GNUC__) && defined(__x86_64__)
#define TALVENOOK_AVX2_SIEVE 1
// The same over 32-byte blocks, four to a step, for processors with AVX2 (chosen at run time, so
// the program still runs on processors without).
__attribute__((target("avx2"))) size_t sieveAvx2(std::string_view text, size_t& at, std::string_view lowered) {
  const size_t n = lowered.size();
  const __m256i fold = _mm256_set1_epi8(0x20);
  const __m256i first = _mm256_set1_epi8(static_cast<char>(lowered.front() | 0x20));
  const __m256i last = _mm256_set1_epi8(static_cast<char>(lowered.back() | 0x20));
  const auto hits = [&](size_t start) __attribute__((target("avx2"))) {
    const auto* block = reinterpret_cast<const __m256i*>(text.data() + start);
    const auto* blockOfLast = reinterpret_cast<const __m256i*>(text.data() + start + n - 1);
    const __m256i a = _mm256_cmpeq_epi8(_mm256_or_si256(_mm256_loadu_si256(block), fold), first);
    const __m256i b = _mm256_cmpeq_epi8(_mm256_or_si256(_mm256_loadu_si256(blockOfLast), fold), last);
    return _mm256_and_si256(a, b);
  };
  while (at + n - 1 + 32 <= text.size()) {
    if (at + n - 1 + 128 <= text.size()) {
      const __m256i any = _mm256_or_si256(_mm256_or_si256(hits(at), hits(at + 32)),
                                          _mm256_or_si256(hits(at + 64), hits(at + 96)));
      if (_mm256_movemask_epi8(any) == 0) {
        at += 128;
        continue;
      }
    }
    for (unsigned found = static_cast<unsigned>(_mm256_movemask_epi8(hits(at))); found != 0; found &= found - 1) {
      const size_t candidate = at + static_cast<size_t>(std::countr_zero(found));
      if (matchesAt(text, candidate, lowered)) return candidate;
    }
    at += 32;
  }
  return std::string_view::npos;
}

bool hasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif
#endif

// The first position from `from` where `text` holds `lowered` (lower case, not empty), ignoring
// ASCII case; npos when there is none. The sieve finds the candidates where it can; the last
// positions, too few for a whole block, are compared one by one.
size_t findIgnoringCase(std::string_view text, size_t from, std::string_view lowered) {
  size_t at = from;
#if defined(TALVENOOK_AVX2_SIEVE)
  const size_t found = hasAvx2() ? sieveAvx2(text, at, lowered) : sieveSse2(text, at, lowered);
  if (found != std::string_view::npos) return found;
#elif defined(__SSE2__)
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
  std::string_view rest = readWhole(path);
  // For one extension, only the lines holding its text (in any case) can name it; the others
  // are skipped without being split into words. The lines are still visited in order.
  std::string wanted;
  if (!onlyExtension.empty())
    for (const char16_t c : onlyExtension.substr(1)) wanted += lowerAscii(static_cast<char>(c));
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
