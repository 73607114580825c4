#!/usr/bin/env bash
# make demo: sample software and catalogue beside a copy of talvenook in demo/, the reference
# icon service on 127.0.0.1:8750 (the program's default service address), one upload pass, and
# a summary. Stops the service when it ends (at once when not run from a terminal).
# When `make serve` runs (the production deployment in SERVE_DIR, default iconservice/run/, on
# 127.0.0.1:8750), the pass goes to it instead, and the samples that service holds already are
# counted as such (the program leaves those rows pending).
# Environment: BUILD (build folder, default build), DEMO (demo folder, default demo), SERVE_DIR.
set -uo pipefail
shopt -s nullglob

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && realpath -m "${BUILD:-build}")
demo=$(cd "$root" && realpath -m "${DEMO:-demo}")
port=8750
gallery="http://127.0.0.1:$port/index.php?r=sw/gallery"
# shellcheck source=service_control.sh
source "$root/tools/service_control.sh"

program="$build/app/talvenook"
generator="$build/tests/iconservice/make_sample_pe"
for needed in "$program" "$generator"; do
  if [ ! -x "$needed" ]; then
    echo "demo: $needed is missing; run 'make build' first (the generator needs TALVENOOK_TESTS=ON)" >&2
    exit 1
  fi
done

serve_dir=$(realpath -m "${SERVE_DIR:-$root/iconservice/run}")
production=
if [ -f "$serve_dir/running" ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  production=$serve_dir
  psql=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)/psql
  served() { "$psql" -h "$production/pg" -U talvenook -d talvenook_icons -Atq -c "$1"; }
fi

trap stop_icon_service EXIT
rm -rf "$demo"
mkdir -p "$demo/run"
cp "$program" "$demo/talvenook"
pending=$("$root/tools/sample_catalogue.sh" "$demo" "$generator") || exit 1
catalogue="$demo/DB/REDU.sqlite"
held=0
if [ -n "$production" ]; then
  echo "demo: using the production deployment of $production"
  names=$(sqlite3 "$catalogue" "SELECT group_concat(quote(softname), ',') FROM software_data WHERE ID < 100")
  held=$(served "SELECT COUNT(*) FROM talvenook_icons WHERE name IN ($names)")
else
  start_icon_service "$port" "$demo/service-data" "$demo/service.log" || exit 1
fi

echo "demo: running $demo/talvenook against $gallery"
start=$(date +%s.%N)
(cd "$demo" && XDG_RUNTIME_DIR="$demo/run" timeout -k 5 300 ./talvenook) 2>"$demo/talvenook.log"
exit_code=$?
seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')

marked=$(sqlite3 "$catalogue" "SELECT COUNT(*) FROM software_data WHERE ID < 100 AND pin = '1'")
left=$(sqlite3 "$catalogue" "SELECT COUNT(*) FROM software_data WHERE pin = '0' AND exticon = '1'")
written=$(find "$demo/image" -maxdepth 1 -name '*.ico' 2>/dev/null | wc -l)
if [ -n "$production" ]; then
  uploaded=$(( $(served "SELECT COUNT(*) FROM talvenook_icons WHERE name IN ($names)") - held ))
else
  uploaded=$(sqlite3 "$demo/service-data/icons.sqlite" "SELECT COUNT(*) FROM talvenook_icons" 2>/dev/null || echo 0)
fi
# Every icon the program wrote should be stored by the service byte for byte.
same=0
for ico in "$demo"/image/*.ico; do
  [ -f "$ico" ] || continue
  digest=$(sha256sum "$ico" | cut -d' ' -f1)
  if [ -n "$production" ]; then
    [ "$(served "SELECT encode(icon, 'hex') FROM talvenook_icon_blobs WHERE icon_sha256 = '$digest'")" \
      = "$(od -An -v -tx1 "$ico" | tr -d ' \n')" ] && same=$((same + 1))
  else
    sqlite3 "$demo/service-data/icons.sqlite" \
      "SELECT writefile('$demo/stored.ico', icon) FROM talvenook_icon_blobs WHERE icon_sha256 = '$digest'" >/dev/null 2>&1 \
      && cmp -s "$ico" "$demo/stored.ico" && same=$((same + 1))
    rm -f "$demo/stored.ico"
  fi
done
screenshot="$demo/gallery.png"
screenshot_page "$gallery" "$screenshot" || screenshot="(no screenshot: chromium failed)"

cat <<SUMMARY

Talvenook demo
  catalogue          $catalogue
  rows found         $pending pending (pin '0', exticon '1')
  icons written      $written in $demo/image/
  uploaded           $uploaded stored by the service ($same of the written icons byte for byte)${production:+; $held held by it before the pass}
  service            ${production:-php -S on 127.0.0.1:$port}
  rows marked        $marked of $pending (still pending: $left)
  program            exit code $exit_code after ${seconds}s; debug lines in $demo/talvenook.log
  gallery            $gallery
  screenshot         $screenshot
SUMMARY

if [ -z "$production" ] && [ -t 0 ] && [ -t 1 ]; then
  read -r -t 900 -p "The gallery is served at the address above; press Enter to stop the service. " || true
  echo
fi
stop_icon_service
if [ "$marked" != $((pending - held)) ] || [ "$uploaded" != $((pending - held)) ]; then
  echo "demo: not every sample row went through; see $demo/talvenook.log and $demo/service.log" >&2
  exit 1
fi
echo "demo: every sample row uploaded and marked"
