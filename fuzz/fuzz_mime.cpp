// Fuzzes the content-type tables: an arbitrary mime.types file through the platform pass and the
// filled table, and the same bytes as "extension=type" lines through LoadMimePairs. Checks that
// the table stays consistent: unique lower-case extensions with a leading ".", non-empty types
// with no line breaks, and a lookup that always answers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <unordered_set>

#include "platform/ContentTypes.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"

namespace {

// The scratch mime.types file of this process, removed when the process ends (a corpus replay
// runs in every make test).
struct ScratchFile {
  std::string path = "/tmp/fuzz_mime-" + std::to_string(getpid()) + ".types";
  ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& tablePath() {
  static const ScratchFile file;
  return file.path;
}

void checkTable(const service::TNetMimeTable& table) {
  if (table.ExtensionList().Count() != table.TypeList().Count()) std::abort();
  std::unordered_set<std::u16string> seen;
  for (int i = 0; i < table.ExtensionList().Count(); ++i) {
    const std::u16string& ext = table.ExtensionList()[i];
    const std::u16string& type = table.TypeList()[i];
    if (ext.size() < 1 || ext[0] != u'.' || type.empty()) std::abort();
    if (ext != rt::lowerCase(ext) || type != rt::lowerCase(type)) std::abort();
    if (!seen.insert(ext).second) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The platform pass over the bytes as a mime.types file.
  if (std::FILE* file = std::fopen(tablePath().c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  platform::setContentTypesFile(rt::fromUtf8(tablePath()));
  service::TNetMimeTable filled(true);
  checkTable(filled);
  // Whatever the platform registered goes into a part header: no line breaks may come through.
  for (const auto& type : filled.TypeList())
    if (type.find_first_of(u"\r\n") != std::u16string::npos) std::abort();
  if (filled.LookupMimeType(u"x.ico").empty() || filled.LookupMimeType(rt::fromUtf8(text)).empty()) std::abort();
  // The single lookup (which filters the platform pass by extension) agrees with the filled table.
  const int step = filled.ExtensionList().Count() / 16 + 1;
  for (int i = filled.ExtensionList().Count() - 1; i >= 0; i -= step) {
    const std::u16string path = u"dir/x" + filled.ExtensionList()[i];
    if (service::MimeTypeForFile(path) != filled.LookupMimeType(path)) std::abort();
  }

  // The same bytes as pair lines.
  rt::TStringList lines;
  lines.SetText(rt::fromUtf8(text));
  service::TNetMimeTable pairs(false);
  pairs.LoadFromPlatform = false;
  pairs.LoadMimePairs(lines, u'=');
  checkTable(pairs);
  return 0;
}
