#!/usr/bin/env bash
# The icon service as deployed in production (tools/production_service.sh: PostgreSQL, two
# php-fpm nodes, nginx on 127.0.0.1:8750), against the real program and under faults. Used by
# `make test-production`.
#   1. The Linux build, then talvenook.exe under Wine, each pass a catalogue of sample software
#      (names with spaces, "&", "+", "=", an apostrophe, accents, CJK): every row marked, every
#      name stored exactly, every icon byte for byte as written in image/. The service's own
#      checks hold through nginx (support/production_checks.php).
#   2. A node killed (kill -9 of its php-fpm master and workers) in the middle of a load run: no
#      request fails (nginx sends them to the live node), every upload answered success is stored
#      byte for byte, nothing is doubled; the node started again takes requests again.
#   3. PostgreSQL stopped during a load run: requests answer 5xx while it is down, a program pass
#      then leaves its rows pending; started again, the same PHP processes serve without errors,
#      and the next pass marks the rows.
# Runs as root inside a network namespace of its own (unshare -n), where 127.0.0.1:8750, the
# program's compiled-in service address, belongs to the test. Every wait has a deadline.
# Usage: tests/iconservice/run_production.sh BUILD_FOLDER [WINDOWS_BUILD_FOLDER]
# Environment: LOAD_DESKTOPS (16), LOAD_PROGRAMS (400) for the load runs of 2 and 3.
set -uo pipefail
shopt -s nullglob

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:?usage: $0 BUILD_FOLDER [WINDOWS_BUILD_FOLDER]}")
winbuild=$(realpath -m "${2:-$root/build-windows}")
desktops=${LOAD_DESKTOPS:-16}
programs=${LOAD_PROGRAMS:-400}
program="$build/app/talvenook"
generator_pe="$build/tests/iconservice/make_sample_pe"
for needed in "$program" "$generator_pe"; do
  [ -x "$needed" ] || { echo "missing $needed; run 'make build' first" >&2; exit 1; }
done

# shellcheck source=../../tools/wine_sandbox.sh
source "$root/tools/wine_sandbox.sh"
in_own_network run_production 0 "$0" "$@"

# shellcheck source=../../tools/service_control.sh
source "$root/tools/service_control.sh"
production="$root/tools/production_service.sh"
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

# shellcheck source=../support/shell_checks.sh
source "$root/tests/support/shell_checks.sh"

work=$(mktemp -d /tmp/talvenook-production.XXXXXX)
chmod 755 "$work"
finish() {
  stop_production_service
  stop_wine "$work/prefix"
  rm -rf "$work"
}
trap finish EXIT

generator="$build/iconservice_load/iconservice_load"
cmake -S "$root/bench/iconservice_load" -B "$build/iconservice_load" >"$work/generator.log" 2>&1 \
  && cmake --build "$build/iconservice_load" >>"$work/generator.log" 2>&1 || { cat "$work/generator.log"; exit 1; }

NODES=2 PORT=8750 ACCESS_LOG=1 start_production_service "$work/service" >"$work/start.log" || { cat "$work/start.log"; exit 1; }
deployment=$PRODUCTION_DIR
psql_icons() { "$pg_bin/psql" -h "$deployment/pg" -U talvenook -d talvenook_icons -Atq -c "$1"; }
dsn="pgsql:host=$deployment/pg;dbname=talvenook_icons"
echo "production deployment in $deployment: $(tail -n 1 "$work/start.log")"

# --- 1. the real program, Linux and Windows ---------------------------------------------------

# check_pass LABEL FOLDER PENDING: rows marked, names exact, icons byte for byte.
check_pass() {
  local label=$1 folder=$2 pending=$3 catalogue="$2/DB/REDU.sqlite" names ico digest stored
  check "$label: rows marked" "$pending" "$(sqlite3 "$catalogue" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"
  names=$(sqlite3 "$catalogue" "SELECT group_concat(quote(softname), ',') FROM software_data WHERE ID < 100")
  check "$label: names stored exactly as catalogued" \
    "$(sqlite3 "$catalogue" "SELECT softname FROM software_data WHERE ID < 100" | LC_ALL=C sort)" \
    "$(psql_icons "SELECT name FROM talvenook_icons WHERE name IN ($names)" | LC_ALL=C sort)"
  check "$label: icons written" "$pending" "$(find "$folder/image" -name '*.ico' | wc -l)"
  for ico in "$folder"/image/*.ico; do
    digest=$(sha256sum "$ico" | cut -d' ' -f1)
    stored=$(psql_icons "SELECT encode(b.icon, 'hex') FROM talvenook_icons i JOIN talvenook_icon_blobs b
      ON b.icon_sha256 = i.icon_sha256 WHERE i.icon_sha256 = '$digest' AND i.name IN ($names) LIMIT 1")
    check "$label: $(basename "$ico") stored byte for byte" "$(od -An -v -tx1 "$ico" | tr -d ' \n')" "$stored"
  done
}

linux="$work/linux"
mkdir -p "$linux/run"
cp "$program" "$linux/talvenook"
pending=$("$root/tools/sample_catalogue.sh" "$linux" "$generator_pe") || exit 1
(cd "$linux" && XDG_RUNTIME_DIR="$linux/run" timeout -k 5 300 ./talvenook) 2>"$work/linux-pass.log"
check "Linux pass exit code" 0 $?
check_pass "Linux" "$linux" "$pending"

if [ -f "$winbuild/app/talvenook.exe" ]; then
  make_wine_prefix run_production "$work/prefix" "$build"
  windows="$work/windows"
  mkdir -p "$windows"
  ln -s "$windows" "$WINEPREFIX/dosdevices/d:"
  cp "$winbuild/app/talvenook.exe" "$windows/"
  sqlite_dll=$(find "$winbuild" -name sqlite3.dll -not -path '*/wine-prefix/*' 2>/dev/null | head -n 1)
  [ -n "$sqlite_dll" ] && cp "$sqlite_dll" "$windows/"
  pending=$("$root/tools/sample_catalogue.sh" "$windows" "$generator_pe") || exit 1
  # Windows paths of the same files on drive D:, and names of their own (the Linux pass stored
  # the plain ones, so the service would not want those icons again).
  sqlite3 "$windows/DB/REDU.sqlite" "UPDATE software_data SET exepath = 'D:\\' || replace(substr(exepath, $((${#windows} + 2))), '/', '\\'),
    softname = softname || ' — Windows'"
  (cd "$windows" && timeout -k 5 300 "$wine" talvenook.exe) >"$work/windows-pass.log" 2>&1
  check "Windows pass exit code" 0 $?
  check_pass "Windows" "$windows" "$pending"
else
  echo "SKIPPED: the Windows pass (no $winbuild/app/talvenook.exe; run 'make windows' first)"
fi

# The service's own checks through nginx (sizes, image bombs, the document root, caching).
php "$root/tests/iconservice/support/production_checks.php" 8750 >"$work/checks.log"
check "the service's checks through nginx ($(tail -n 1 "$work/checks.log"))" 0 $?
grep -A 2 '^FAILED' "$work/checks.log"

# --- 2. a node killed in the middle of a load run ---------------------------------------------

# load_run TAG: a load run in the background; sets load_pid; figures in $work/TAG.figures.
load_run() {
  "$generator" --port 8750 --desktops "$desktops" --programs "$programs" --run "$1" --limit 120 \
    --uploads "$work/$1.uploads" >"$work/$1.figures" 2>&1 &
  load_pid=$!
}
errors_of() { sed -n "s/.*kind=$1 .*errors=\([0-9]*\).*/\1/p" "$work/$2.figures"; }
served_by() { wc -l <"$deployment/node$1/access.log"; }
# workers_of N: how many php-fpm processes of node N live in this test's network namespace,
# after waiting up to 5 s for them to reach 0.
workers_of() {
  local own count file tries
  own=$(readlink /proc/self/ns/net)
  for ((tries = 50; tries > 0; tries--)); do
    count=0
    for file in /proc/[0-9]*/cmdline; do
      [ "$(tr -d '\0' <"$file" 2>/dev/null)" = "php-fpm: pool talvenook-iconservice-node$1" ] || continue
      [ "$(readlink "${file%/cmdline}/ns/net" 2>/dev/null)" = "$own" ] && count=$((count + 1))
    done
    [ "$count" = 0 ] && break
    sleep 0.1
  done
  echo "$count"
}

load_run kill
sleep 1
check "the load run is still going when node 1 is killed" 0 "$(kill -0 "$load_pid" 2>/dev/null; echo $?)"
"$production" kill-node "$deployment" 1
check "node 1 is gone" 1 "$(kill -0 "$(cat "$deployment/node1/master.pid")" 2>/dev/null; echo $?)"
check "no worker of node 1 outlives it" 0 "$(workers_of 1)"
before=$(served_by 2)
timeout 150 tail --pid="$load_pid" -f /dev/null
check "no existence query failed" 0 "$(errors_of exist kill)"
check "no upload failed" 0 "$(errors_of upload kill)"
if [ "$(errors_of exist kill)$(errors_of upload kill)" != 00 ]; then
  echo "  nginx's errors during the kill:"
  grep '\[error\]' "$deployment/nginx/error.log" | tail -n 5 | sed 's/^/    /'
fi
check "node 2 took the requests after the kill" 1 "$([ "$(served_by 2)" -gt "$before" ] && echo 1)"
verdict=$(php "$root/bench/iconservice_load_check.php" "$work/kill.uploads" "$dsn" talvenook)
check "every upload answered success stored byte for byte, nothing doubled" 0 $?
echo "node kill: $(grep -h '^kind=' "$work/kill.figures" | tr '\n' ' '); $verdict"

"$production" start-node "$deployment" 1
before=$(served_by 1)
sleep 3.5  # nginx leaves a failed node out for fail_timeout (3 s), then tries it again
load_run rejoin
timeout 150 tail --pid="$load_pid" -f /dev/null
check "the restarted node takes requests again" 1 "$([ "$(served_by 1)" -gt "$before" ] && echo 1)"
check "no request failed after the restart" "0 0" "$(errors_of exist rejoin) $(errors_of upload rejoin)"

# --- 3. PostgreSQL stopped and started during a load run ---------------------------------------

masters="$(cat "$deployment"/node*/master.pid | tr '\n' ' ')"
load_run restart
sleep 1
"$production" stop-db "$deployment"
reply=$(timeout 30 php -r 'require $argv[1]; echo (new IconService\Tests\RawHttp("127.0.0.1", 8750))
  ->postForm("/index.php?r=sw/exist", "&name=Down&version=1")["status"];' "$root/tests/iconservice/bootstrap.php")
check "an existence query while PostgreSQL is down answers 500" 500 "$reply"
sqlite3 "$linux/DB/REDU.sqlite" "UPDATE software_data SET pin = '0', softname = softname || ' (second)' WHERE ID < 100"
(cd "$linux" && XDG_RUNTIME_DIR="$linux/run" timeout -k 5 300 ./talvenook) 2>"$work/linux-down.log"
check "a pass while PostgreSQL is down leaves every row pending" 0 \
  "$(sqlite3 "$linux/DB/REDU.sqlite" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"
sleep 1
"$production" start-db "$deployment" || exit 1
timeout 150 tail --pid="$load_pid" -f /dev/null
echo "database restart: $(grep -h 'kind=' "$work/restart.figures" | tr '\n' ' ')"
check "requests failed only with 5xx while it was down" "" \
  "$(grep -E '^kind=(exist|upload) ' "$work/restart.figures" | sed 's/.*errors=[0-9]*//' | tr ' ' '\n' | grep -v -e '^status_5' -e '^$' || true)"
php "$root/bench/iconservice_load_check.php" "$work/restart.uploads" "$dsn" talvenook >"$work/restart.check"
check "every upload answered success before and after stored, nothing doubled" 0 $?
load_run after
timeout 150 tail --pid="$load_pid" -f /dev/null
check "no request fails once PostgreSQL is back" "0 0" "$(errors_of exist after) $(errors_of upload after)"
check "the same php-fpm masters serve (PHP was not restarted)" "$masters" "$(cat "$deployment"/node*/master.pid | tr '\n' ' ')"
(cd "$linux" && XDG_RUNTIME_DIR="$linux/run" timeout -k 5 300 ./talvenook) 2>"$work/linux-up.log"
check "the next pass marks every row" "$pending" \
  "$(sqlite3 "$linux/DB/REDU.sqlite" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"

report production
