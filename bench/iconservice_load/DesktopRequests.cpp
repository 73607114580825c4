// The program's request bytes (see DesktopRequests.h).
#include "DesktopRequests.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace load {
namespace {

std::string head(int port, std::string_view target, std::string_view typeLines, std::size_t length) {
  std::string out = "POST ";
  out += target;
  out += " HTTP/1.0\r\nConnection: keep-alive\r\n";
  out += typeLines;
  out += "Content-Length: " + std::to_string(length) + "\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\nUser-Agent: Mozilla/3.0 (compatible; Talvenook)\r\n\r\n";
  return out;
}

std::string boundary() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::snprintf(text, sizeof text, "--------%02d%02d%02d%02d%02d%02d%03d", local.tm_mon + 1, local.tm_mday,
                local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace

std::string encodeFormValue(const std::string& utf8) {
  static constexpr std::string_view kUnsafe = "*#%<> []&+=";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    if (c <= 0x20 || c >= 0x7F || kUnsafe.find(static_cast<char>(c)) != std::string_view::npos) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string existRequest(int port, const std::string& name, const std::string& version) {
  const std::string body = "&name=" + encodeFormValue(name) + "&version=" + encodeFormValue(version);
  return head(port, "/index.php?r=sw/exist",
              "Content-Encoding: UTF-8\r\nContent-Type: application/x-www-form-urlencoded\r\n", body.size()) + body;
}

std::string uploadRequest(int port, const std::string& name, const std::string& version,
                          const std::string& icoPath, const std::string& icon) {
  const std::string b = boundary();
  std::string body;
  body.reserve(icon.size() + 512);
  body += "--" + b + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n" + name + "\r\n";
  body += "--" + b + "\r\nContent-Disposition: form-data; name=\"version\"\r\n\r\n" + version + "\r\n";
  body += "--" + b + "\r\nContent-Disposition: form-data; name=\"icon\"; filename=\"" + icoPath +
          "\"\r\nContent-Type: image/x-icon\r\n\r\n";
  body += icon;
  body += "\r\n--" + b + "--\r\n";
  return head(port, "/index.php?r=sw/upload", "Content-Type: multipart/form-data; boundary=" + b + "\r\n", body.size()) +
         body;
}

}  // namespace load
