// The environment of the program in the end-to-end tests that send its requests to a scripted
// server: its own runtime folder, and the connect-redirect preload that sends 127.0.0.1:8750 to
// `port`. E2E_REDIRECT_LIBRARY, the suites' preload, is defined by tests/e2e/CMakeLists.txt.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace e2etest {

using Environment = std::vector<std::pair<std::string, std::string>>;

// With the preload `library` (the tools that run outside the suites are handed its path).
inline Environment redirectedEnvironment(const std::filesystem::path& runtimeDir, int port,
                                         const std::filesystem::path& library) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {{"XDG_RUNTIME_DIR", runtimeDir.string()},
          {"LD_PRELOAD", library.string()},
          {"TALVENOOK_E2E_SERVICE_PORT", std::to_string(port)},
          // a sanitizer build must accept the preload
          {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
}

#ifdef E2E_REDIRECT_LIBRARY
inline Environment redirectedEnvironment(const std::filesystem::path& runtimeDir, int port) {
  return redirectedEnvironment(runtimeDir, port, E2E_REDIRECT_LIBRARY);
}
#endif

}  // namespace e2etest
