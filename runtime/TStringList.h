// An ordered list of text lines. Its text joins the lines, each followed by CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rt {

class TStringList {
 public:
  TStringList() = default;

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::u16string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
  std::u16string& operator[](int index) { return lines_.at(static_cast<size_t>(index)); }

  // Appends a line and returns its index.
  int Add(std::u16string line);
  void Insert(int index, std::u16string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }

  // Every line followed by CR LF.
  std::u16string Text() const;
  // Replaces the lines with those of `text`, split at CR LF, LF or CR; a final line break does
  // not start another line.
  void SetText(std::u16string_view text);

  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }

 private:
  std::vector<std::u16string> lines_;
};

}  // namespace rt
