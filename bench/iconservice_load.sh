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
# During each run the CPU time of nginx, the PHP processes, PostgreSQL and the generator is taken
# (bench/iconservice_load_cpu.php) and printed as shares of the machine's cores, beside what the
# rest of the machine used: on 2 cores this says what bounds the throughput.
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

# start_config NAME: brings the configuration up; sets target_port, dsn, db_user and parts (the
# pid files of nginx, the PHP processes and PostgreSQL for bench/iconservice_load_cpu.php).
start_config() {
  local name=$1 storage=pgsql nodes=2 persistent=1 pooler=none docroot= n nodes_pids=
  db_user=talvenook
  case "$name" in
    php-s-sqlite)
      PHP_CLI_SERVER_WORKERS=${PHP_S_WORKERS:-4} start_icon_service 0 "$work/$name/data" "$work/$name.log" || return 1
      target_port=$SERVICE_PORT dsn="sqlite:$work/$name/data/icons.sqlite" db_user=
      echo "$SERVICE_PID" >"$work/$name.pid"
      parts=(nginx= "php=$work/$name.pid" postgres=)
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
  for n in $(seq "$nodes"); do nodes_pids+="${nodes_pids:+,}$deployment/node$n/master.pid"; done
  parts=("nginx=$deployment/nginx/master.pid" "php=$nodes_pids" "postgres=$deployment/pg/data/postmaster.pid")
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

# cpu_shares BEFORE AFTER GENERATOR_SECONDS REQUESTS: the shares of the machine's cores that
# nginx, PHP, PostgreSQL, the generator and everything else used between the two readings, what
# stayed idle (percent), and the CPU time that nginx, PHP, PostgreSQL and the generator spent
# per request (microseconds; the least touched by other work on the machine), as
# "nginx=9 php=30 postgres=27 generator=7 others=27 idle=0 per_request_us=740".
cpu_shares() {
  awk -v before="$1" -v after="$2" -v generator="${3:-0}" -v requests="${4:-0}" -v cores="$(nproc)" 'BEGIN {
    n = split(before, b, /[ =]/); split(after, a, /[ =]/)
    wall = a[n] - b[n]; capacity = wall * cores * 100; ours = 0
    for (i = 1; i < n - 1; i += 2) { used[b[i]] = (a[i + 1] - b[i + 1]) / capacity * 100; if (b[i] != "machine") ours += used[b[i]] }
    gen = generator * 100 / (wall * cores)
    others = used["machine"] - ours - gen; if (others < 0) others = 0
    idle = 100 - used["machine"]; if (idle < 0) idle = 0
    per_request = requests > 0 ? (ours + gen) * capacity * 100 / requests : 0
    printf "nginx=%.0f php=%.0f postgres=%.0f generator=%.0f others=%.0f idle=%.0f per_request_us=%.0f\n", \
      used["nginx"], used["php"], used["postgres"], gen, others, idle, per_request
  }'
}
share() { sed -n "s/.*$1=\([0-9]*\).*/\1/p" "$2"; }

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
  cpu_before=$(php "$root/bench/iconservice_load_cpu.php" "${parts[@]}")
  timeout $((limit + 60)) "$generator" --port "$target_port" --desktops "$desktops" --programs "$programs" \
    --limit "$limit" --uploads "$work/$name.uploads" >"$work/$name.figures" 2>&1
  cpu_after=$(php "$root/bench/iconservice_load_cpu.php" "${parts[@]}")
  cpu_shares "$cpu_before" "$cpu_after" "$(sed -n 's/^generator_cpu_s=\([0-9.]*\).*/\1/p' "$work/$name.figures")" \
    "$(sed -n 's/^kind=all requests=\([0-9]*\).*/\1/p' "$work/$name.figures")" >"$work/$name.cpu"
  if [ "$name" = floor ]; then
    echo "check: (no storage)" >"$work/$name.check"
  else
    php "$root/bench/iconservice_load_check.php" "$work/$name.uploads" "$dsn" $db_user >"$work/$name.check" 2>&1 || status=1
  fi
  stop_config
  echo "--- $name"
  cat "$work/$name.figures" "$work/$name.check"
  echo "cpu (percent of $(nproc) cores): $(cat "$work/$name.cpu")"
done

echo
echo "| configuration | exist req/s | exist p50 / p95 / p99 ms | exist errors | upload req/s | upload p50 / p95 / p99 ms | upload errors | all req/s | lost / doubled |"
echo "|---|---|---|---|---|---|---|---|---|"
for name in $configs; do
  f="$work/$name.figures"
  [ -f "$f" ] || continue
  check=$(sed -n 's/.*lost \([0-9]*\), doubled \([0-9]*\).*/\1 \/ \2/p' "$work/$name.check")
  printf '| %s | %s | %s / %s / %s | %s | %s | %s / %s / %s | %s | %s | %s |\n' "$name" \
    "$(field exist per_second "$f")" "$(field exist p50_ms "$f")" "$(field exist p95_ms "$f")" "$(field exist p99_ms "$f")" \
    "$(field exist errors "$f")" \
    "$(field upload per_second "$f")" "$(field upload p50_ms "$f")" "$(field upload p95_ms "$f")" "$(field upload p99_ms "$f")" \
    "$(field upload errors "$f")" "$(field all per_second "$f")" "${check:--}"
done
echo
echo "CPU during each run, percent of the machine's $(nproc) cores (others: processes of no configuration, e.g. builds):"
echo
echo "| configuration | nginx | PHP | PostgreSQL | generator | others | idle | CPU us per request |"
echo "|---|---|---|---|---|---|---|---|"
for name in $configs; do
  c="$work/$name.cpu"
  [ -f "$c" ] || continue
  printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$(share nginx "$c")" "$(share php "$c")" "$(share postgres "$c")" \
    "$(share generator "$c")" "$(share others "$c")" "$(share idle "$c")" "$(share per_request_us "$c")"
done
echo
ratio() {  # ratio KIND FIELD A B: B's figure over A's
  awk -v a="$(field "$1" "$2" "$work/$3.figures")" -v b="$(field "$1" "$2" "$work/$4.figures")" \
    'BEGIN { if (a > 0) printf "%.2f", b / a; else printf "-" }'
}
if [ -f "$work/floor.figures" ] && [ -f "$work/fpm-pgsql-2.figures" ]; then
  echo "fpm-pgsql-2 against the floor: existence queries $(ratio exist per_second floor fpm-pgsql-2)," \
    "uploads $(ratio upload per_second floor fpm-pgsql-2) (targets: 0.50 and 0.25)"
fi
if [ -f "$work/fpm-pgsql-1.figures" ] && [ -f "$work/fpm-pgsql-2.figures" ]; then
  echo "1 -> 2 nodes: existence queries $(ratio exist per_second fpm-pgsql-1 fpm-pgsql-2)x, uploads" \
    "$(ratio upload per_second fpm-pgsql-1 fpm-pgsql-2)x, all requests $(ratio all per_second fpm-pgsql-1 fpm-pgsql-2)x"
fi

if [ "${GALLERY:-0}" = 1 ]; then
  echo
  deployment="$work/gallery"
  NODES=2 PORT=$port "$root/tools/production_service.sh" start "$deployment" >"$work/gallery.log" || { cat "$work/gallery.log"; exit 1; }
  php "$root/bench/iconservice_load_gallery.php" "pgsql:host=$deployment/pg;dbname=talvenook_icons" talvenook "$port" 10000 || status=1
  stop_config
fi
exit $status
