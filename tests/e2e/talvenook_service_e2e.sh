#!/usr/bin/env bash
# End-to-end: the real talvenook against the reference icon service under php -S.
#   1. A catalogue of sample software (spaces, "&", "+", "=", CJK, accented letters): one pass
#      marks every row; the service stores each icon byte for byte as written in image/ and each
#      name exactly as catalogued.
#   2. A second pass finds nothing pending: no request reaches the service, nothing changes.
#   3. Two new rows whose uploads the service turns down (a JSON refusal with 200, and a 400):
#      both stay pending, nothing is stored for them, the other rows stay marked.
# Usage: tests/e2e/talvenook_service_e2e.sh BUILD_FOLDER [REDIRECT_LIBRARY]
# Needs BUILD_FOLDER/app/talvenook and BUILD_FOLDER/tests/iconservice/make_sample_pe. Without
# REDIRECT_LIBRARY the service listens on 127.0.0.1:8750, the program's compiled-in address, which
# must then be free; with it (the connect-redirecting preload library of tests/e2e) the service
# gets a free port and the program's connects are sent there.
set -uo pipefail
shopt -s nullglob

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:?usage: $0 BUILD_FOLDER [REDIRECT_LIBRARY]}")
redirect=${2:-}
program="$build/app/talvenook"
generator="$build/tests/iconservice/make_sample_pe"
# shellcheck source=../../tools/service_control.sh
source "$root/tools/service_control.sh"

# shellcheck source=../support/shell_checks.sh
source "$root/tests/support/shell_checks.sh"

for needed in "$program" "$generator"; do
  [ -x "$needed" ] || { echo "missing $needed; build the project first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/talvenook-e2e.XXXXXX)
finish() {
  stop_icon_service
  rm -rf "$work"
}
trap finish EXIT

mkdir -p "$work/run"
cp "$program" "$work/talvenook"
pending=$("$root/tools/sample_catalogue.sh" "$work" "$generator") || exit 1
catalogue="$work/DB/REDU.sqlite"
store="$work/service-data/icons.sqlite"
# With the redirect the server takes a port of its own (no port is picked and released first, so
# parallel runs cannot race for it); without it the program's own address, 8750, is used.
port=8750
if [ -n "$redirect" ]; then port=0; fi
start_icon_service "$port" "$work/service-data" "$work/service.log" "$root/tests/e2e/reject_router.php" || exit 1
port=$SERVICE_PORT
preload=()
if [ -n "$redirect" ]; then
  # A sanitizer build must accept the preload library ahead of its own runtime.
  preload=(env "LD_PRELOAD=$redirect" "TALVENOOK_E2E_SERVICE_PORT=$port" "ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0")
fi

run_pass() {  # run_pass N: one pass; its debug channel goes to pass-N.log
  (cd "$work" && XDG_RUNTIME_DIR="$work/run" timeout -k 5 300 "${preload[@]}" ./talvenook) 2>"$work/pass-$1.log"
  check "pass $1 exit code" 0 $?
}
requests() { grep -c 'POST /index.php?r=sw/' "$work/service.log" || true; }
sorted_names() { sqlite3 "$1" "$2" | LC_ALL=C sort; }

# --- 1. the first pass sends every sample and marks every row
run_pass 1
check "rows marked after pass 1" "$pending" "$(sqlite3 "$catalogue" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"
check "rows left alone (already sent, no icon wanted)" "100|1|1 101|0|0" \
  "$(sqlite3 "$catalogue" "SELECT ID, pin, exticon FROM software_data WHERE ID >= 100" | tr '\n' ' ' | sed 's/ $//')"
check "icons stored by the service" "$pending" "$(sqlite3 "$store" 'SELECT COUNT(*) FROM talvenook_icons')"
check "names stored exactly as catalogued" \
  "$(sorted_names "$catalogue" "SELECT softname FROM software_data WHERE ID < 100")" \
  "$(sorted_names "$store" 'SELECT name FROM talvenook_icons')"
check "versions stored as the executables say" "0.9.1.4 1.0.3.7 2.4.1.0 3.0.0.12 5.1.0.2 8.6.2.0" \
  "$(sorted_names "$store" 'SELECT version FROM talvenook_icons' | tr '\n' ' ' | sed 's/ $//')"
check "icons written in image/" "$pending" "$(find "$work/image" -name '*.ico' | wc -l)"
for ico in "$work"/image/*.ico; do
  digest=$(sha256sum "$ico" | cut -d' ' -f1)
  check "$(basename "$ico") stored byte for byte" "$digest" \
    "$(sqlite3 "$store" "SELECT icon_sha256 FROM talvenook_icons WHERE icon_sha256 = '$digest'")"
  sqlite3 "$store" "SELECT writefile('$work/stored.ico', icon) FROM talvenook_icon_blobs WHERE icon_sha256 = '$digest'" >/dev/null
  cmp -s "$ico" "$work/stored.ico"
  check "$(basename "$ico") stored bytes identical" 0 $?
done

# --- 2. a second pass finds nothing pending
before=$(requests)
stored_before=$(sqlite3 "$store" 'SELECT id, name, version, icon_sha256, uploaded_at FROM talvenook_icons ORDER BY id')
run_pass 2
check "requests during pass 2" "$before" "$(requests)"
check "service rows unchanged by pass 2" "$stored_before" \
  "$(sqlite3 "$store" 'SELECT id, name, version, icon_sha256, uploaded_at FROM talvenook_icons ORDER BY id')"

# --- 3. uploads the service turns down leave their rows pending
aurora="$work/samples/Aurora/aurora.exe"
sqlite3 "$catalogue" "INSERT INTO software_data VALUES (200, 'Rejected By Service', '$aurora', '0', '1');
                      INSERT INTO software_data VALUES (201, 'Refused With 400', '$aurora', '0', '1');"
run_pass 3
check "turned-down rows still pending" "200|0 201|0" \
  "$(sqlite3 "$catalogue" "SELECT ID, pin FROM software_data WHERE ID >= 200 ORDER BY ID" | tr '\n' ' ' | sed 's/ $//')"
check "nothing stored for them" "$pending" "$(sqlite3 "$store" 'SELECT COUNT(*) FROM talvenook_icons')"
check "earlier rows still marked" "$pending" "$(sqlite3 "$catalogue" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")"

report talvenook_service_e2e
