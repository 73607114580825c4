// The MIME table: the built-in lines (BuiltInMimeLines.cpp), the platform's registrations, and the
// lookup by extension.
#include "service/TNetMimeTable.h"

#include "http/NetExceptions.h"
#include "platform/AsciiCase.h"
#include "platform/ContentTypes.h"
#include "runtime/Text.h"
#include "service/BuiltInMimeLines.h"

namespace service {
namespace {

constexpr char16_t kDefaultType[] = u"application/octet-stream";

std::u16string nameOf(const std::u16string& line) { return line.substr(0, line.find(u'=')); }

// The lower-case extension of a path: the text from its last "." on, when no "\", ":" or "/"
// follows it ("/" separates folders on POSIX systems as "\" does on Windows; a dot in a folder
// name is not the file's extension on either).
std::u16string extensionOf(std::u16string_view path) {
  const auto dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos || path.find_first_of(u"\\:/", dot) != std::u16string_view::npos) return {};
  return rt::lowerCase(path.substr(dot));
}

// True when the built-in `line` is filed under `extension` (lower case, leading "."): under its name
// in lower case, which for the built-in names (ASCII) is the ASCII fold.
bool isLineOf(const char* line, std::u16string_view extension) {
  for (const char16_t c : extension)
    if (*line == '\0' || platform::lowerAscii(static_cast<unsigned char>(*line++)) != c) return false;
  return *line == '=';
}

}  // namespace

void FillMimeList(rt::TStringList* list, bool fromPlatform, std::u16string_view onlyExtension) {
  if (list == nullptr || list->Count() > 0) return;
  for (const char* line : BuiltInMimeLines())
    if (onlyExtension.empty() || isLineOf(line, onlyExtension)) list->Add(rt::u16(line));
  if (!fromPlatform) return;

  // Each registration sets the value of the first line of its extension. The names are kept
  // lower-case, so an index by name finds that line without a scan per registration.
  std::unordered_map<std::u16string, int> firstLine;
  for (int i = 0; i < list->Count(); ++i) firstLine.emplace(rt::lowerCase(nameOf((*list)[i])), i);
  platform::enumerateContentTypes([&](const std::u16string& extension, const std::u16string& type) {
    const std::u16string name = rt::lowerCase(extension);
    const std::u16string value = rt::lowerCase(type);
    if (value.empty()) return;
    std::u16string line = name + u"=" + value;
    const auto found = firstLine.find(name);
    if (found != firstLine.end()) {
      (*list)[found->second] = std::move(line);
      return;
    }
    firstLine.emplace(name, list->Add(std::move(line)));
  }, onlyExtension);
}

TNetMimeTable::TNetMimeTable(bool fillNow) {
  if (fillNow) EnsureFilled();
}

void TNetMimeTable::BuildDefaultTable() {
  rt::TStringList lines;
  FillMimeList(&lines, LoadFromPlatform);
  LoadMimePairs(lines, u'=');
}

void TNetMimeTable::EnsureFilled() {
  if (OnBuildCache) {
    OnBuildCache(*this);
    return;
  }
  if (extensions_.Count() == 0) BuildDefaultTable();
}

int TNetMimeTable::indexOf(const std::u16string& lowerExtension) const {
  const auto found = index_.find(lowerExtension);
  return found == index_.end() ? -1 : found->second;
}

std::u16string TNetMimeTable::LookupMimeType(std::u16string_view path) {
  const std::u16string extension = extensionOf(path);
  int at = indexOf(extension);
  if (at < 0) {
    EnsureFilled();
    at = indexOf(extension);
  }
  return at < 0 ? std::u16string(kDefaultType) : types_[at];
}

void TNetMimeTable::LoadMimePairs(const rt::TStringList& lines, char16_t separator) {
  extensions_.Clear();
  types_.Clear();
  index_.clear();
  for (const std::u16string& line : lines) {
    const auto at = line.find(separator);
    if (at == std::u16string::npos) continue;
    AddMimePair(rt::lowerCase(std::u16string_view(line).substr(0, at)), std::u16string_view(line).substr(at + 1),
                kSkipFailures);
  }
}

void TNetMimeTable::AddMimePair(std::u16string_view extension, std::u16string_view mimeType, bool raiseOnError) {
  std::u16string ext = rt::lowerCase(extension);
  std::u16string type = rt::lowerCase(mimeType);
  const char16_t* failure = nullptr;
  if (ext.empty()) {
    failure = u"Extension is empty";
  } else if (type.empty()) {
    failure = u"Mimetype is empty";
  } else {
    if (ext.front() != u'.') ext.insert(ext.begin(), u'.');
    if (indexOf(ext) >= 0) failure = u"Extension already exits";
  }
  if (failure != nullptr) {
    if (raiseOnError) throw net::ENetException(failure);
    return;
  }
  index_.emplace(ext, extensions_.Add(ext));
  types_.Add(std::move(type));
}

std::u16string MimeTypeForFile(std::u16string_view path) {
  const std::u16string extension = extensionOf(path);
  if (extension.empty()) return kDefaultType;
  rt::TStringList lines;
  FillMimeList(&lines, kWithPlatformTypes, extension);
  TNetMimeTable table(kFillLater);
  table.LoadMimePairs(lines, u'=');
  return table.LookupMimeType(path);
}

}  // namespace service
