// TNetHeaderList: name/value access, folding and unfolding of header lines.
#include "http/TNetHeaderList.h"

#include <cstddef>

#include "runtime/Text.h"

namespace net {
namespace {

constexpr std::u16string_view kBreakText = u"\r\n ";

bool isContinuation(std::u16string_view line) { return !line.empty() && (line.front() == u' ' || line.front() == u'\t'); }

bool isBreakChar(char16_t c) { return c == u'\t' || c == u' ' || c == u','; }

std::u16string_view trimRight(std::u16string_view text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] <= u' ') --end;
  return text.substr(0, end);
}

void trimInPlace(std::u16string& text) {
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] <= u' ') --end;
  text.erase(end);
  std::size_t begin = 0;
  while (begin < text.size() && text[begin] <= u' ') ++begin;
  text.erase(0, begin);
}

// The text written between a name and its value, and what ends a name when a line is read.
constexpr std::u16string_view kSeparator = u": ";
constexpr std::u16string_view kNameEnd = u":";

// Inserts break texts into `line` so that pieces end at a tab, space or comma near `width`.
std::u16string wrapText(std::u16string_view line, int width) {
  const std::size_t n = line.size();
  if (width < 0 || n <= static_cast<std::size_t>(width)) return std::u16string(line);

  std::u16string out;
  out.reserve(n + n / 16);
  std::size_t pieceStart = 0;
  std::ptrdiff_t breakPos = -1;
  std::ptrdiff_t column = 0;
  bool quoted = false;

  for (std::size_t i = 0; i < n; ++i) {
    ++column;
    bool existingBreak = false;
    const char16_t c = line[i];
    if (c == u'"') {
      quoted = !quoted;
    } else if (!quoted) {
      if (line.substr(i, kBreakText.size()) == kBreakText) {
        i += kBreakText.size() - 1;
        breakPos = static_cast<std::ptrdiff_t>(i);
        existingBreak = true;
      } else if (isBreakChar(c)) {
        breakPos = static_cast<std::ptrdiff_t>(i);
      }
    }
    if (quoted) continue;
    const bool overWidth = column >= width && breakPos > static_cast<std::ptrdiff_t>(pieceStart);
    if (!existingBreak && !overWidth) continue;

    const auto pieceEnd = static_cast<std::size_t>(breakPos) + 1;
    out.append(line.substr(pieceStart, pieceEnd - pieceStart));
    column = static_cast<std::ptrdiff_t>(i) - breakPos;
    // Blanks and line ends after the break are passed over by the scan; they begin the next piece.
    while (i + 1 < n && (isBreakChar(line[i + 1]) || line[i + 1] == u'\r' || line[i + 1] == u'\n')) ++i;
    if (!existingBreak && i + 1 < n) out.append(kBreakText);
    pieceStart = pieceEnd;
  }
  out.append(line.substr(pieceStart));
  return out;
}

}  // namespace

std::u16string TNetHeaderList::NameAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::u16string& line = (*this)[index];
  const std::size_t at = line.find(kNameEnd);
  if (at == std::u16string::npos) return {};
  return line.substr(0, at);
}

bool TNetHeaderList::nameMatches(int index, std::u16string_view key, std::u16string_view name) const {
  const std::u16string_view line = (*this)[index];
  if (name.empty()) {
    // A line without the separator has an empty name too.
    const std::size_t at = line.find(key);
    return at == 0 || at == std::u16string_view::npos;
  }
  // The line's name is the text before the first separator. It equals `name` only when the
  // separator follows right after `name.size()` characters and does not occur earlier; those
  // checks are cheap and turn away nearly every other line before any case folding.
  if (line.size() < name.size() + key.size() || line.substr(name.size(), key.size()) != key) return false;
  if (!rt::sameTextAscii(line.substr(0, name.size()), name)) return false;
  return line.substr(0, name.size() + key.size() - 1).find(key) == std::u16string_view::npos;
}

int TNetHeaderList::FindName(std::u16string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (nameMatches(i, kNameEnd, name)) return i;
  return -1;
}

std::u16string TNetHeaderList::ValueAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  const std::u16string& line = (*this)[index];
  const std::size_t start = NameAt(index).size() + kNameEnd.size();
  std::u16string value = start < line.size() ? line.substr(start) : std::u16string();
  // value := trimmed value + " " + trimmed continuation, for each continuation line; trimmed in
  // place so that a long run of continuation lines costs linear time.
  for (int next = index + 1; next < Count() && isContinuation((*this)[next]); ++next) {
    trimInPlace(value);
    value += u' ';
    value += rt::trim((*this)[next]);
  }
  trimInPlace(value);
  return value;
}

std::u16string TNetHeaderList::ValueOf(std::u16string_view name) const { return ValueAt(FindName(name)); }

int TNetHeaderList::continuationCount(int index) const {
  int count = 0;
  while (index + 1 + count < Count() && isContinuation((*this)[index + 1 + count])) ++count;
  return count;
}

void TNetHeaderList::SetHeader(std::u16string_view name, std::u16string_view value) {
  int index = FindName(name);
  if (value.empty()) {
    if (index < 0) return;
    for (int n = continuationCount(index); n > 0; --n) Delete(index + 1);
    Delete(index);
    return;
  }

  if (index < 0) index = Add(std::u16string());
  std::u16string line;
  line.reserve(name.size() + kSeparator.size() + value.size());
  line.append(name).append(kSeparator).append(value);
  for (int n = continuationCount(index); n > 0; --n) Delete(index + 1);
  // A line within the width and without line breaks of its own folds into itself, trimmed.
  const bool withinWidth = foldWidth_ < 0 || line.size() <= static_cast<std::size_t>(foldWidth_);
  if (withinWidth && line.find(u'\n') == std::u16string::npos) {
    line.erase(trimRight(line).size());
    (*this)[index] = std::move(line);
    return;
  }
  const rt::TStringList pieces = FoldLine(line, foldWidth_);
  (*this)[index] = pieces.Count() > 0 ? pieces[0] : std::u16string();
  for (int i = 1; i < pieces.Count(); ++i) Insert(index + i, pieces[i]);
}

void TNetHeaderList::ExtractAll(std::u16string_view name, rt::TStringList& target) const {
  for (int i = 0; i < Count(); ++i)
    if (nameMatches(i, kNameEnd, name)) target.Add(ValueAt(i));
}

rt::TStringList TNetHeaderList::FoldLine(std::u16string_view line, int width) {
  const std::u16string wrapped = wrapText(line, width);
  rt::TStringList pieces;
  std::size_t start = 0;
  while (start < wrapped.size()) {
    const std::size_t end = wrapped.find(u"\r\n", start);
    if (end == std::u16string::npos) {
      pieces.Add(std::u16string(trimRight(std::u16string_view(wrapped).substr(start))));
      return pieces;
    }
    pieces.Add(std::u16string(trimRight(std::u16string_view(wrapped).substr(start, end - start))));
    start = end + 2;
  }
  if (pieces.Count() == 0) pieces.Add(std::u16string());
  return pieces;
}

}  // namespace net
