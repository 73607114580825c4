// The short hostile set of tools/make_hostile_executables (a few files of every kind of trap and
// some mutations), laid out as catalogue rows with a good executable after each hostile one, and
// the requests the program sends the icon service, taken apart, so that a pass over the set can be
// judged: which rows reached the service, with which version and which icon bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct HostileSetFile {
  std::string name;    // file name inside the set's folder
  std::string kind;    // "icon-cut-by-eof", "version-huge", "flip-wine", ...
  std::string detail;  // what was done to it
};

// Runs `generator` (make_hostile_executables --small) into `folder` with `seed`, at most `count`
// files, mutating `samples` and `winePrograms`; returns the files it listed. Raises
// std::runtime_error when the generator fails.
std::vector<HostileSetFile> makeHostileSet(const std::filesystem::path& generator, const std::filesystem::path& folder,
                                        std::uint64_t seed, int count, const std::vector<std::filesystem::path>& samples,
                                        const std::vector<std::filesystem::path>& winePrograms);

// Catalogue row names of the set: row 1 is the good row "G0000"; file i (from 1) gives the
// hostile row "H<i> <kind>" (ID 2i) and the good row "G<i>" (ID 2i + 1).
std::string goodRowName(std::size_t i);
std::string hostileRowName(std::size_t i, const HostileSetFile& file);
// The ID of a row named as above, or 0 for any other name.
int rowIdOfName(const std::string& name);

// One request to the icon service as the program sends it: an existence query (form body
// "&name=...&version=...") or an upload (multipart parts "name", "version" and "icon").
struct ServiceRequest {
  bool upload = false;
  std::string name;     // UTF-8, decoded
  std::string version;
  std::string icon;     // the uploaded file's bytes (uploads only)
};

// The request in `bytes` (head and body as received), or nothing when it is neither kind.
std::optional<ServiceRequest> parseServiceRequest(const std::string& bytes);

// The uploads of a swap race: rows "calibrate first" and "calibrate second" name the two files
// themselves (versions `firstVersion` and `secondVersion`), every row whose name starts with "S"
// names the path they are swapped over. A race row is mixed when its icon is one file's and its
// version the other's, unknown when its icon is neither file's.
struct SwapTally {
  bool calibrated = false;  // both calibration rows uploaded, with different icons
  int raced = 0;            // race rows uploaded
  int mixed = 0;
  int unknown = 0;
};
SwapTally tallySwapRace(const std::vector<std::string>& requests, const std::string& firstVersion,
                        const std::string& secondVersion);

// "%XX" sequences decoded to their bytes; everything else as it is.
std::string percentDecoded(const std::string& text);

// A reply that both service calls take as success: an existence answer "not held" (so the icon is
// uploaded) and an upload answer "stored".
std::string acceptingServiceReply();

}  // namespace testsupport
