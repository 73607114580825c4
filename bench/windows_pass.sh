#!/usr/bin/env bash
# Whole-pass benchmark of the Windows build under Wine beside the Linux build: the same 2,000-row
# catalogue (16 sample executables; each row: icon, ICO file, version, existence query, upload,
# update) against the same loopback responder (pass_bench --respond: every icon wanted), same
# machine, same run, runs alternating. Reported per run: wall time, rows per second, CPU time
# and peak resident memory of the program's process, and for Wine also of the wineserver (the
# server does every socket call and every wait of the Windows process). The server is started
# once and warmed up (with Wine's own system processes) before the runs, as on a desktop where
# Wine is already up; its peak is reset before each run (/proc/PID/clear_refs).
#
# Runs as root inside a network namespace of its own (unshare -n), where 127.0.0.1:8750, the
# program's compiled-in service address, belongs to the benchmark.
# Both program folders (program, catalogue, image folder) lie in PASS_BENCH_FOLDER, /dev/shm by
# default (Wine sees it as drive D:), so that the 2,000 synchronous catalogue updates measure the
# programs rather than the disk's flush latency, which on a shared machine varies tenfold.
# Environment: BUILD (Linux build, default build), WINBUILD (Windows build, default
# build-windows), PASS_BENCH_ROWS (2000), PASS_BENCH_RUNS (3 per build), PASS_BENCH_FOLDER,
# PIN=1 (or the option --pinned): the wineserver, Wine and the program, and the Linux program, on
# one CPU (taskset), so that no run pays for hand-offs between CPUs (unpinned runs on a small
# machine vary up to fourfold); the responder stays free.
set -uo pipefail

for argument in "$@"; do
  case $argument in
    --pinned) export PIN=1 ;;
    *) echo "windows_pass: unknown option $argument (known: --pinned)" >&2; exit 2 ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
winbuild=$(cd "$root" && realpath -m "${WINBUILD:-build-windows}")
rows=${PASS_BENCH_ROWS:-2000}
runs=${PASS_BENCH_RUNS:-3}
linux_program="$build/app/talvenook"
windows_program="$winbuild/app/talvenook.exe"
bench="$build/bench/pass_bench"
generator="$build/tests/iconservice/make_sample_pe"
# shellcheck source=../tools/wine_sandbox.sh
source "$root/tools/wine_sandbox.sh"

for needed in "$linux_program" "$bench" "$generator"; do
  [ -x "$needed" ] || { echo "windows_pass: $needed is missing; build the Linux build first" >&2; exit 1; }
done
if [ ! -f "$windows_program" ]; then
  echo "windows_pass: no Windows build ($windows_program); run 'make windows' first"
  exit 0
fi

in_own_network windows_pass 0 "$0" "$@"

pin=()
if [ "${PIN:-0}" = 1 ]; then
  cpu=$(taskset -cp $$ | sed 's/.*: //; s/[,-].*//')
  pin=(taskset -c "$cpu")
fi

work=$(mktemp -d /tmp/talvenook-winbench.XXXXXX)
programs=$(mktemp -d "${PASS_BENCH_FOLDER:-/dev/shm}/talvenook-winbench.XXXXXX") || exit 1
prefix="$work/prefix"
responder=
server=
finish() {
  [ -n "$responder" ] && { kill "$responder" 2>/dev/null; wait "$responder" 2>/dev/null; }
  stop_wine "$prefix" "$server"
  rm -rf "$work" "$programs"
}
trap finish EXIT

# --- a Wine prefix: a hard-link copy of the end-to-end tests' template when there is one
make_wine_prefix windows_pass "$prefix" "$build"

# --- program folders, fixtures and the two catalogues (Linux paths, Windows paths)
ln -s "$programs" "$prefix/dosdevices/d:"
lin="$programs/linux"
win="$programs/windows"
fixtures="$prefix/drive_c/fixtures"
mkdir -p "$lin/DB" "$lin/run" "$win/DB" "$fixtures"
cp "$linux_program" "$lin/talvenook"
cp "$windows_program" "$win/"
sqlite_dll=$(find "$(dirname "$windows_program")" "$winbuild" -name sqlite3.dll -not -path '*/wine-prefix/*' 2>/dev/null | head -n 1)
[ -n "$sqlite_dll" ] || { echo "windows_pass: no sqlite3.dll in $winbuild" >&2; exit 1; }
cp "$sqlite_dll" "$win/"
for i in $(seq 0 15); do "$generator" "$fixtures/app$i.exe" "1.2.3.$i" "$i" || exit 1; done
catalogue() {  # catalogue FILE EXE_PREFIX: rows pending rows over the 16 executables
  sqlite3 "$1" "BEGIN; CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT);
    WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < $rows - 1)
    INSERT INTO software_data (softname, exepath, pin, exticon)
      SELECT 'Application ' || i, '$2' || (i % 16) || '.exe', '0', '1' FROM n; COMMIT;"
}
catalogue "$work/linux.sqlite" "$fixtures/app"
catalogue "$work/windows.sqlite" 'C:\fixtures\app'

# --- the responder and a warm wineserver
"$bench" --respond 8750 >"$work/responder.port" &
responder=$!
for _ in $(seq 100); do [ -s "$work/responder.port" ] && break; sleep 0.05; done
[ "$(cat "$work/responder.port" 2>/dev/null)" = 8750 ] || { echo "windows_pass: the responder did not start" >&2; exit 1; }
"${pin[@]}" "$wineserver" -f -p &
server=$!
(cd "$win" && "${pin[@]}" "$wine" cmd.exe /c exit) >/dev/null 2>&1
ticks=$(getconf CLK_TCK)
server_cpu() { awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$server/stat"; }
server_peak_mb() { awk '/^VmHWM/ { printf "%.1f", $2 / 1024 }' "/proc/$server/status"; }

results="$work/results"
: >"$results"
measure() {  # measure BUILD RUN: one pass on a fresh catalogue; appends a line to the results
  local which=$1 run=$2 folder figures marked cpu_before cpu_after
  if [ "$which" = linux ]; then folder=$lin; else folder=$win; fi
  cp "$work/$which.sqlite" "$folder/DB/REDU.sqlite"
  rm -rf "$folder/image"
  echo 5 >"/proc/$server/clear_refs"
  cpu_before=$(server_cpu)
  if [ "$which" = linux ]; then
    figures=$(cd "$folder" && XDG_RUNTIME_DIR="$lin/run" "${pin[@]}" "$bench" --measure ./talvenook)
  else
    figures=$(cd "$folder" && "${pin[@]}" "$bench" --measure "$wine" talvenook.exe)
  fi
  cpu_after=$(server_cpu)
  marked=$(sqlite3 "$folder/DB/REDU.sqlite" "SELECT count(*) FROM software_data WHERE pin = '1'")
  read -r seconds cpu _user peak code <<<"$figures"  # pass_bench --measure: seconds cpu user peak_KB exit
  if [ "$code" != 0 ] || [ "$marked" != "$rows" ]; then
    echo "windows_pass: $which run $run: exit code $code, $marked of $rows rows marked" >&2
    return 1
  fi
  if [ "$which" = linux ]; then
    echo "$which $run $seconds $cpu $peak - -" >>"$results"
  else
    echo "$which $run $seconds $cpu $peak $(awk -v a="$cpu_before" -v b="$cpu_after" 'BEGIN { printf "%.3f", b - a }') $(server_peak_mb)" >>"$results"
  fi
}

failed=0
for run in $(seq "$runs"); do
  measure linux "$run" || failed=1
  measure windows "$run" || failed=1
done

echo "Whole pass over $rows rows, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%dT%H:%MZ);" \
  "program folders in $(dirname "$programs"); $([ "${PIN:-0}" = 1 ] && echo "pinned to CPU ${pin[2]}" || echo unpinned);" \
  "Wine: $("$wine" --version 2>/dev/null)"
echo
echo "| build | run | wall s | rows/s | CPU s, program | CPU s, wineserver | peak MB, program | peak MB, wineserver |"
echo "|---|---|---|---|---|---|---|---|"
awk -v rows="$rows" '{
  printf "| %s | %s | %.2f | %.0f | %.2f | %s | %.1f | %s |\n", ($1 == "linux" ? "Linux" : "Windows under Wine"), $2, $3,
    rows / $3, $4, $6, $5 / 1024, $7 }' "$results"
echo
awk -v rows="$rows" '
  function median(list, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (list[j] < list[i]) { t = list[i]; list[i] = list[j]; list[j] = t }
                                       return n % 2 ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2 }
  $1 == "linux" { lw[++ln] = $3; lc[ln] = $4; lp[ln] = $5 }
  $1 == "windows" { ww[++wn] = $3; wc[wn] = $4 + $6; wp[wn] = $5 / 1024 + $7 }
  END {
    if (!ln || !wn) exit
    a = median(lw, ln); b = median(ww, wn); c = median(lc, ln); d = median(wc, wn); e = median(lp, ln) / 1024; f = median(wp, wn)
    printf "Medians: Linux %.2f s (%.0f rows/s), CPU %.2f s, peak %.1f MB; Windows under Wine %.2f s (%.0f rows/s), CPU %.2f s (program + wineserver), peak %.1f MB (program + wineserver).\n", a, rows / a, c, e, b, rows / b, d, f
    printf "Windows under Wine / Linux: time %.2fx, CPU %.2fx, peak memory %.2fx\n", b / a, d / c, f / e
  }' "$results"
exit $failed
