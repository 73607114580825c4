// The string list.
#include "runtime/TStringList.h"

#include <algorithm>

namespace rt {

int TStringList::Add(std::u16string line) {
  lines_.push_back(std::move(line));
  return Count() - 1;
}

void TStringList::Insert(int index, std::u16string line) {
  lines_.insert(lines_.begin() + std::clamp(index, 0, Count()), std::move(line));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  lines_.erase(lines_.begin() + index);
}

std::u16string TStringList::Text() const {
  std::u16string text;
  for (const auto& line : lines_) {
    text += line;
    text += u"\r\n";
  }
  return text;
}

void TStringList::SetText(std::u16string_view text) {
  lines_.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
    lines_.emplace_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == u'\r') ++end;
    if (end < text.size() && text[end] == u'\n') ++end;
    start = end;
  }
}

}  // namespace rt
