// Content types by file extension: a table filled from a built-in list and then from the types
// the platform has registered, consulted for the file part of the upload body.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "runtime/TStringList.h"

namespace service {

// The flags of the table's constructor, AddMimePair and FillMimeList by name, for their callers:
// TNetMimeTable table(kFillLater), AddMimePair(extension, type, kSkipFailures),
// FillMimeList(&lines, kWithPlatformTypes, extension).
inline constexpr bool kFillNow = true;
inline constexpr bool kFillLater = false;
inline constexpr bool kRaiseFailures = true;
inline constexpr bool kSkipFailures = false;
inline constexpr bool kWithPlatformTypes = true;
inline constexpr bool kBuiltInTypesOnly = false;

class TNetMimeTable {
 public:
  // Starts empty with LoadFromPlatform on; fills the table at once when `fillNow` is true.
  explicit TNetMimeTable(bool fillNow);
  virtual ~TNetMimeTable() = default;

  // Also read the platform's registered types when filling.
  bool LoadFromPlatform = true;
  // When set, replaces the default filling.
  std::function<void(TNetMimeTable&)> OnBuildCache;

  // Fills the table from FillMimeList(LoadFromPlatform).
  virtual void BuildDefaultTable();
  // Runs the build hook when set; otherwise fills the table when it is empty.
  virtual void EnsureFilled();

  // The content type for the extension of `path` (the text from its last "." on, when no path
  // separator or ":" follows it), found case-insensitively; "application/octet-stream" when the
  // table does not know it.
  std::u16string LookupMimeType(std::u16string_view path);

  // Replaces the table with the pairs in `lines`, each split at its first `separator`; lines
  // without one, empty halves and repeated extensions are dropped (the first pair wins).
  void LoadMimePairs(const rt::TStringList& lines, char16_t separator = u'=');

  // Adds one pair, both lower-cased, the extension given a leading "." when it has none.
  // Failures ("Extension is empty", "Mimetype is empty", "Extension already exits") raise
  // net::ENetException when `raiseOnError` is true and are skipped silently otherwise.
  void AddMimePair(std::u16string_view extension, std::u16string_view mimeType, bool raiseOnError);

  // Lower-case types; entry i belongs to ExtensionList() entry i.
  const rt::TStringList& TypeList() const { return types_; }
  // Lower-case extensions with their leading ".", in order of insertion.
  const rt::TStringList& ExtensionList() const { return extensions_; }

 private:
  int indexOf(const std::u16string& lowerExtension) const;

  rt::TStringList types_;
  rt::TStringList extensions_;
  std::unordered_map<std::u16string, int> index_;  // lower-case extension -> list position
};

// Fills an empty `list` with lines "extension=type": the 314 built-in lines in their order, then,
// when `fromPlatform` is true, the platform's registrations, each replacing the first line of
// its extension or appended when there is none. With a non-empty `onlyExtension` (lower case,
// leading "."), only the lines the table files under that extension are made: its built-in lines
// and its registrations (the platform reads no others, see platform::enumerateContentTypes). A
// list that already has lines is left alone.
void FillMimeList(rt::TStringList* list, bool fromPlatform, std::u16string_view onlyExtension = {});

// The content type for `path` (the upload's file part): a table filled for this one lookup
// answers it and is freed. It is filled with the lines of the path's extension alone, the only
// ones that can change the answer: filling it whole made every upload about 2.7 ms slower, twice
// the CPU time of a whole row (bench/windows_content_types_bench on Linux). Never empty.
std::u16string MimeTypeForFile(std::u16string_view path);

}  // namespace service
