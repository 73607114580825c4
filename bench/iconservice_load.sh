#!/usr/bin/env bash
# Load test of the reference icon service: CLIENTS processes upload PER_CLIENT icons each, at
# once, against php -S with WORKERS worker processes and the default SQLite storage. Of each
# client's uploads SHARED go to names that every client uploads too (contention on the unique
# key). Checks that nothing is lost and nothing is stored twice, and reports the figures.
# Bounded: every client must finish within LIMIT seconds. Only 127.0.0.1 is contacted.
set -euo pipefail

CLIENTS=${CLIENTS:-8}
PER_CLIENT=${PER_CLIENT:-500}
SHARED=${SHARED:-50}
WORKERS=${WORKERS:-4}
LIMIT=${LIMIT:-600}

root=$(cd "$(dirname "$0")/.." && pwd)
client="$root/tests/iconservice/support/upload_client.php"
work=$(mktemp -d /tmp/talvenook-load.XXXXXX)
# shellcheck source=../tools/service_control.sh
source "$root/tools/service_control.sh"
cleanup() {
  stop_icon_service
  rm -rf "$work"
}
trap cleanup EXIT

PHP_CLI_SERVER_WORKERS=$WORKERS start_icon_service 0 "$work/data" "$work/server.log" || exit 1
port=$SERVICE_PORT

unique=$((PER_CLIENT - SHARED))
echo "icon service load: $CLIENTS clients x $PER_CLIENT uploads ($unique own + $SHARED shared names), php -S with $WORKERS workers, SQLite"
start=$(date +%s.%N)
pids=()
for c in $(seq 0 $((CLIENTS - 1))); do
  timeout "$LIMIT" php "$client" "$port" "$c" "$unique" "$SHARED" >"$work/client-$c.json" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
end=$(date +%s.%N)

status=0
php "$root/bench/iconservice_load_check.php" "$work" "$CLIENTS" "$unique" "$SHARED" "$start" "$end" || status=$?
if [ "$failed" != 0 ]; then
  echo "a client failed or ran over ${LIMIT}s"; exit 1
fi
exit $status
