#!/usr/bin/env bash
# The ICO files of the Windows build beside those of the Linux build: both programs run on the
# same catalogue (generated executables of every icon image kind, and Wine's own programs), and a
# table says which files are byte-identical and, for each that differs, how and why. The check is
# the Windows end-to-end suite's IcoComparison test (tests/e2e/windows/IcoComparisonTest.cpp),
# which also fails when a file differs where it must not; the table and both sets of ICO files
# stay in BUILD/artefacts/windows/.
# Usage: tools/compare_icons.sh [BUILD]   (a Linux build configured with TALVENOOK_WINDOWS_BUILD,
# as `make test` does; needs root for the test's private network)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${1:-${BUILD:-build}}")
suite="$build/tests/e2e/windows/windows_e2e_tests"
if [ ! -x "$suite" ]; then
  echo "compare_icons: $suite is missing: build the Windows build (make windows), then the Linux build" >&2
  exit 1
fi
"$suite" --gtest_filter='IcoComparison.*' --gtest_brief=1
status=$?
echo "table: $build/artefacts/windows/ico-comparison.md; files: $build/artefacts/windows/ico-{linux,windows}/"
exit $status
