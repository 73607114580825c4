// Entry of the Windows end-to-end suite: the whole process moves into a network of its own before
// any test (or thread) starts, so what it and its Wine processes do on 127.0.0.1:8750 is private.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/e2e/windows/PrivateNetwork.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) {
    const std::string failure = wintest::enterPrivateNetwork();
    if (!failure.empty()) {
      std::fprintf(stderr, "windows_e2e_tests: no private network: %s\n", failure.c_str());
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
