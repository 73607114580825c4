#!/usr/bin/env bash
# Per-upload cost of the content-type lookup of the Windows build under Wine, over registries of
# growing size: the test prefix as it is, then copies of it with keys added under the classes
# root (a .reg file imported with regedit), each measured with this tree's code ("after") and with
# the code of a baseline commit ("before", default e638be7: every lookup listed the whole root).
# The bench program (windows_content_types_bench.exe) times MimeTypeForFile("C:\image\0.ico") as
# every upload calls it and prints the full two-pass table's answer beside it; the script checks
# that the two agree, for both builds, at every size.
#
# Environment: WINBUILD (Windows build of this tree, default build-windows; `make windows` makes
# it), BASELINE_COMMIT (e638be7), BASELINE_BUILD (where the baseline's bench is built, default
# build-bench-baseline; made on first use from `git archive` of the commit, libraries only),
# WINCACHE (the Windows dependency cache, default .cache), CONTENT_TYPE_KEYS (total keys under
# the classes root per row, default "417 5000 20000 50000"; the first is the prefix as it is,
# whatever its count), CONTENT_TYPE_DATABASE_TYPES (extra rows with that many types added to the
# MIME database; default 1000), BENCH_MS (milliseconds per timed round, default 300),
# CONTENT_TYPE_RUNS (turns: program starts per build and row, the median kept; default 3), PIN=1 (Wine,
# its server and the program on one CPU).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
winbuild=$(cd "$root" && realpath -m "${WINBUILD:-build-windows}")
baseline_commit=${BASELINE_COMMIT:-e638be7}
baseline_build=$(cd "$root" && realpath -m "${BASELINE_BUILD:-build-bench-baseline}")
wincache=$(cd "$root" && realpath -m "${WINCACHE:-.cache}")
sizes=${CONTENT_TYPE_KEYS:-417 5000 20000 50000}
database_types=${CONTENT_TYPE_DATABASE_TYPES:-1000}
bench_ms=${BENCH_MS:-300}
runs=${CONTENT_TYPE_RUNS:-3}
wine=${TALVENOOK_WINE:-/usr/lib/wine/wine64}
wineserver="$(dirname "$wine")/wineserver"
after_exe="$winbuild/bench/windows_content_types_bench.exe"
before_exe="$baseline_build/out/windows_content_types_bench.exe"

pin=()
if [ "${PIN:-0}" = 1 ]; then
  cpu=$(taskset -cp $$ | sed 's/.*: //; s/[,-].*//')
  pin=(taskset -c "$cpu")
fi

[ -x "$winbuild/wine-run" ] || { echo "windows_content_types: no Windows build in $winbuild; run 'make windows' first" >&2; exit 1; }
[ -f "$after_exe" ] || { echo "windows_content_types: $after_exe is missing; run 'make windows' first" >&2; exit 1; }

# --- the baseline's bench: the commit's own libraries with this tree's bench program
if [ ! -f "$before_exe" ]; then
  echo "windows_content_types: building the bench over $baseline_commit in $baseline_build"
  rm -rf "$baseline_build/src" && mkdir -p "$baseline_build/src" || exit 1
  git -C "$root" archive "$baseline_commit" | tar -x -C "$baseline_build/src" || exit 1
  cp "$root/bench/windows_content_types_bench.cpp" "$baseline_build/src/bench/" || exit 1
  cat >>"$baseline_build/src/CMakeLists.txt" <<'EOF'
# Added by bench/windows_content_types.sh: the lookup bench over this commit's libraries.
add_executable(windows_content_types_bench bench/windows_content_types_bench.cpp)
target_link_libraries(windows_content_types_bench PRIVATE talvenook_service)
set_target_properties(windows_content_types_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
EOF
  cmake -S "$baseline_build/src" -B "$baseline_build/out" -DCMAKE_TOOLCHAIN_FILE="$baseline_build/src/cmake/mingw-w64-x86_64.cmake" \
    -DTALVENOOK_WINDOWS_CACHE="$wincache" -DTALVENOOK_TESTS=OFF -DTALVENOOK_BENCH=OFF >"$baseline_build/configure.log" 2>&1 ||
    { cat "$baseline_build/configure.log"; exit 1; }
  cmake --build "$baseline_build/out" --target windows_content_types_bench -j "${JOBS:-2}" >"$baseline_build/build.log" 2>&1 ||
    { tail -n 30 "$baseline_build/build.log"; exit 1; }
fi

work=$(mktemp -d /tmp/talvenook-content-types.XXXXXX)
prefix=
finish() {
  [ -n "$prefix" ] && WINEPREFIX="$prefix" timeout 30 "$wineserver" -k 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# --- the test prefix, made by the Windows build's runner when it is not there yet
"$winbuild/wine-run" --prepare >/dev/null 2>&1 || { echo "windows_content_types: the test prefix could not be made" >&2; exit 1; }
template="$winbuild/wine-prefix"
[ -f "$template/system.reg" ] || { echo "windows_content_types: no prefix in $template" >&2; exit 1; }

# copy_prefix DEST: a copy of the test prefix (registry files copied, the rest hard-linked).
copy_prefix() {
  cp -al "$template" "$1" || return 1
  for f in system.reg user.reg userdef.reg; do
    [ -f "$template/$f" ] && { rm -f "$1/$f"; cp "$template/$f" "$1/$f"; }
  done
  return 0
}

# run_bench PREFIX EXE: one start of the bench program (a fresh process: the registry is read
# afresh), with the prefix's server up; its line of figures.
run_bench() {
  local exe_dir
  exe_dir=$(dirname "$2")
  WINEPREFIX="$1" "${pin[@]}" "$wineserver" -p 10 >/dev/null 2>&1
  (cd "$exe_dir" && WINEPREFIX="$1" "${pin[@]}" "$wine" "$2" 'C:\image\0.ico' "$bench_ms" 2>/dev/null | tr -d '\r')
}

# median FILE: the line of FILE with the median first field.
median() {
  sort -n -k1,1 "$1" | awk '{ line[NR] = $0 } END { if (NR) print line[int((NR + 1) / 2)] }'
}

# count_keys PREFIX: keys directly under the classes root (HKCU and HKLM classes merged).
count_keys() {
  WINEPREFIX="$1" "$wine" reg query 'HKEY_CLASSES_ROOT' 2>/dev/null | tr -d '\r' | grep -c '^HKEY_CLASSES_ROOT\\'
}

# write_reg FILE KEYS TYPES: a .reg file with KEYS keys under the classes root, three in four
# extension keys with a content type and the rest program identifiers (as an installer writes
# them), and TYPES types in the MIME database naming extensions of their own.
write_reg() {
  awk -v keys="$2" -v types="$3" 'BEGIN {
    printf "Windows Registry Editor Version 5.00\r\n\r\n"
    for (i = 0; i < keys; i++) {
      if (i % 4 != 3) printf "[HKEY_CLASSES_ROOT\\.bench%06d]\r\n@=\"Bench.File.%06d\"\r\n\"Content Type\"=\"application/x-bench-%06d\"\r\n\r\n", i, i, i
      else printf "[HKEY_CLASSES_ROOT\\Bench.File.%06d]\r\n@=\"Bench file %06d\"\r\n\r\n", i, i
    }
    for (i = 0; i < types; i++)
      printf "[HKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-benchdb-%06d]\r\n\"Extension\"=\".benchdb%06d\"\r\n\r\n", i, i
  }' >"$1"
}

results="$work/results"
: >"$results"
failed=0
labels=()
# prepare LABEL KEYS TYPES: a copy of the prefix with keys added as asked, in $work/prefix-LABEL.
prepare() {
  local label=$1 wanted=$2 types=$3 here count add
  here="$work/prefix-$label"
  copy_prefix "$here" || return 1
  prefix=$here
  count=$(count_keys "$here")
  add=$((wanted > count ? wanted - count : 0))
  if [ "$add" -gt 0 ] || [ "$types" -gt 0 ]; then
    write_reg "$work/add.reg" "$add" "$types"
    WINEPREFIX="$here" "$wine" regedit /S "$(WINEPREFIX="$here" "$wine" winepath -w "$work/add.reg" 2>/dev/null | tr -d '\r')" \
      >/dev/null 2>&1
    WINEPREFIX="$here" "$wineserver" -w
    count=$(count_keys "$here")
  fi
  WINEPREFIX="$here" timeout 30 "$wineserver" -k 2>/dev/null
  prefix=
  echo "$count $types" >"$work/size-$label"
  labels+=("$label")
}

prepare prefix 0 0
for size in $sizes; do
  [ "$size" = 417 ] && continue
  prepare "keys$size" "$size" 0
done
[ "$database_types" -gt 0 ] && prepare "types$database_types" 0 "$database_types"

# The rows are measured in turns, every row once a turn, so that a change of the machine's load
# spreads over all of them instead of falling on one row.
for run in $(seq "$runs"); do
  for label in "${labels[@]}"; do
    prefix="$work/prefix-$label"
    run_bench "$prefix" "$before_exe" >>"$work/before-$label"
    run_bench "$prefix" "$after_exe" >>"$work/after-$label"
    WINEPREFIX="$prefix" timeout 30 "$wineserver" -k 2>/dev/null
    prefix=
  done
done
for label in "${labels[@]}"; do
  before=$(median "$work/before-$label")
  after=$(median "$work/after-$label")
  [ -n "$before" ] || before="- 0 - - -"
  [ -n "$after" ] || after="- 0 - - -"
  echo "$label $(cat "$work/size-$label") $before | $after" >>"$results"
done

echo "Content-type lookup per upload (MimeTypeForFile \"C:\\image\\0.ico\"), Windows build under Wine;" \
  "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%dT%H:%MZ)," \
  "$([ "${PIN:-0}" = 1 ] && echo "pinned to CPU ${pin[2]}" || echo unpinned); Wine: $("$wine" --version 2>/dev/null)"
echo "before: $baseline_commit; after: $(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD -- platform service || echo ' + changes')"
echo
echo "| keys under the classes root | extra types in the MIME database | us per lookup, before | us per lookup, after | before / after | answer | full table's answer | agree |"
echo "|---|---|---|---|---|---|---|---|"
while read -r label count types b_us b_n b_answer b_full b_table bar a_us a_n a_answer a_full a_table; do
  agree=yes
  if [ -z "${a_full:-}" ] || [ "$a_answer" != "$a_full" ] || [ "$b_answer" != "$b_full" ] || [ "$a_full" != "$b_full" ]; then
    agree=NO
    failed=1
  fi
  printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n" "$count" "$types" "$b_us" "$a_us" \
    "$(awk -v b="$b_us" -v a="$a_us" 'BEGIN { if (a > 0) printf (b / a < 10 ? "%.1fx" : "%.0fx"), b / a; else print "-" }')" "$a_answer" "$a_full" "$agree"
done <"$results"
echo
awk '$3 == 0 { us[++n] = $10 } END {
  if (!n) exit
  low = us[1]; high = us[1]
  for (i = 2; i <= n; i++) { if (us[i] < low) low = us[i]; if (us[i] > high) high = us[i] }
  printf "After, over the rows without extra types: largest / smallest = %.2fx (flat within 1.2x: %s)\n", high / low, high <= 1.2 * low ? "yes" : "no"
}' "$results"
exit $failed
