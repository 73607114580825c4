# Starting and stopping the reference icon service under php -S, for tools/demo.sh and the
# end-to-end test. Source this file; it defines:
#   start_icon_service PORT DATA_FOLDER LOG [ROUTER]   sets SERVICE_PID; fails when PORT is taken
#                                                      or the server does not listen within 10 s
#   stop_icon_service                                  stops the server and its workers by id
# Only 127.0.0.1 is used.

tools_folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SERVICE_ROOT="$tools_folder/../iconservice"
SERVICE_PID=

port_is_open() {
  php -r 'exit(@fsockopen("127.0.0.1", (int) $argv[1], $n, $e, 1) ? 0 : 1);' "$1"
}

start_icon_service() {
  local port=$1 data=$2 log=$3 router=${4:-}
  if port_is_open "$port"; then
    echo "port $port on 127.0.0.1 is already in use; stop what listens there first" >&2
    return 1
  fi
  mkdir -p "$data"
  TALVENOOK_ICONSERVICE_DATA="$data" PHP_CLI_SERVER_WORKERS=${PHP_CLI_SERVER_WORKERS:-2} \
    php -S "127.0.0.1:$port" -t "$SERVICE_ROOT" ${router:+"$router"} >"$log" 2>&1 </dev/null &
  SERVICE_PID=$!
  for _ in $(seq 100); do
    port_is_open "$port" && return 0
    kill -0 "$SERVICE_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "the icon service did not start; its log:" >&2
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
