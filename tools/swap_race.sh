#!/usr/bin/env bash
# The swap race, on both builds: 300 catalogue rows name the same path while another process renames
# one of two executables (different icons, different versions) over that path in a loop; the
# recording service (tools/recording_service.py) keeps each upload's icon and version. A row is
# mixed when it was uploaded with one file's icon and the other file's version. Two calibration
# rows first name the two files themselves, so each file's icon bytes (as this build writes them)
# are known.
#   Windows build: under Wine, the renamer is a Windows program in the same prefix
#   (tools/windows/swaprename: a copy renamed over the path with MoveFileExW), as another program on the
#   desktop would do it. With SWAP_UNIX_RENAMER=1 the Linux renamer is used for it too (a rename
#   that Wine's sharing rules cannot see; shown for information).
#   Linux build: a Linux process (link + rename(2) in a loop).
# Usage: tools/swap_race.sh      Environment: BUILD, WINBUILD, SWAP_ROWS (300), SWAP_BUILDS
# ("windows linux"). Runs as root (network namespace of its own). Exit status 0 when no row is
# mixed on any build.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
winbuild=$(cd "$root" && realpath -m "${WINBUILD:-build-windows}")
rows=${SWAP_ROWS:-300}
builds=${SWAP_BUILDS:-windows linux}
# shellcheck source=wine_sandbox.sh
source "$root/tools/wine_sandbox.sh"
samples="$build/tests/iconservice/make_sample_pe"
linux_program="$build/app/talvenook"
windows_program="$winbuild/app/talvenook.exe"
debugrun="$winbuild/tools/windows/debugrun/debugrun.exe"
swaprename="$winbuild/tools/windows/swaprename/swaprename.exe"

require swap_race build "$samples" "$linux_program"
[[ " $builds " == *" windows "* ]] && require swap_race windows "$windows_program" "$debugrun" "$swaprename"
in_own_network swap_race 1800 "$0" "$@"

work=$(mktemp -d /tmp/talvenook-swap.XXXXXX)
prefix="$work/prefix"
service=
server=
renamer=
finish() {
  [ -n "$renamer" ] && { kill "$renamer" 2>/dev/null; wait "$renamer" 2>/dev/null; }
  [ -n "$service" ] && { kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; }
  stop_wine "$prefix" "$server"
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap finish EXIT

start_service() {  # start_service LOG
  python3 "$root/tools/recording_service.py" 8750 "$1" >"$work/service.ready" 2>"$work/service.err" &
  service=$!
  for _ in $(seq 200); do grep -q ready "$work/service.ready" 2>/dev/null && return 0; sleep 0.05; done
  echo "swap_race: the recording service did not start: $(cat "$work/service.err")" >&2
  exit 1
}
stop_service() { kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; service=; }

catalogue() {  # catalogue DATABASE FIRST SECOND TARGET
  python3 - "$@" "$rows" <<'EOF'
import os, sqlite3, sys
database, first, second, target, rows = sys.argv[1:6]
if os.path.exists(database):
    os.remove(database)
db = sqlite3.connect(database)
db.execute("CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT)")
db.execute("INSERT INTO software_data VALUES (1, 'calibrate first', ?, '0', '1')", (first,))
db.execute("INSERT INTO software_data VALUES (2, 'calibrate second', ?, '0', '1')", (second,))
db.executemany("INSERT INTO software_data VALUES (?, ?, ?, '0', '1')",
               [(3 + i, "S%04d" % i, target) for i in range(int(rows))])
db.commit()
EOF
}

# Counts the uploads of the service log: consistent with one file, mixed, or neither.
judge() {  # judge BUILD SERVICE_LOG
  python3 - "$@" <<'EOF'
import sys
build, log = sys.argv[1:3]
uploads = [l.rstrip("\n").split("\t") for l in open(log, encoding="utf-8") if "\tupload\t" in l]
by_name = {u[4]: (u[7], u[5]) for u in uploads}
if "calibrate first" not in by_name or "calibrate second" not in by_name:
    print("| %s | calibration rows not uploaded | | | | |" % build)
    sys.exit(1)
first, second = by_name["calibrate first"], by_name["calibrate second"]
counts = {"first": 0, "second": 0, "mixed": 0, "other": 0}
for u in uploads:
    if not u[4].startswith("S"):
        continue
    icon, version = u[7], u[5]
    if (icon, version) == first: counts["first"] += 1
    elif (icon, version) == second: counts["second"] += 1
    elif (icon, version) in ((first[0], second[1]), (second[0], first[1])): counts["mixed"] += 1
    else: counts["other"] += 1
uploaded = sum(counts.values())
print("| %s | %d | %d | %d | %d | %d |" % (build, uploaded, counts["first"], counts["second"], counts["mixed"],
                                          counts["other"]))
sys.exit(1 if counts["mixed"] or counts["other"] else 0)
EOF
}

unix_renamer() {  # unix_renamer TARGET FIRST SECOND STOP_FILE: link + rename(2) until the stop file
  python3 - "$@" >"$work/renamer.out" <<'EOF' &
import os, sys, time
target, first, second, stop = sys.argv[1:5]
link, renamed, deadline = target + ".swap", 0, time.monotonic() + 600
while not os.path.exists(stop) and time.monotonic() < deadline:
    for source in (first, second):
        try:
            os.unlink(link)
        except FileNotFoundError:
            pass
        os.link(source, link)
        os.replace(link, target)
        renamed += 1
print("renamed %d refused 0" % renamed)
EOF
  renamer=$!
}

race="$work/race"
mkdir -p "$race"
timeout 60 "$samples" "$race/first.exe" 1.1.1.1 0 && timeout 60 "$samples" "$race/second.exe" 2.2.2.2 2 || exit 1
table="$work/table"
: >"$table"
status=0

if [[ " $builds " == *" windows "* ]]; then
  make_wine_prefix swap_race "$prefix" "$build"
  win="$prefix/drive_c/talvenook"
  files="$prefix/drive_c/race"
  mkdir -p "$win/DB" "$files"
  cp "$race/first.exe" "$race/second.exe" "$files/"
  cp "$race/first.exe" "$files/target.exe"
  cp "$windows_program" "$swaprename" "$win/"
  sqlite_dll=$(find "$(dirname "$windows_program")" "$winbuild" -name sqlite3.dll -not -path '*/wine-prefix/*' 2>/dev/null | head -n 1)
  cp "$sqlite_dll" "$win/"
  catalogue "$win/DB/REDU.sqlite" 'C:\race\first.exe' 'C:\race\second.exe' 'C:\race\target.exe'
  "$wineserver" -f -p &
  server=$!
  (cd "$win" && timeout 120 "$wine" cmd.exe /c exit) >/dev/null 2>&1
  start_service "$work/windows.log"
  rm -f "$files/stop"
  if [ -n "${SWAP_UNIX_RENAMER:-}" ]; then
    unix_renamer "$files/target.exe" "$files/first.exe" "$files/second.exe" "$files/stop"
    label="windows (unix renamer)"
  else
    (cd "$win" && exec "$wine" swaprename.exe 'C:\race\target.exe' 'C:\race\first.exe' 'C:\race\second.exe' 600 \
      'C:\race\stop' >"$work/renamer.out" 2>&1) &
    renamer=$!
    label=windows
  fi
  sleep 1
  (cd "$win" && timeout 700 "$wine" "$debugrun" --deadline 600 'C:\talvenook\talvenook.exe' \
     >"$work/windows.debug" 2>"$work/windows.errors")
  touch "$files/stop"
  timeout 30 tail --pid="$renamer" -f /dev/null; kill "$renamer" 2>/dev/null; wait "$renamer" 2>/dev/null; renamer=
  stop_service
  judge "$label" "$work/windows.log" >>"$table" || status=1
  grep -h "debugrun:" "$work/windows.errors" | head -5 >&2
  echo "windows renamer: $(cat "$work/renamer.out" 2>/dev/null)" >&2
fi

if [[ " $builds " == *" linux "* ]]; then
  lin="$work/linux"
  mkdir -p "$lin/DB" "$lin/run"
  cp "$linux_program" "$lin/talvenook"
  cp "$race/first.exe" "$race/target.exe"
  catalogue "$lin/DB/REDU.sqlite" "$race/first.exe" "$race/second.exe" "$race/target.exe"
  start_service "$work/linux.log"
  rm -f "$race/stop"
  unix_renamer "$race/target.exe" "$race/first.exe" "$race/second.exe" "$race/stop"
  sleep 0.5
  (cd "$lin" && XDG_RUNTIME_DIR="$lin/run" timeout 600 ./talvenook 2>"$work/linux.errors")
  touch "$race/stop"
  timeout 30 tail --pid="$renamer" -f /dev/null; wait "$renamer" 2>/dev/null; renamer=
  stop_service
  judge linux "$work/linux.log" >>"$table" || status=1
  echo "linux renamer: $(cat "$work/renamer.out" 2>/dev/null)" >&2
fi

echo "Swap race: $rows rows naming one path, renamed over between two executables in a loop"
echo
echo "| build | rows uploaded | first file whole | second file whole | mixed | neither |"
echo "|---|---|---|---|---|---|"
cat "$table"
exit $status
