# shellcheck shell=bash disable=SC2034  # SERVICE_PID, SERVICE_PORT are read by the sourcing script
# Starting and stopping the reference icon service under php -S, for tools/demo.sh, the load
# benchmark and the end-to-end test. Source this file; it defines:
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
