#!/usr/bin/env bash
# The hostile-service set against the real talvenook binary: each attack a scripted loopback
# service (endless interim replies, 100 MB replies, cut and mis-framed replies, trickled replies,
# terminal control sequences), a FIFO as executable path, or a hostile catalogue, each in a
# program folder of its own with its own catalogue. Prints a table: attack, time to give up,
# peak memory of the program (getrusage of the child), rows marked, exit code.
# All attacks run at once; the two trickles end at the 120 s exchange deadline, so a run takes
# a little over two minutes.
# Usage: tools/hostile_service.sh [BUILD_FOLDER]   (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-${BUILD:-build}}")
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DTALVENOOK_BENCH=OFF >/dev/null
cmake --build "$build" --target talvenook hostile_service talvenook_e2e_redirect -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
exec "$build/tests/e2e/hostile_service" "$build/app/talvenook" "$build/tests/e2e/libtalvenook_e2e_redirect.so"
