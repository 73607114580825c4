// TNetHeaderList: HTTP header lines as they are written to and read from the wire, with access by
// header name. Names compare case-insensitively (RFC 9110 section 5.1); only the first line of a
// name is ever read, replaced or deleted by name. Long lines are folded into continuation lines
// that start with a space, and continuation lines (starting with a space or tab, the obsolete
// line folding of RFC 9112 section 5.2) are unfolded when a value is read.
#pragma once

#include <string>
#include <string_view>

#include "runtime/TStringList.h"

namespace net {

class TNetHeaderList : public rt::TStringList {
 public:
  // Fold width of the wire header lists of the header objects.
  static constexpr int kWireFoldWidth = 1024;
  // Default fold width (custom-header lists keep it).
  static constexpr int kDefaultFoldWidth = 78;

  explicit TNetHeaderList(int foldWidth = kDefaultFoldWidth) : foldWidth_(foldWidth) {}

  // The line up to (not including) its first ":", not trimmed; empty for a line without ":" and for an index outside the list.
  std::u16string NameAt(int index) const;

  // Index of the first line whose NameAt equals `name` (ASCII case-insensitive), -1 when none.
  int FindName(std::u16string_view name) const;

  // The value of line `index`: the text after the name and its ":", joined with the following
  // continuation lines (one space between, each part trimmed), then trimmed
  // of spaces and control characters at both ends. Empty for an index outside the list.
  std::u16string ValueAt(int index) const;

  // ValueAt(FindName(name)): the value of the first line of that name, empty when there is none.
  std::u16string ValueOf(std::u16string_view name) const;

  // With a value: replaces the first line of `name` (and its continuation lines) by name + ": " +
  // value, folded at the fold width, or appends it when the name is absent. The new line starts
  // with `name` as passed. With an empty value: deletes the first line of `name` and its
  // continuation lines.
  void SetHeader(std::u16string_view name, std::u16string_view value);

  // Appends ValueAt of every line named `name` (case-insensitive) to `target`, in list order.
  void ExtractAll(std::u16string_view name, rt::TStringList& target) const;

  // Wraps `line` at `width` as SetHeader does and gives the resulting lines (the first one, then
  // continuation lines starting with a space), each without trailing blanks. Lines no longer than
  // `width` come back unchanged apart from the trailing blanks. No break is made inside a run in
  // double quotes; an existing CR LF + space in the text is a break.
  static rt::TStringList FoldLine(std::u16string_view line, int width);

 private:
  // True when line `index` is named `name` (case-insensitive); `key` is what ends a name (":").
  bool nameMatches(int index, std::u16string_view key, std::u16string_view name) const;
  // Number of continuation lines directly after `index`.
  int continuationCount(int index) const;

  int foldWidth_;
};

}  // namespace net
