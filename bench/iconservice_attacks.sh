#!/usr/bin/env bash
# The attacks on the icon service as deployed (tools/production_service.sh, as make serve runs
# it), at full size, each while bench/iconservice_load plays DESKTOPS desktops from 127.0.0.1 and
# the attacker (bench/iconservice_load/attack.cpp) plays from loopback addresses of its own:
#   heads     one client (127.0.0.2) holding HEADS partial request heads, opening again every
#             one nginx ends
#   gallery   GALLERY_ROWS stored rows and GALLERY_CLIENTS clients fetching the last 10 gallery
#             pages (from 127.0.0.2, or GALLERY_ADDRESSES addresses from 127.0.2.1), beside a
#             person's browser (one client on 127.0.0.1 on the same pages)
#   bodies    BODIES clients each holding a 1 MB upload body stalled (spread over BODY_ADDRESSES
#             addresses from 127.0.1.1, so the per-address limit lets every one in); nginx's
#             memory is the sum of the resident sizes (VmRSS) of its master and workers,
#             sampled every half second, and its largest sample is printed
#   writers   an existence query and an upload from 127.0.0.2, outside the deployment's writer
#             networks here (127.0.0.1 and the private ranges), then the removal command
#   health    the health check while PostgreSQL is stopped and after it is back
# Each attack runs ATTACK_SECONDS (60); the desktops' figures (answered share, p99) and the attacker's
# are printed per attack. Usage: bench/iconservice_attacks.sh [ATTACK...] (default all five).
# Environment: HEADS (4500), GALLERY_ROWS (1000000), GALLERY_CLIENTS (300), GALLERY_ADDRESSES
# (1), BODIES (1500), BODY_ADDRESSES (15), ATTACK_SECONDS (60), DESKTOPS (64), LOAD_PORT (8760), BUILD
# (build folder for the tools, default build). Only loopback addresses are contacted; everything
# started is stopped on every exit path. Hold /tmp/talvenook-bench.lock around a run whose
# figures are reported.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
attacks=${*:-heads gallery bodies writers health}
seconds=${ATTACK_SECONDS:-60}
port=${LOAD_PORT:-8760}
desktops=${DESKTOPS:-64}
production="$root/tools/production_service.sh"
# shellcheck source=../tools/service_control.sh
source "$root/tools/service_control.sh"
writers="127.0.0.1 ::1 10.0.0.0/8 172.16.0.0/12 192.168.0.0/16 fc00::/7"
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"

tools="$build/iconservice_load"
cmake -S "$root/bench/iconservice_load" -B "$tools" >/dev/null && cmake --build "$tools" >/dev/null \
  || { echo "iconservice_attacks: the tools did not build" >&2; exit 1; }

work=$(mktemp -d /tmp/talvenook-attacks.XXXXXX)
chmod 755 "$work"
deployment="$work/service"
attack_pid=
finish() {
  [ -n "$attack_pid" ] && kill "$attack_pid" 2>/dev/null
  "$production" stop "$deployment" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

NODES=2 PORT=$port WRITERS="$writers" "$production" start "$deployment" >"$work/start.log" || { cat "$work/start.log"; exit 1; }
dsn="pgsql:host=$deployment/pg;dbname=talvenook_icons"
psql_icons() { "$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)/psql" -h "$deployment/pg" -U talvenook -d talvenook_icons -Atqc "$1"; }

# attack TAG ARGUMENTS...: the attacker in the background for ATTACK_SECONDS; sets attack_pid.
attack() {
  local tag=$1
  shift
  "$tools/iconservice_attack" "$@" --port "$port" --seconds "$seconds" >"$work/$tag.attack" 2>&1 &
  attack_pid=$!
}

# desktops TAG: the desktops for the attack's time, less its first 2 s and last 2 s.
desktops() {
  sleep 2
  "$tools/iconservice_load" --port "$port" --desktops "$desktops" --programs 100000 --run "$1" --limit $((seconds - 4)) \
    >"$work/$1.desktops" 2>&1
  timeout $((seconds + 30)) tail --pid="$attack_pid" -f /dev/null
  attack_pid=
}

# report TAG: the desktops' figures (answered share and p99 per kind) and the attacker's lines.
report() {
  echo "--- $1"
  awk '/^kind=(exist|upload) / {
      split($0, f, /[ =]/); for (i = 1; i < length(f); i += 2) v[f[i]] = f[i + 1]
      printf "desktops %s: %d requests, %.2f%% answered, p50 %s ms, p99 %s ms%s\n", v["kind"], v["requests"],
        100 * (1 - v["errors"] / (v["requests"] > 0 ? v["requests"] : 1)), v["p50_ms"], v["p99_ms"],
        (v["errors"] > 0 ? " (" substr($0, index($0, "errors=")) ")" : "") }' "$work/$1.desktops"
  sed 's/^/attacker: /' "$work/$1.attack"
  grep -h -c 'worker_connections are not enough' "$deployment/nginx/error.log" | sed 's/^/nginx "worker_connections are not enough" lines so far: /'
}

# request FROM exist|upload|health [NAME VERSION [SEED]]: one request from address FROM
# (tests/iconservice/support/one_request.php); prints "STATUS BODY".
request() { php "$root/tests/iconservice/support/one_request.php" "$port" "$@"; }
icon_digest() { php "$root/tests/iconservice/support/one_request.php" "$port" 127.0.0.1 digest "$1"; }

echo "icon service attacks on $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%dT%H:%MZ);" \
  "$desktops desktops from 127.0.0.1, ${seconds} s each"
for name in $attacks; do
  case "$name" in
    heads)
      attack heads heads --from 127.0.0.2 --clients "${HEADS:-4500}"
      desktops heads
      report heads ;;
    gallery)
      rows=${GALLERY_ROWS:-1000000}
      start=$(date +%s)
      php "$root/bench/iconservice_gallery_fill.php" "$dsn" talvenook "$rows" 10 >"$work/pages" || exit 1
      echo "(filled $rows rows in $(( $(date +%s) - start )) s)"
      paths=()
      while read -r page; do paths+=(--path "$page"); done <"$work/pages"
      from=127.0.0.2
      [ "${GALLERY_ADDRESSES:-1}" -gt 1 ] && from=127.0.2.1
      attack gallery fetch --from "$from" --addresses "${GALLERY_ADDRESSES:-1}" --clients "${GALLERY_CLIENTS:-300}" "${paths[@]}"
      "$tools/iconservice_attack" fetch --from 127.0.0.1 --clients 1 --port "$port" --seconds $((seconds - 2)) "${paths[@]}" \
        >"$work/person" 2>&1 &
      desktops gallery
      report gallery
      sed 's/^/a person on the same pages: /' "$work/person" ;;
    bodies)
      attack bodies bodies --from 127.0.1.1 --addresses "${BODY_ADDRESSES:-15}" --clients "${BODIES:-1500}"
      (while kill -0 "$attack_pid" 2>/dev/null; do nginx_resident_kb "$deployment"; sleep 0.5; done) >"$work/rss" &
      desktops bodies
      report bodies
      sort -n "$work/rss" | tail -n 1 | awk '{ printf "nginx resident size, master and workers summed, largest of the half-second samples: %.1f MB\n", $1 / 1024 }' ;;
    writers)
      echo "--- writers"
      for row in "127.0.0.2|Outside App|1.0|9" "127.0.0.1|Wrong App|1.0|3" "127.0.0.1|Right App|1.0|3" "127.0.0.1|Own App|2.0|4"; do
        IFS='|' read -r from name version seed <<<"$row"
        echo "from $from, \"$name\" $version: $(request "$from" exist "$name" "$version"), then $(request "$from" upload "$name" "$version" "$seed")"
      done
      for row in "Wrong App|1.0" "Own App|2.0" "Own App|2.0"; do
        IFS='|' read -r name version <<<"$row"
        echo "remove.php \"$name\" \"$version\": $(TALVENOOK_ICONSERVICE_DSN="$dsn" TALVENOOK_ICONSERVICE_DB_USER=talvenook \
          TALVENOOK_ICONSERVICE_DATA="$deployment/data" php "$root/iconservice/remove.php" "$name" "$version" | tr -d '\n'; echo " (exit ${PIPESTATUS[0]})")"
      done
      echo "rows left: $(psql_icons "SELECT string_agg(name, ', ' ORDER BY name) FROM talvenook_icons WHERE name LIKE '% App'");" \
        "the shared icon stored: $(psql_icons "SELECT COUNT(*) FROM talvenook_icon_blobs WHERE icon_sha256 = '$(icon_digest 3)'")," \
        "Own App's icon stored: $(psql_icons "SELECT COUNT(*) FROM talvenook_icon_blobs WHERE icon_sha256 = '$(icon_digest 4)'")" ;;
    health)
      echo "--- health"
      masters=$(cat "$deployment"/node*/master.pid | tr '\n' ' ')
      health() { request 127.0.0.1 health; }
      echo "PostgreSQL up: $(health)"
      "$production" stop-db "$deployment"
      echo "PostgreSQL stopped: $(health)"
      "$production" start-db "$deployment" >/dev/null
      echo "PostgreSQL back: $(health)"
      echo "php-fpm masters the same: $([ "$masters" = "$(cat "$deployment"/node*/master.pid | tr '\n' ' ')" ] && echo yes || echo no)" ;;
    *) echo "unknown attack $name" >&2; exit 2 ;;
  esac
done
