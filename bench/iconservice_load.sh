#!/usr/bin/env bash
# Load test of the icon service as a Monday morning sees it: DESKTOPS simulated desktops at once,
# each playing the program's exact requests for PROGRAMS programs (an existence query each, an
# upload for each icon wanted, a fresh connection per request; most programs shared between
# desktops), by bench/iconservice_load (C++, built here). Configurations side by side, each on
# a fresh deployment, one after the other in this run:
#   php-s-sqlite    today's php -S (PHP_S_WORKERS workers) with SQLite
#   fpm-sqlite      nginx + one php-fpm node + SQLite
#   fpm-pgsql-1     nginx + one php-fpm node + PostgreSQL
#   fpm-pgsql-2     nginx + two php-fpm nodes + PostgreSQL (the production deployment)
#   floor           nginx + two php-fpm nodes answering a fixed JSON text from a one-line PHP file
# and, for the connection question: fpm-pgsql-2-fresh (a new PostgreSQL connection per request)
# and fpm-pgsql-2-pgbouncer (fresh connections through pgbouncer; needs the pgbouncer package).
# After each run the database is checked: every upload answered {"success":true} stored once
# with its bytes, nothing doubled (bench/iconservice_load_check.php).
# GALLERY=1 adds the gallery's timing with 10,000 icons (a page, then its icons twice: the second
# visit must get 304 for every icon).
#
# Environment: DESKTOPS (64), PROGRAMS (200), CONFIGS (the five above), WORKERS per php-fpm node
# (6), PHP_S_WORKERS (4), LOAD_PORT (8760), BUILD (build folder for the generator, default build),
# LIMIT (seconds a run may take, 300). Only 127.0.0.1 is contacted; everything started is
# stopped on every exit path.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
desktops=${DESKTOPS:-64}
programs=${PROGRAMS:-200}
configs=${CONFIGS:-php-s-sqlite fpm-sqlite fpm-pgsql-1 fpm-pgsql-2 floor}
port=${LOAD_PORT:-8760}
limit=${LIMIT:-300}
export WORKERS=${WORKERS:-6}
# shellcheck source=../tools/service_control.sh
source "$root/tools/service_control.sh"

generator="$build/iconservice_load/iconservice_load"
cmake -S "$root/bench/iconservice_load" -B "$build/iconservice_load" >/dev/null \
  && cmake --build "$build/iconservice_load" >/dev/null || { echo "iconservice_load: the generator did not build" >&2; exit 1; }

work=$(mktemp -d /tmp/talvenook-load.XXXXXX)
chmod 755 "$work"
deployment=
finish() {
  stop_icon_service
  [ -n "$deployment" ] && "$root/tools/production_service.sh" stop "$deployment"
  rm -rf "$work"
}
trap finish EXIT

# start_config NAME: brings the configuration up; sets target_port, dsn and db_user.
start_config() {
  local name=$1 storage=pgsql nodes=2 persistent=1 pooler=none docroot=
  db_user=talvenook
  case "$name" in
    php-s-sqlite)
      PHP_CLI_SERVER_WORKERS=${PHP_S_WORKERS:-4} start_icon_service 0 "$work/$name/data" "$work/$name.log" || return 1
      target_port=$SERVICE_PORT dsn="sqlite:$work/$name/data/icons.sqlite" db_user=
      return 0 ;;
    fpm-sqlite) storage=sqlite nodes=1 ;;
    fpm-pgsql-1) nodes=1 ;;
    fpm-pgsql-2) ;;
    fpm-pgsql-2-fresh) persistent=0 ;;
    fpm-pgsql-2-pgbouncer) persistent=0 pooler=pgbouncer ;;
    floor)
      docroot="$work/floor"
      mkdir -p "$docroot"
      echo '<?php echo ($_GET["r"] ?? "") === "sw/upload" ? "{\"success\":true}" : "{\"success\":true,\"exist\":false}";' \
        >"$docroot/index.php" ;;
    *) echo "unknown configuration $name" >&2; return 1 ;;
  esac
  deployment="$work/$name"
  NODES=$nodes PORT=$port STORAGE=$storage PERSISTENT=$persistent POOLER=$pooler DOCROOT=$docroot \
    "$root/tools/production_service.sh" start "$deployment" >"$work/$name.log" || { cat "$work/$name.log" >&2; return 1; }
  target_port=$port
  if [ "$storage" = sqlite ]; then
    dsn="sqlite:$deployment/data/icons.sqlite" db_user=
  else
    dsn="pgsql:host=$deployment/pg;dbname=talvenook_icons"
  fi
}

stop_config() {
  stop_icon_service
  if [ -n "$deployment" ]; then
    "$root/tools/production_service.sh" stop "$deployment"
    rm -rf "$deployment"
    deployment=
  fi
}

field() { sed -n "s/.*kind=$1 .*$2=\([^ ]*\).*/\1/p" "$3"; }

echo "icon service load: $desktops desktops x $programs programs, fresh connection per request; $(nproc) cores," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%dT%H:%MZ); php-fpm nodes of $WORKERS workers"
status=0
for name in $configs; do
  if ! start_config "$name"; then
    echo "$name: did not start" >&2
    status=1
    stop_config
    continue
  fi
  timeout $((limit + 60)) "$generator" --port "$target_port" --desktops "$desktops" --programs "$programs" \
    --limit "$limit" --uploads "$work/$name.uploads" >"$work/$name.figures" 2>&1
  if [ "$name" = floor ]; then
    echo "check: (no storage)" >"$work/$name.check"
  else
    php "$root/bench/iconservice_load_check.php" "$work/$name.uploads" "$dsn" $db_user >"$work/$name.check" 2>&1 || status=1
  fi
  stop_config
  echo "--- $name"
  cat "$work/$name.figures" "$work/$name.check"
done

echo
echo "| configuration | exist req/s | exist p50 / p95 / p99 ms | upload req/s | upload p50 / p95 / p99 ms | errors | all req/s | lost / doubled |"
echo "|---|---|---|---|---|---|---|---|"
for name in $configs; do
  f="$work/$name.figures"
  [ -f "$f" ] || continue
  check=$(sed -n 's/.*lost \([0-9]*\), doubled \([0-9]*\).*/\1 \/ \2/p' "$work/$name.check")
  printf '| %s | %s | %s / %s / %s | %s | %s / %s / %s | %s | %s | %s |\n' "$name" \
    "$(field exist per_second "$f")" "$(field exist p50_ms "$f")" "$(field exist p95_ms "$f")" "$(field exist p99_ms "$f")" \
    "$(field upload per_second "$f")" "$(field upload p50_ms "$f")" "$(field upload p95_ms "$f")" "$(field upload p99_ms "$f")" \
    "$(( $(field exist errors "$f") + $(field upload errors "$f") ))" "$(field all per_second "$f")" "${check:--}"
done
if [ -f "$work/floor.figures" ] && [ -f "$work/fpm-pgsql-2.figures" ]; then
  awk -v e="$(field exist per_second "$work/fpm-pgsql-2.figures")" -v fe="$(field exist per_second "$work/floor.figures")" \
      -v u="$(field upload per_second "$work/fpm-pgsql-2.figures")" -v fu="$(field upload per_second "$work/floor.figures")" \
    'BEGIN { printf "fpm-pgsql-2 against the floor: existence queries %.0f%%, uploads %.0f%%\n", 100 * e / fe, 100 * u / fu }'
fi
if [ -f "$work/fpm-pgsql-1.figures" ] && [ -f "$work/fpm-pgsql-2.figures" ]; then
  awk -v a="$(field all per_second "$work/fpm-pgsql-1.figures")" -v b="$(field all per_second "$work/fpm-pgsql-2.figures")" \
    'BEGIN { printf "1 -> 2 nodes: %.2fx the requests per second\n", b / a }'
fi

if [ "${GALLERY:-0}" = 1 ]; then
  echo
  deployment="$work/gallery"
  NODES=2 PORT=$port "$root/tools/production_service.sh" start "$deployment" >"$work/gallery.log" || { cat "$work/gallery.log"; exit 1; }
  php "$root/bench/iconservice_load_gallery.php" "pgsql:host=$deployment/pg;dbname=talvenook_icons" talvenook "$port" 10000 || status=1
  stop_config
fi
exit $status
