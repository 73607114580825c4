# shellcheck shell=bash disable=SC2034  # SERVICE_PID, SERVICE_PORT are read by the sourcing script
# Starting and stopping the reference icon service, for tools/demo.sh, the load benchmark, the
# end-to-end and production tests, and `make serve`.
#
# Production mode: `tools/service_control.sh production [DIR]` (make serve) starts the service as
# deployed (tools/production_service.sh: PostgreSQL, NODES php-fpm nodes, nginx on
# 127.0.0.1:8750) in DIR (default SERVE_DIR, else iconservice/run/, which keeps its database
# from one start to the next), prints the gallery's address and serves until Enter, Ctrl-C, or
# the end of the process that started it; then stops everything it started.
# Sourced, the same as functions:
#   start_production_service DIR    starts the deployment in DIR (settings from the environment,
#                                   see tools/production_service.sh) with a watchdog that stops
#                                   it when this shell ends; sets PRODUCTION_DIR and SERVICE_PORT
#   stop_production_service         stops it
#   nginx_resident_kb DIR           the resident size (VmRSS) of the deployment's nginx master and
#                                   workers, summed, in KB
#
# php -S mode. Source this file; it defines:
#   start_icon_service PORT DATA_FOLDER LOG [ROUTER]   runs the service's set-up, then serves its
#                                                      document root iconservice/public on PORT;
#                                                      PORT 0 lets the server take a free port
#                                                      itself. Sets SERVICE_PID and SERVICE_PORT.
#                                                      Fails when the set-up refuses (e.g. a data
#                                                      folder inside the document root), PORT is
#                                                      taken, or the server does not start in 10 s.
#   stop_icon_service                                  stops the server and its workers by id
# Only 127.0.0.1 is used.

tools_folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SERVICE_ROOT=$(cd "$tools_folder/../iconservice" && pwd)
SERVICE_PID=
SERVICE_PORT=

start_icon_service() {
  local port=$1 data=$2 log=$3 router=${4:-} line
  TALVENOOK_ICONSERVICE_DATA="$data" php "$SERVICE_ROOT/setup.php" "$SERVICE_ROOT/public" >"$log" 2>&1 \
    || { cat "$log" >&2; return 1; }
  TALVENOOK_ICONSERVICE_DATA="$data" PHP_CLI_SERVER_WORKERS=${PHP_CLI_SERVER_WORKERS:-2} \
    php -S "127.0.0.1:$port" -t "$SERVICE_ROOT/public" ${router:+"$router"} >>"$log" 2>&1 </dev/null &
  SERVICE_PID=$!
  # The server names the address it listens on once it does: "... (http://127.0.0.1:PORT) started".
  for _ in $(seq 100); do
    line=$(grep -m 1 -o 'Development Server (http://127\.0\.0\.1:[0-9]*) started' "$log")
    if [ -n "$line" ]; then
      SERVICE_PORT=${line##*:}
      SERVICE_PORT=${SERVICE_PORT%%)*}
      return 0
    fi
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the icon service did not start on 127.0.0.1:$port; its log:" >&2
  cat "$log" >&2
  stop_icon_service
  return 1
}

stop_icon_service() {
  [ -n "$SERVICE_PID" ] || return 0
  local child
  for child in $(cat "/proc/$SERVICE_PID/task/$SERVICE_PID/children" 2>/dev/null); do
    kill "$child" 2>/dev/null || true
  done
  kill "$SERVICE_PID" 2>/dev/null || true
  wait "$SERVICE_PID" 2>/dev/null || true
  SERVICE_PID=
  SERVICE_PORT=
}

PRODUCTION_DIR=

start_production_service() {
  local dir
  dir=$(realpath -m "$1")
  "$tools_folder/production_service.sh" start "$dir" || return 1
  PRODUCTION_DIR=$dir
  SERVICE_PORT=$(sed -n 's/^PORT=//p' "$dir/deployment.env")
  # Stops the deployment when this shell ends without stopping it (killed, or its parent gone).
  setsid "$tools_folder/production_service.sh" watch "$dir" "$$" </dev/null >/dev/null 2>&1 &
}

stop_production_service() {
  [ -n "$PRODUCTION_DIR" ] || return 0
  "$tools_folder/production_service.sh" stop "$PRODUCTION_DIR"
  PRODUCTION_DIR=
  SERVICE_PORT=
}

nginx_resident_kb() {
  local master pid total=0
  master=$(cat "$1/nginx/master.pid")
  for pid in "$master" $(cat "/proc/$master/task/$master/children" 2>/dev/null); do
    # A process that has just ended has no VmRSS line (or no status file): it counts 0.
    total=$((total + $(awk '/^VmRSS:/ { kb = $2 } END { print kb + 0 }' "/proc/$pid/status" 2>/dev/null)))
  done
  echo "$total"
}

# Takes a PNG screenshot of URL into FILE with headless Chromium (fresh profile, no network
# besides the page). Returns non-zero when Chromium is missing or fails.
screenshot_page() {
  local url=$1 file=$2 profile
  command -v chromium >/dev/null || { echo "chromium is not installed" >&2; return 1; }
  profile=$(mktemp -d /tmp/talvenook-chromium.XXXXXX)
  HOME="$profile" timeout -k 5 90 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
    --disable-dev-shm-usage --user-data-dir="$profile" --window-size=1000,620 --screenshot="$file" "$url" \
    >/dev/null 2>&1
  local status=$?
  rm -rf "$profile"
  return $status
}

# Executed rather than sourced: `tools/service_control.sh production [DIR]`.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  if [ "${1:-}" != production ]; then
    echo "usage: $0 production [DIR]   (or source it for its functions)" >&2
    exit 2
  fi
  serve_dir=${2:-${SERVE_DIR:-$SERVICE_ROOT/run}}
  trap 'stop_production_service; exit 0' INT TERM HUP
  start_production_service "$serve_dir" || exit 1
  parent=$PPID
  if [ -t 0 ]; then
    echo "Serving; press Enter (or Ctrl-C) to stop."
    read -r || true
  else
    # No terminal: serve until the process that started this one ends.
    while kill -0 "$parent" 2>/dev/null; do sleep 1; done
  fi
  stop_production_service
fi
