// The environment of the program in the end-to-end tests that send its requests to a scripted
// server: its own runtime folder, and the connect-redirect preload that sends 127.0.0.1:8750 to
// `port`. E2E_REDIRECT_LIBRARY is defined by tests/e2e/CMakeLists.txt.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace e2etest {

inline std::vector<std::pair<std::string, std::string>> redirectedEnvironment(const std::filesystem::path& runtimeDir,
                                                                              int port) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {{"XDG_RUNTIME_DIR", runtimeDir.string()},
          {"LD_PRELOAD", E2E_REDIRECT_LIBRARY},
          {"TALVENOOK_E2E_SERVICE_PORT", std::to_string(port)},
          // a sanitizer build must accept the preload
          {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
}

}  // namespace e2etest
