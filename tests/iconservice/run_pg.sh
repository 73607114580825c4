#!/usr/bin/env bash
# Runs the icon service's tests against a real PostgreSQL server that this script starts in a
# temporary folder and stops again on every exit path: the storage tests directly, and the
# service tests with php -S storing into PostgreSQL. Used by `make test-pg`.
# PostgreSQL refuses to run as root, so as root the server runs as user "nobody".
# The server listens on a Unix socket in its own temporary folder and on no TCP port at all, so
# runs side by side never compete for a port.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "PostgreSQL server binaries not found under /usr/lib/postgresql/*/bin (Debian package postgresql)" >&2
  exit 1
fi

work=$(mktemp -d /tmp/talvenook-pg.XXXXXX)
chmod 755 "$work"
as_server=()
if [ "$(id -u)" = 0 ]; then
  chown nobody "$work"
  as_server=(runuser -u nobody --)
fi

stop() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$work/db" -m immediate -w stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop EXIT

(cd "$work" && "${as_server[@]}" "$bin/initdb" -D "$work/db" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 >"$work/initdb.log" 2>&1) \
  || { cat "$work/initdb.log" >&2; exit 1; }
(cd "$work" && timeout 60 "${as_server[@]}" "$bin/pg_ctl" -D "$work/db" -l "$work/server.log" -w -t 30 \
  -o "-c listen_addresses= -k $work -c fsync=off" start >/dev/null) \
  || { cat "$work/server.log" >&2; exit 1; }

echo "PostgreSQL $("$bin/postgres" --version | awk '{print $3}') on the socket in $work"
TALVENOOK_TEST_PG_DSN="pgsql:host=$work;dbname=postgres" TALVENOOK_TEST_PG_USER=postgres \
  timeout 300 phpunit --configuration "$here/phpunit.xml" --testsuite service
