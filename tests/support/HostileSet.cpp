// The short hostile set and the taking apart of service requests.
#include "tests/support/HostileSet.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace testsupport {
namespace fs = std::filesystem;
namespace {

// The value of header `name` (compared without regard to case) in `head`, or "".
std::string headerValue(const std::string& head, const std::string& name) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string::npos) {
    at += 2;
    const std::size_t end = head.find("\r\n", at);
    const std::string line = head.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t colon = line.find(':');
    if (colon == name.size()) {
      bool same = true;
      for (std::size_t i = 0; i < colon && same; ++i)
        same = std::tolower(static_cast<unsigned char>(line[i])) == std::tolower(static_cast<unsigned char>(name[i]));
      if (same) return line.substr(line.find_first_not_of(' ', colon + 1));
    }
  }
  return "";
}

// The form field `name` of a body "&name=...&version=..." (each field after an "&"), decoded.
std::string formField(const std::string& body, const std::string& name) {
  const std::string key = "&" + name + "=";
  const std::size_t at = body.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  return percentDecoded(body.substr(from, body.find('&', from) - from));
}

// The content of multipart part `name` in `body` delimited by "--" + `boundary`.
std::string multipartField(const std::string& body, const std::string& boundary, const std::string& name) {
  const std::string marker = "name=\"" + name + "\"";
  const std::size_t part = body.find(marker);
  if (part == std::string::npos) return "";
  const std::size_t content = body.find("\r\n\r\n", part);
  if (content == std::string::npos) return "";
  const std::size_t end = body.find("\r\n--" + boundary, content + 4);
  return body.substr(content + 4, end == std::string::npos ? std::string::npos : end - content - 4);
}

}  // namespace

std::vector<HostileSetFile> makeHostileSet(const fs::path& generator, const fs::path& folder, std::uint64_t seed,
                                        int count, const std::vector<fs::path>& samples,
                                        const std::vector<fs::path>& winePrograms) {
  fs::create_directories(folder);
  // Test folders hold no quotes, so single quotes make each path one shell word.
  const auto quoted = [](const fs::path& path) { return "'" + path.string() + "'"; };
  std::string command = quoted(generator) + " --small " + quoted(folder) + " " + std::to_string(seed) + " " +
                        std::to_string(count);
  for (const fs::path& sample : samples) command += " " + quoted(sample);
  if (!winePrograms.empty()) command += " --wine";
  for (const fs::path& program : winePrograms) command += " " + quoted(program);
  if (std::system((command + " > /dev/null").c_str()) != 0) throw std::runtime_error("the generator failed: " + command);
  std::ifstream manifest(folder / "manifest.tsv");
  std::vector<HostileSetFile> files;
  for (std::string line; std::getline(manifest, line);) {
    const std::size_t first = line.find('\t'), second = line.find('\t', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    files.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1), line.substr(second + 1)});
  }
  if (files.empty()) throw std::runtime_error("the generator listed no files in " + folder.string());
  return files;
}

std::string goodRowName(std::size_t i) {
  char name[16];
  std::snprintf(name, sizeof name, "G%04zu", i % 10000);
  return name;
}

std::string hostileRowName(std::size_t i, const HostileSetFile& file) {
  char name[16];
  std::snprintf(name, sizeof name, "H%04zu ", i % 10000);
  return name + file.kind;
}

int rowIdOfName(const std::string& name) {
  if (name.size() < 5 || (name[0] != 'G' && name[0] != 'H')) return 0;
  const int number = std::atoi(name.substr(1, 4).c_str());
  return name[0] == 'G' ? 2 * number + 1 : 2 * number;
}

std::optional<ServiceRequest> parseServiceRequest(const std::string& bytes) {
  const std::size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return std::nullopt;
  const std::string head = bytes.substr(0, headEnd + 2);
  const std::string body = bytes.substr(headEnd + 4);
  ServiceRequest request;
  if (head.rfind("POST /index.php?r=sw/exist ", 0) == 0) {
    request.name = formField(body, "name");
    request.version = formField(body, "version");
    return request;
  }
  if (head.rfind("POST /index.php?r=sw/upload ", 0) != 0) return std::nullopt;
  const std::string type = headerValue(head, "Content-Type");
  const std::size_t at = type.find("boundary=");
  if (at == std::string::npos) return std::nullopt;
  const std::string boundary = type.substr(at + 9);
  request.upload = true;
  request.name = multipartField(body, boundary, "name");
  request.version = multipartField(body, boundary, "version");
  request.icon = multipartField(body, boundary, "icon");
  return request;
}

SwapTally tallySwapRace(const std::vector<std::string>& requests, const std::string& firstVersion,
                        const std::string& secondVersion) {
  std::vector<ServiceRequest> uploads;
  for (const std::string& bytes : requests) {
    auto request = parseServiceRequest(bytes);
    if (request && request->upload) uploads.push_back(std::move(*request));
  }
  std::string firstIcon, secondIcon;
  for (const ServiceRequest& upload : uploads) {
    if (upload.name == "calibrate first") firstIcon = upload.icon;
    if (upload.name == "calibrate second") secondIcon = upload.icon;
  }
  SwapTally tally;
  tally.calibrated = !firstIcon.empty() && !secondIcon.empty() && firstIcon != secondIcon;
  for (const ServiceRequest& upload : uploads) {
    if (upload.name.empty() || upload.name[0] != 'S') continue;
    ++tally.raced;
    if (upload.icon == firstIcon) tally.mixed += upload.version != firstVersion ? 1 : 0;
    else if (upload.icon == secondIcon) tally.mixed += upload.version != secondVersion ? 1 : 0;
    else ++tally.unknown;
  }
  return tally;
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string acceptingServiceReply() {
  const std::string body = R"({"success":true,"exist":false,"id":1})";
  return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

}  // namespace testsupport
