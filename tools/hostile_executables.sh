#!/usr/bin/env bash
# Hostile executables through both builds: a generated catalogue of hand-made traps and mutated
# executables (tools/make_hostile_executables.cpp, mutating the sample executables and Wine's own
# programs), each row followed by a good row (a copy of a sample executable), run by the Windows
# build under Wine (through debugrun, headless, in a prefix of its own) and by the Linux build, each
# against the recording service (tools/recording_service.py) on 127.0.0.1:8750 inside a network
# namespace of its own. Judged by tools/hostile_pass.py:
#   - no unhandled exception (debugrun's report), no error box or error line, no deadline;
#   - every good row marked;
#   - the program's peak resident memory under 64 MB: the kernel's ru_maxrss of the program's own
#     process (under Wine: the talvenook.exe process, reaped by tools/peak_memory as child
#     subreaper, since Wine starts it through a double fork);
#   - no row slower than 2 s: the recording service's arrival of each good row's existence query
#     minus the answer to the previous good row's upload (an upper bound of the hostile row between);
#   - the same rows have icons on both builds (a row has an icon when it reached the service), and
#     each such row uploaded the same ICO file on both, but for the kinds of hostile_pass.py's
#     KNOWN_ICO_DIFFERENCES (the PNG images the system's decoder under Wine gets wrong).
# A run that fails is blamed on its row, which is taken out, and the pass goes on from there
# (at most HOSTILE_RESTARTS times), so one run shows every failing file.
#
# Usage: tools/hostile_executables.sh
# Environment: BUILD (build), WINBUILD (build-windows), HOSTILE_COUNT (1258 files), HOSTILE_SEED
# (1), HOSTILE_RESTARTS (300), HOSTILE_DEADLINE (seconds per run, 900), HOSTILE_OUT (where the
# tables and every failing file are kept; default /tmp/talvenook-hostile-report), HOSTILE_BUILDS
# ("windows linux"). Runs as root (network namespace). Exit status 0 when every target is met.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
winbuild=$(cd "$root" && realpath -m "${WINBUILD:-build-windows}")
count=${HOSTILE_COUNT:-1258}
seed=${HOSTILE_SEED:-1}
restarts=${HOSTILE_RESTARTS:-300}
deadline=${HOSTILE_DEADLINE:-900}
report_folder=${HOSTILE_OUT:-/tmp/talvenook-hostile-report}
builds=${HOSTILE_BUILDS:-windows linux}
# shellcheck source=wine_sandbox.sh
source "$root/tools/wine_sandbox.sh"
generator="$build/tests/e2e/make_hostile_executables"
peak="$build/tests/e2e/peak_memory"
samples="$build/tests/iconservice/make_sample_pe"
linux_program="$build/app/talvenook"
windows_program="$winbuild/app/talvenook.exe"
debugrun="$winbuild/tools/windows/debugrun/debugrun.exe"
wine_programs=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
[ -d "$wine_programs" ] || wine_programs=/usr/lib/wine/x86_64-windows

require hostile_executables build "$generator" "$peak" "$samples"
case " $builds " in *" linux "*) require hostile_executables build "$linux_program" ;; esac
case " $builds " in *" windows "*) require hostile_executables windows "$windows_program" "$debugrun" ;; esac

in_own_network hostile_executables 7200 "$0" "$@"

work=$(mktemp -d /tmp/talvenook-hostile.XXXXXX)
prefix="$work/prefix"
service=
server=
finish() {
  [ -n "$service" ] && { kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; }
  stop_wine "$prefix" "$server"
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap finish EXIT

# --- a Wine prefix: a hard-link copy of the end-to-end tests' template (null graphics driver)
make_wine_prefix hostile_executables "$prefix" "$build"

# --- the files: good copies of the samples, and the hostile set
hostile="$prefix/drive_c/hostile"
mkdir -p "$hostile/files" "$hostile/good" "$report_folder"
: >"$hostile/good.tsv"
for i in 0 1 2 3 4 5; do
  timeout 60 "$samples" "$hostile/good/good$i.exe" "1.0.$i.$((i * 7))" "$i" || exit 1
  printf 'good%d.exe\t1.0.%d.%d\n' "$i" "$i" "$((i * 7))" >>"$hostile/good.tsv"
done
wine_sources=()
for name in notepad winefile regedit winemine wordpad taskmgr winhlp32 iexplore msiexec explorer; do
  [ -f "$wine_programs/$name.exe" ] && wine_sources+=("$wine_programs/$name.exe")
done
echo "hostile_executables: writing $count files (seed $seed)" >&2
timeout 900 "$generator" "$hostile/files" "$seed" "$count" "$hostile"/good/good*.exe --wine "${wine_sources[@]}" \
  >"$hostile/manifest.tsv" || { echo "hostile_executables: the generator failed" >&2; exit 1; }
cp "$hostile/manifest.tsv" "$report_folder/manifest.tsv"

# --- program folders and catalogues
win="$prefix/drive_c/talvenook"
lin="$work/linux"
mkdir -p "$win/DB" "$lin/DB" "$lin/run"
[ -x "$linux_program" ] && cp "$linux_program" "$lin/talvenook"
if [ -f "$windows_program" ]; then
  cp "$windows_program" "$win/"
  sqlite_dll=$(find "$(dirname "$windows_program")" "$winbuild" -name sqlite3.dll -not -path '*/wine-prefix/*' 2>/dev/null | head -n 1)
  [ -n "$sqlite_dll" ] && cp "$sqlite_dll" "$win/"
fi
python3 "$root/tools/hostile_pass.py" catalogue "$hostile/manifest.tsv" "$hostile/good.tsv" \
  'C:\hostile\files' 'C:\hostile\good' windows "$win/DB/REDU.sqlite" || exit 1
python3 "$root/tools/hostile_pass.py" catalogue "$hostile/manifest.tsv" "$hostile/good.tsv" \
  "$hostile/files" "$hostile/good" linux "$lin/DB/REDU.sqlite" || exit 1

start_service() {  # start_service LOG
  python3 "$root/tools/recording_service.py" 8750 "$1" >"$work/service.ready" 2>"$work/service.err" &
  service=$!
  for _ in $(seq 200); do grep -q ready "$work/service.ready" 2>/dev/null && return 0; sleep 0.05; done
  echo "hostile_executables: the recording service did not start: $(cat "$work/service.err")" >&2
  exit 1
}
stop_service() { kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; service=; }

# --- Windows: a warm, persistent wineserver and Wine's system processes started outside the
# measured tree, then the pass under debugrun
if [[ " $builds " == *" windows "* ]]; then
  "$wineserver" -f -p &
  server=$!
  (cd "$win" && timeout 120 "$wine" cmd.exe /c exit) >/dev/null 2>&1
  mkdir -p "$work/out-windows"
  start_service "$work/out-windows/service.log"
  python3 "$root/tools/hostile_pass.py" run windows "$win" "$work/out-windows/service.log" "$work/out-windows" \
    "$deadline" "$restarts" "$peak" "$wine" "$debugrun" --deadline "$deadline" 'C:\talvenook\talvenook.exe'
  stop_service
fi

# --- Linux
if [[ " $builds " == *" linux "* ]]; then
  mkdir -p "$work/out-linux"
  start_service "$work/out-linux/service.log"
  XDG_RUNTIME_DIR="$lin/run" python3 "$root/tools/hostile_pass.py" run linux "$lin" "$work/out-linux/service.log" \
    "$work/out-linux" "$deadline" "$restarts" "$peak" ./talvenook
  stop_service
fi

# --- the tables, kept with every file that failed a target
python3 "$root/tools/hostile_pass.py" report "$hostile/manifest.tsv" "$work/out-windows" "$work/out-linux" \
  "$win/DB/REDU.sqlite" "$lin/DB/REDU.sqlite" | tee "$report_folder/report.md"
status=${PIPESTATUS[0]}
mkdir -p "$report_folder/files"
grep -oE '[0-9]{4}-[a-z0-9-]+\.(exe|ico)' "$report_folder/report.md" | sort -u |
  while read -r file; do cp "$hostile/files/$file" "$report_folder/files/"; done
for side in windows linux; do
  [ -d "$work/out-$side" ] && { rm -rf "$report_folder/out-$side"; cp -r "$work/out-$side" "$report_folder/out-$side"; }
done
echo "hostile_executables: report and failing files in $report_folder" >&2
exit "$status"
