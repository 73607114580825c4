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
#   3. PostgreSQL stopped during a load run: requests answer 5xx while it is down, and so does
#      the health check (503), a program pass then leaves its rows pending; started again, the
#      same PHP processes serve without errors, the health check answers 200, and the next pass
#      marks the rows.
#   4. Attacks, each for ATTACK_SECONDS while the desktops' load runs (bench/iconservice_attacks.sh
#      plays them at full size): 4,500 partial request heads from one client; 20,000 rows and 30
#      clients on the last gallery pages; 300 stalled 1 MB bodies. Then an existence query and
#      an upload from outside the writer networks (403), and the removal command.
# Runs as root inside a network namespace of its own (unshare -n), where 127.0.0.1:8750, the
# program's compiled-in service address, belongs to the test. Every wait has a deadline.
# Usage: tests/iconservice/run_production.sh BUILD_FOLDER [WINDOWS_BUILD_FOLDER]
# Environment: LOAD_DESKTOPS (16), LOAD_PROGRAMS (400) for the load runs of 2 and 3,
# ATTACK_SECONDS (12) for 4.
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

# The desktops, the programs' passes and the tests' own requests come from 127.0.0.1; the
# attackers from other loopback addresses, outside the networks that may send icons here.
writers="127.0.0.1 ::1 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16 fc00::/7"
ulimit -n 20000 2>/dev/null
NODES=2 PORT=8750 ACCESS_LOG=1 WRITERS="$writers" start_production_service "$work/service" >"$work/start.log" || { cat "$work/start.log"; exit 1; }
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

# request FROM exist|upload|health [NAME VERSION [SEED]]: one request from address FROM
# (support/one_request.php); prints "STATUS BODY".
request() { php "$root/tests/iconservice/support/one_request.php" 8750 "$@"; }
check "the health check" '200 {"success":true}' "$(request 127.0.0.1 health)"
check "the health check is not in nginx's access log" 0 "$(grep -c 'sw/health' "$deployment/nginx/access.log")"

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
      case "$({ tr -d '\0' <"$file"; } 2>/dev/null)" in
        "php-fpm: pool talvenook-iconservice-node$1" | "php-fpm: pool talvenook-iconservice-node$1-gallery") ;;
        *) continue ;;
      esac
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
check "the health check while PostgreSQL is down" '503 {"success":false,"error":"database unavailable"}' "$(request 127.0.0.1 health)"
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
check "the health check once PostgreSQL is back" '200 {"success":true}' "$(request 127.0.0.1 health)"
check "the same php-fpm masters serve (PHP was not restarted)" "$masters" "$(cat "$deployment"/node*/master.pid | tr '\n' ' ')"
(cd "$linux" && XDG_RUNTIME_DIR="$linux/run" timeout -k 5 300 ./talvenook) 2>"$work/linux-up.log"
check "the next pass marks every row" "$pending" \
  "$(sqlite3 "$linux/DB/REDU.sqlite" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"

# --- 4. attacks during load runs ---------------------------------------------------------------

attack_seconds=${ATTACK_SECONDS:-12}
attacker="$build/iconservice_load/iconservice_attack"
# under_attack TAG ATTACKER_ARGUMENTS...: the attacker for attack_seconds, and a load run of
# the desktops from its second 2 to 2 s before its end; figures in $work/TAG.figures and
# $work/TAG.attack.
under_attack() {
  local tag=$1 attack_pid
  shift
  "$attacker" "$@" --port 8750 --seconds "$attack_seconds" >"$work/$tag.attack" 2>&1 &
  attack_pid=$!
  sleep 2
  "$generator" --port 8750 --desktops "$desktops" --programs 100000 --run "$tag" --limit $((attack_seconds - 4)) \
    >"$work/$tag.figures" 2>&1
  timeout $((attack_seconds + 30)) tail --pid="$attack_pid" -f /dev/null
  echo "$tag: $(grep -h '^kind=' "$work/$tag.figures" | tr '\n' ' '); attacker: $(tr '\n' ' ' <"$work/$tag.attack")"
}
# answered TAG: "yes" when at least 99.9% of the desktops' requests were answered.
answered() {
  awk '/^kind=(exist|upload) / { split($0, f, /[ =]/); for (i = 1; i < length(f); i += 2) v[f[i]] = f[i + 1]
    requests += v["requests"]; errors += v["errors"] }
    END { print (requests > 0 && errors * 1000 <= requests) ? "yes" : "no: " errors " of " requests " failed" }' "$work/$1.figures"
}
errors_before=$(grep -c '' "$deployment/nginx/error.log")
new_nginx_errors() { tail -n +$((errors_before + 1)) "$deployment/nginx/error.log" | grep -c "$1"; }

# (a) One client holding 4,500 partial heads, more than one worker's connections of the old
# deployment (4,096), reopening each one nginx ends.
under_attack heads heads --from 127.0.0.2 --clients 4500
check "4,500 partial heads: the desktops' requests answered (99.9%)" yes "$(answered heads)"
check "4,500 partial heads: nginx ended them within its header timeout" 1 \
  "$(sed -n 's/.*ended_by_server=\([0-9]*\).*/\1/p' "$work/heads.attack" | awk '{ print ($1 >= 4500) ? 1 : 0 }')"
check "4,500 partial heads: no \"worker_connections are not enough\"" 0 "$(new_nginx_errors 'worker_connections are not enough')"

# (b) 20,000 rows, 30 clients on the last 10 pages of the gallery.
errors_before=$(grep -c '' "$deployment/nginx/error.log")
php "$root/bench/iconservice_gallery_fill.php" "$dsn" talvenook 20000 10 >"$work/pages" || exit 1
gallery_paths=()
while read -r page; do gallery_paths+=(--path "$page"); done <"$work/pages"
desktop_lines=$(cat "$deployment"/node*/access.log | wc -l)
under_attack gallery fetch --from 127.0.0.2 --clients 30 "${gallery_paths[@]}"
check "gallery crowd: no desktop request failed" "0 0" "$(errors_of exist gallery) $(errors_of upload gallery)"
check "gallery crowd: served by the gallery pools" 1 "$([ "$(cat "$deployment"/node*/gallery-access.log | grep -c 'sw/gallery')" -gt 0 ] && echo 1)"
check "gallery crowd: no gallery request in the desktops' pools" 0 \
  "$(cat "$deployment"/node*/access.log | tail -n +$((desktop_lines + 1)) | grep -c -v -e 'sw/exist' -e 'sw/upload' -e 'sw/health')"
check "gallery crowd: no node taken out of an upstream" 0 "$(new_nginx_errors 'temporarily disabled\|no live upstreams')"
last_page=$(tail -n 1 "$work/pages")
php -r 'require $argv[1]; $http = new IconService\Tests\RawHttp("127.0.0.1", 8750);
  $first = $http->get("/index.php?r=sw/gallery")["body"]; $last = $http->get($argv[2])["body"];
  preg_match("#rel=\"next\" href=\"([^\"]*)\"#", $first, $next);
  echo json_encode([$next[1] ?? null, substr_count($last, "<img "), str_contains($last, ">Gallery program 0<"), str_contains($last, "rel=\"next\"")]);' \
  "$root/tests/iconservice/bootstrap.php" "$last_page" >"$work/pages.check"
check "gallery: the first page links to the next by key, the last page by its key shows the oldest 60" \
  '[true,60,true,false]' "$(php -r '$c = json_decode(file_get_contents($argv[1]), true);
    echo json_encode([preg_match("#^index\.php\?r=sw/gallery&amp;before=[0-9]+-[0-9]+$#", (string) $c[0]) === 1, $c[1], $c[2], $c[3]]);' "$work/pages.check")"

# (c) 300 clients each holding a 1 MB upload body stalled, over three addresses; nginx's memory
# sampled every half second. The old deployment held each body in memory (about 330 MB in all);
# here each costs a 16 KB buffer, beside what the partial heads above left in the workers' heaps.
errors_before=$(grep -c '' "$deployment/nginx/error.log")
(for _ in $(seq $((attack_seconds * 2))); do nginx_resident_kb "$deployment"; sleep 0.5; done) >"$work/rss" &
under_attack bodies bodies --from 127.0.1.1 --addresses 3 --clients 300
peak=$(sort -n "$work/rss" | tail -n 1)
echo "stalled bodies: nginx's resident size at most $((peak / 1024)) MB (master and workers summed, sampled every 0.5 s)"
check "300 stalled 1 MB bodies: nginx under 160 MB" 1 "$([ "$peak" -lt 163840 ] && echo 1)"
check "300 stalled 1 MB bodies: the desktops' requests answered (99.9%)" yes "$(answered bodies)"

# (e) Who may write: an existence query and an upload from 127.0.0.2, outside the networks;
# the removal command takes one row, and its icon when no other row names it.
refused='403 {"success":false,"error":"this network may not send icons"}'
check "an existence query from outside the writer networks" "$refused" "$(request 127.0.0.2 exist Outside 1)"
check "an upload from outside the writer networks" "$refused" "$(request 127.0.0.2 upload Outside 1 5)"
check "nothing stored from outside" 0 "$(psql_icons "SELECT COUNT(*) FROM talvenook_icons WHERE name = 'Outside'")"
for row in "Wrong|1|5" "Shared|1|6" "Shares|1|6"; do
  IFS='|' read -r name version seed <<<"$row"
  request 127.0.0.1 upload "$name" "$version" "$seed" >/dev/null
done
remove() {
  TALVENOOK_ICONSERVICE_DSN="$dsn" TALVENOOK_ICONSERVICE_DB_USER=talvenook TALVENOOK_ICONSERVICE_DATA="$deployment/data" \
    php "$root/iconservice/remove.php" "$@" | sed 's/icon [0-9a-f]\{64\} ([0-9]* bytes)/icon DIGEST/'
  echo "exit ${PIPESTATUS[0]}"
}
blobs() { psql_icons "SELECT COUNT(*) FROM talvenook_icon_blobs"; }
before=$(blobs)
check "remove.php of a row whose icon no other row names" \
  "removed \"Wrong\" version \"1\": icon DIGEST, its bytes too (no other row named them) exit 0" "$(remove Wrong 1 | tr '\n' ' ' | sed 's/ $//')"
check "and its icon is gone" $((before - 1)) "$(blobs)"
check "remove.php of a row whose icon another row names" \
  "removed \"Shared\" version \"1\": icon DIGEST, its bytes kept (another row names them) exit 0" "$(remove Shared 1 | tr '\n' ' ' | sed 's/ $//')"
check "and its icon stays" $((before - 1)) "$(blobs)"
check "remove.php of a row that is not stored" 'nothing to remove: no icon is stored for "Wrong" version "1" exit 1' \
  "$(remove Wrong 1 | tr '\n' ' ' | sed 's/ $//')"
check "the removed name is wanted again" '200 {"success":true,"exist":false}' "$(request 127.0.0.1 exist Wrong 1)"

report production
