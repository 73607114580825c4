#!/usr/bin/env bash
# Two builds of the Linux program, side by side on the same catalogue, against the same recording
# service: what they leave must be the same bytes. Compared are the ICO files, the catalogue's rows
# afterwards, every request as it came over the wire (with the multipart boundary, which is made
# from the clock, put in a fixed form), and the debug lines (with the boundary likewise).
# The catalogue holds the generated sample executables of every icon kind (tools/sample_catalogue.sh)
# and, where Wine is installed, Wine's own programs and libraries, so real-world resources are in
# the set.
# Usage: tools/ab_outputs.sh BASE_PROGRAM NEW_PROGRAM [BUILD]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(realpath "$1")
new=$(realpath "$2")
build=$(cd "$root" && realpath -m "${3:-${BUILD:-build}}")
work=$(mktemp -d /tmp/talvenook-ab.XXXXXX)
trap 'kill "${server:-}" 2>/dev/null || true; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

# The executables: the samples, then Wine's programs and libraries wherever they are installed.
generator=$(find "$build" -name make_sample_pe -type f -perm -u+x | head -1)
[ -n "$generator" ] || { echo "ab_outputs: no make_sample_pe in $build" >&2; exit 1; }
"$root/tools/sample_catalogue.sh" "$work/samples" "$generator" > /dev/null
find "$work/samples/samples" -name '*.exe' | sort > "$work/list"
for wine in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/i386-linux-gnu/wine/i386-windows \
            /usr/lib/wine/x86_64-windows /usr/lib/wine/i386-windows; do
  if [ -d "$wine" ]; then find "$wine" -maxdepth 1 \( -name '*.exe' -o -name '*.dll' \) | sort; fi
done >> "$work/list"

make_run() {  # folder program
  mkdir -p "$1/DB"
  cp "$2" "$1/talvenook"
  python3 - "$1/DB/REDU.sqlite" "$work/list" <<'EOF'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, exticon TEXT)")
for n, path in enumerate(open(sys.argv[2]).read().split("\n")[:-1]):
    db.execute("INSERT INTO software_data (softname, exepath, pin, exticon) VALUES (?, ?, '0', '1')",
               ("Program %d & Co. \u00e9" % n, path))
db.commit()
EOF
}

run_with_recorder() {  # folder
  python3 - "$1/wire" <<'EOF' &
import socket, sys
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 8750))
listener.listen(16)
out = open(sys.argv[1], "wb")
while True:
    connection, _ = listener.accept()
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(65536)
        if not chunk:
            break
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    while len(body) < length:
        chunk = connection.recv(65536)
        if not chunk:
            break
        body += chunk
    out.write(head + b"\r\n\r\n" + body + b"\n=====\n")
    out.flush()
    reply = b'{"success":true,"exist":false}'
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                       b"Connection: close\r\n\r\n%s" % (len(reply), reply))
    connection.close()
EOF
  server=$!
  # The recorder opens its file once it listens; a busy machine may take a while to get there.
  for _ in $(seq 300); do [ -e "$1/wire" ] && break; sleep 0.1; done
  [ -e "$1/wire" ] || { echo "ab_outputs: the recorder did not start (is 127.0.0.1:8750 taken?)" >&2; exit 1; }
  (cd "$1" && XDG_RUNTIME_DIR="$work" ./talvenook 2> "$1/debug")
  kill "$server"; wait "$server" 2>/dev/null || true
  sqlite3 "$1/DB/REDU.sqlite" "SELECT ID, softname, exepath, pin, exticon FROM software_data ORDER BY ID" > "$1/rows"
  # The run's own folder appears in file names (and so in lengths); both runs use one of the same length.
  sed -i -E -e 's/-{8}[0-9]{15}/--------BOUNDARY/g' -e "s|$1|RUN|g" "$1/wire" "$1/debug"
}

for side in a b; do
  program=$base; [ "$side" = b ] && program=$new
  make_run "$work/$side" "$program"
  run_with_recorder "$work/$side"
done

status=0
for what in rows wire debug; do
  if cmp -s "$work/a/$what" "$work/b/$what"; then echo "same $what"; else echo "DIFFERENT $what"; status=1; fi
done
if diff -r -q "$work/a/image" "$work/b/image" > /dev/null; then
  echo "same ICO files ($(ls "$work/b/image" | wc -l) of $(wc -l < "$work/list") executables)"
else
  echo "DIFFERENT ICO files"; diff -r -q "$work/a/image" "$work/b/image" | head; status=1
fi
echo "requests: $(grep -c '^=====$' "$work/b/wire"); marked: $(grep -c '|1|1$' "$work/b/rows")"
exit $status
