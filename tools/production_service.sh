#!/usr/bin/env bash
# The icon service deployed as in production, in one folder of its own, from Debian's packages:
# a PostgreSQL server (initdb in the folder, Unix socket only), the service's set-up against it,
# NODES php-fpm nodes (one master each with the desktops' and the gallery's pools of
# iconservice/deploy/php-fpm-iconservice.conf) and one nginx in front of them as the load
# balancer (iconservice/deploy/nginx-iconservice.conf, with nginx-main.conf) on 127.0.0.1:PORT. Nothing outside the folder is touched: no system service, no /etc file.
# As root, every server runs as an unprivileged user (SERVICE_USER, default nobody): PostgreSQL
# refuses root, and the others need nothing more.
#
#   tools/production_service.sh start DIR        start everything (DIR is made when missing; a
#                                                DIR with a database keeps it); prints the
#                                                gallery's address on its last line
#   tools/production_service.sh stop DIR         stop everything started in DIR
#   tools/production_service.sh watch DIR PID    stop everything in DIR once process PID ends
#   tools/production_service.sh kill-node DIR N  kill -9 node N's php-fpm master and workers
#   tools/production_service.sh start-node DIR N start node N again
#   tools/production_service.sh stop-db DIR | start-db DIR   stop or start PostgreSQL alone
#
# Settings for start (environment): NODES (2), PORT (8750), WORKERS per node in the desktops'
# pool (6), GALLERY_WORKERS per node in the gallery's pool (2), STORAGE (pgsql, or sqlite: the
# database in DIR/data, for comparison), PERSISTENT (1: persistent PDO connections; 0: a
# connection per request), POOLER (none, or pgbouncer between the nodes and PostgreSQL), DOCROOT
# (another document root, e.g. the load test's one-line floor; default the service's public/),
# ACCESS_LOG (1: nginx logs its requests in DIR/nginx/access.log, each node's pools theirs in
# DIR/nodeN/access.log and gallery-access.log), WRITERS (the networks that may send icons,
# default the site file's: loopback and the private ranges), PER_ADDRESS (requests in progress
# per client address, default the site file's 1000), GALLERY_PASSWORDS (a password file in
# htpasswd format: the gallery behind a login). Every wait has a deadline; only 127.0.0.1 and
# Unix sockets are used.
set -uo pipefail

tools_folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
self="$tools_folder/$(basename "${BASH_SOURCE[0]}")"
service_root=$(cd "$tools_folder/../iconservice" && pwd)
deploy="$service_root/deploy"
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
fpm=$(command -v php-fpm8.2 || command -v php-fpm || echo /usr/sbin/php-fpm8.2)
nginx=$(command -v nginx || echo /usr/sbin/nginx)

die() { echo "production_service: $*" >&2; exit 1; }

# as_service COMMAND...: runs COMMAND as the service's user.
as_service() {
  if [ "$(id -u)" = 0 ]; then
    setpriv --reuid="$service_user" --regid="$service_group" --clear-groups -- "$@"
  else
    "$@"
  fi
}

# serve_in_background PID_FILE LOG COMMAND...: starts COMMAND as the service's user in the
# background, the server itself in place of the shell (exec), so PID_FILE holds its own pid.
serve_in_background() {
  local pid_file=$1 log=$2
  shift 2
  if [ "$(id -u)" = 0 ]; then
    (exec setpriv --reuid="$service_user" --regid="$service_group" --clear-groups -- "$@" </dev/null >>"$log" 2>&1) &
  else
    (exec "$@" </dev/null >>"$log" 2>&1) &
  fi
  echo $! >"$pid_file"
}

# wait_for DESCRIPTION SECONDS TEST...: polls TEST every 0.1 s until it succeeds or time is up.
wait_for() {
  local what=$1 seconds=$2 tries
  shift 2
  for ((tries = seconds * 10; tries > 0; tries--)); do
    "$@" && return 0
    sleep 0.1
  done
  echo "production_service: $what did not come up within ${seconds}s" >&2
  return 1
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

load_settings() {
  dir=$(realpath -m "$1")
  [ -f "$dir/deployment.env" ] || die "no deployment in $dir"
  # shellcheck disable=SC1091
  source "$dir/deployment.env"
}

# --- PostgreSQL -------------------------------------------------------------------------------

db_start() {
  [ "$STORAGE" = pgsql ] || return 0
  [ -x "$pg_bin/initdb" ] || die "PostgreSQL server binaries not found under /usr/lib/postgresql/*/bin (Debian package postgresql)"
  if [ ! -f "$dir/pg/data/PG_VERSION" ]; then
    (cd "$dir/pg" && as_service "$pg_bin/initdb" -D "$dir/pg/data" -U talvenook --auth=trust -E UTF8 \
      --locale=C.UTF-8 >"$dir/pg/initdb.log" 2>&1) || { cat "$dir/pg/initdb.log" >&2; return 1; }
  fi
  (cd "$dir/pg" && timeout 60 setsid "$self" as-service-exec "$dir" "$pg_bin/pg_ctl" -D "$dir/pg/data" -l "$dir/pg/server.log" \
    -w -t 30 -o "-c listen_addresses= -k $dir/pg -c max_connections=200" start >/dev/null) \
    || { cat "$dir/pg/server.log" >&2; return 1; }
  if ! as_service "$pg_bin/psql" -h "$dir/pg" -U talvenook -d postgres -Atqc \
      "SELECT 1 FROM pg_database WHERE datname = 'talvenook_icons'" | grep -q 1; then
    as_service "$pg_bin/createdb" -h "$dir/pg" -U talvenook -E UTF8 -T template0 talvenook_icons || return 1
  fi
  [ "$POOLER" = pgbouncer ] && pooler_start
  return 0
}

db_stop() {
  [ "$STORAGE" = pgsql ] || return 0
  [ "$POOLER" = pgbouncer ] && pooler_stop
  [ -f "$dir/pg/data/postmaster.pid" ] || return 0
  timeout 60 "$self" as-service-exec "$dir" "$pg_bin/pg_ctl" -D "$dir/pg/data" -m fast -w -t 30 stop >/dev/null 2>&1 \
    || timeout 30 "$self" as-service-exec "$dir" "$pg_bin/pg_ctl" -D "$dir/pg/data" -m immediate -w stop >/dev/null 2>&1
  return 0
}

pooler_start() {
  local bouncer
  bouncer=$(command -v pgbouncer || echo /usr/sbin/pgbouncer)
  [ -x "$bouncer" ] || die "pgbouncer is not installed (Debian package pgbouncer)"
  mkdir -p "$dir/pgbouncer" && chown_service "$dir/pgbouncer"
  echo '"talvenook" ""' >"$dir/pgbouncer/users.txt"
  cat >"$dir/pgbouncer/pgbouncer.ini" <<INI
[databases]
talvenook_icons = host=$dir/pg dbname=talvenook_icons user=talvenook
[pgbouncer]
listen_addr =
listen_port = 6432
unix_socket_dir = $dir/pgbouncer
auth_type = trust
auth_file = $dir/pgbouncer/users.txt
pool_mode = session
default_pool_size = 40
max_client_conn = 500
pidfile = $dir/pgbouncer/pgbouncer.pid
logfile = $dir/pgbouncer/pgbouncer.log
INI
  as_service "$bouncer" -d "$dir/pgbouncer/pgbouncer.ini" >/dev/null 2>&1 || return 1
  wait_for "pgbouncer" 10 test -S "$dir/pgbouncer/.s.PGSQL.6432"
}

pooler_stop() {
  stop_by_pid_file "$dir/pgbouncer/pgbouncer.pid" TERM
}

# --- php-fpm nodes ----------------------------------------------------------------------------

node_dsn() {
  case "$STORAGE/$POOLER" in
    sqlite/*) echo "sqlite:$dir/data/icons.sqlite" ;;
    pgsql/pgbouncer) echo "pgsql:host=$dir/pgbouncer;port=6432;dbname=talvenook_icons" ;;
    *) echo "pgsql:host=$dir/pg;dbname=talvenook_icons" ;;
  esac
}

# The node's two pools: the desktops' (its socket php.sock) and the gallery's (gallery.sock).
node_configure() {
  local n=$1 node="$dir/node$1" desktops gallery log= format='access.format = "%m %r%Q%q %s"'
  mkdir -p "$node" && chown_service "$node"
  desktops="/^\[talvenook-iconservice-node1\]/,/^\[/"
  gallery="/^\[talvenook-iconservice-node1-gallery\]/,\$"
  # The tests see which node served what.
  [ "$ACCESS_LOG" = 1 ] && log=1
  sed -e "s#/run/php/talvenook-iconservice-node1.sock#$node/php.sock#" \
      -e "s#/run/php/talvenook-iconservice-node1-gallery.sock#$node/gallery.sock#" \
      -e '/^user = /d; /^group = /d; /^listen.owner = /d; /^listen.group = /d' \
      -e "${desktops}s#^pm.max_children = .*#pm.max_children = $WORKERS${log:+\naccess.log = $node/access.log\n$format}#" \
      -e "${gallery}s#^pm.max_children = .*#pm.max_children = $GALLERY_WORKERS${log:+\naccess.log = $node/gallery-access.log\n$format}#" \
      -e "s#^\[talvenook-iconservice-node1#[talvenook-iconservice-node$n#" \
      -e "s#^env\[TALVENOOK_ICONSERVICE_DSN\] = .*#env[TALVENOOK_ICONSERVICE_DSN] = \"$(node_dsn)\"#" \
      -e "s#^env\[TALVENOOK_ICONSERVICE_DB_PERSISTENT\] = .*#env[TALVENOOK_ICONSERVICE_DB_PERSISTENT] = $PERSISTENT#" \
      -e "s#^env\[TALVENOOK_ICONSERVICE_DATA\] = .*#env[TALVENOOK_ICONSERVICE_DATA] = $dir/data#" \
      "$deploy/php-fpm-iconservice.conf" >"$node/pool.conf"
  cat >"$node/php-fpm.conf" <<CONF
[global]
pid = $node/php-fpm.pid
error_log = $node/php-fpm.log
daemonize = no
include = $node/pool.conf
CONF
}

node_start() {
  local n=$1 node="$dir/node$1"
  rm -f "$node/php.sock" "$node/gallery.sock" "$node/php-fpm.pid"
  serve_in_background "$node/master.pid" "$node/console.log" "$fpm" -y "$node/php-fpm.conf" -F
  wait_for "php-fpm node $n" 15 test -S "$node/php.sock" -a -S "$node/gallery.sock" \
    || { cat "$node/php-fpm.log" "$node/console.log" >&2; return 1; }
}

node_kill() {  # kill -9 of the node's master and every worker, as a crash would
  local node="$dir/node$1" master child
  master=$(cat "$node/master.pid" 2>/dev/null) || return 0
  kill -0 "$master" 2>/dev/null || return 0
  # Stopped first: a running master starts a new worker for each one that dies, and those would
  # outlive it.
  kill -STOP "$master" 2>/dev/null
  for child in $(cat "/proc/$master/task/$master/children" 2>/dev/null); do
    kill -9 "$child" 2>/dev/null
  done
  kill -9 "$master" 2>/dev/null
  wait_for "the end of node $1" 10 bash -c "! kill -0 $master 2>/dev/null"
}

node_stop() {
  local node="$dir/node$1" master
  master=$(cat "$node/master.pid" 2>/dev/null) || return 0
  kill -0 "$master" 2>/dev/null || return 0
  kill -QUIT "$master" 2>/dev/null
  wait_for "the stop of node $1" 10 bash -c "! kill -0 $master 2>/dev/null" 2>/dev/null || node_kill "$1"
  rm -f "$node/master.pid"
}

# --- nginx ------------------------------------------------------------------------------------

nginx_configure() {
  local conf="$dir/nginx" servers="" gallery_servers="" n root log="access_log off;" edits=()
  mkdir -p "$conf/tmp" && chown_service "$conf" "$conf/tmp"
  cp /etc/nginx/fastcgi_params "$conf/fastcgi_params"
  for n in $(seq "$NODES"); do
    servers+="    server unix:$dir/node$n/php.sock max_fails=1 fail_timeout=3s;\n"
    gallery_servers+="    server unix:$dir/node$n/gallery.sock max_fails=1 fail_timeout=3s;\n"
  done
  root=${DOCROOT:-$service_root/public}
  [ "$ACCESS_LOG" = 1 ] && log="access_log $conf/access.log combined if=\$talvenook_logged;"
  [ -n "$WRITERS" ] && edits+=(-e "s#fastcgi_param TALVENOOK_ICONSERVICE_WRITERS \".*\";#fastcgi_param TALVENOOK_ICONSERVICE_WRITERS \"$WRITERS\";#")
  [ -n "$PER_ADDRESS" ] && edits+=(-e "s#limit_conn talvenook_per_address [0-9]*;#limit_conn talvenook_per_address $PER_ADDRESS;#")
  [ -n "$GALLERY_PASSWORDS" ] && edits+=(-e "s#^\( *\)\# auth_basic_user_file .*#\1auth_basic_user_file $GALLERY_PASSWORDS;#")
  sed -e '/^ *server unix:\/run\/php\/talvenook-iconservice-node/d' \
      -e "s#^upstream talvenook_iconservice {#&\n$servers#" \
      -e "s#^upstream talvenook_iconservice_gallery {#&\n$gallery_servers#" \
      -e "s#listen 127.0.0.1:8750;#listen 127.0.0.1:$PORT;#" \
      -e "s#root /srv/talvenook/iconservice/public;#root $root;#" \
      -e "s#^\( *\)access_log /var/log/nginx/.*#\1$log#" \
      "${edits[@]}" "$deploy/nginx-iconservice.conf" >"$conf/iconservice.conf"
  cat >"$conf/nginx.conf" <<CONF
# nginx of the deployment in $dir: the main settings of nginx-main.conf, the site
# iconservice.conf and nothing else.
include $deploy/nginx-main.conf;
pid $conf/nginx.pid;
error_log $conf/error.log warn;
http {
    default_type application/octet-stream;
    access_log off;
    keepalive_timeout 5s;
    client_body_temp_path $conf/tmp/body;
    fastcgi_temp_path $conf/tmp/fastcgi;
    proxy_temp_path $conf/tmp/proxy;
    uwsgi_temp_path $conf/tmp/uwsgi;
    scgi_temp_path $conf/tmp/scgi;
    include $conf/iconservice.conf;
}
CONF
}

nginx_start() {
  local conf="$dir/nginx"
  port_answers "$PORT" && die "127.0.0.1:$PORT is taken already"
  serve_in_background "$conf/master.pid" "$conf/console.log" "$nginx" -p "$conf" -c "$conf/nginx.conf" -e "$conf/error.log" -g "daemon off;"
  wait_for "nginx on 127.0.0.1:$PORT" 15 port_answers "$PORT" || { cat "$conf/error.log" "$conf/console.log" >&2; return 1; }
}

nginx_stop() {
  stop_by_pid_file "$dir/nginx/master.pid" QUIT
}

# --- the whole deployment ---------------------------------------------------------------------

chown_service() { [ "$(id -u)" = 0 ] && chown "$service_user:$service_group" "$@"; return 0; }

stop_by_pid_file() {  # stop_by_pid_file FILE SIGNAL: signal, wait up to 10 s, then kill -9
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill "-$2" "$pid" 2>/dev/null
    wait_for "the stop of process $pid" 10 bash -c "! kill -0 $pid 2>/dev/null" 2>/dev/null || kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$1"
}

set_up_service() {
  local env=(TALVENOOK_ICONSERVICE_DATA="$dir/data" TALVENOOK_ICONSERVICE_DSN="$(node_dsn)")
  # The set-up refuses a list of networks that does not parse, before nginx would pass it on.
  [ -n "$WRITERS" ] && env+=(TALVENOOK_ICONSERVICE_WRITERS="$WRITERS")
  [ "$STORAGE" = pgsql ] && env+=(TALVENOOK_ICONSERVICE_DB_USER=talvenook)
  [ -n "${DOCROOT:-}" ] && return 0
  (cd "$dir" && as_service env "${env[@]}" timeout 120 php "$service_root/setup.php" "$service_root/public") \
    >>"$dir/setup.log" 2>&1 || { cat "$dir/setup.log" >&2; return 1; }
}

start_all() {
  mkdir -p "$dir/pg" "$dir/data" || die "cannot make $dir"
  chmod 755 "$dir"
  chown_service "$dir/pg" "$dir/data"
  cat >"$dir/deployment.env" <<SETTINGS
NODES=${NODES:-2}
PORT=${PORT:-8750}
WORKERS=${WORKERS:-6}
GALLERY_WORKERS=${GALLERY_WORKERS:-2}
WRITERS='${WRITERS:-}'
PER_ADDRESS=${PER_ADDRESS:-}
GALLERY_PASSWORDS='${GALLERY_PASSWORDS:+$(realpath -m "$GALLERY_PASSWORDS")}'
STORAGE=${STORAGE:-pgsql}
PERSISTENT=${PERSISTENT:-1}
POOLER=${POOLER:-none}
DOCROOT=${DOCROOT:-}
ACCESS_LOG=${ACCESS_LOG:-0}
service_user=${SERVICE_USER:-nobody}
service_group=$(id -gn "${SERVICE_USER:-nobody}" 2>/dev/null || echo nogroup)
SETTINGS
  # shellcheck disable=SC1091
  source "$dir/deployment.env"
  db_start || { stop_all; return 1; }
  set_up_service || { stop_all; return 1; }
  local n
  for n in $(seq "$NODES"); do
    node_configure "$n"
    node_start "$n" || { stop_all; return 1; }
  done
  nginx_configure
  nginx_start || { stop_all; return 1; }
  touch "$dir/running"
  echo "icon service: $NODES php-fpm nodes behind nginx, storage $STORAGE, in $dir"
  echo "gallery: http://127.0.0.1:$PORT/index.php?r=sw/gallery"
}

stop_all() {
  local n
  rm -f "$dir/running"
  nginx_stop
  for n in $(seq "${NODES:-2}"); do node_stop "$n"; done
  db_stop
}

command=${1:-}
[ $# -ge 2 ] || { sed -n "2,29p" "$self" >&2; exit 2; }
case "$command" in
  start)
    dir=$(realpath -m "$2")
    service_user=${SERVICE_USER:-nobody}
    service_group=$(id -gn "$service_user" 2>/dev/null || echo nogroup)
    start_all ;;
  stop) load_settings "$2"; stop_all ;;
  watch)
    load_settings "$2"
    parent=$3
    # A process that ended but is not yet reaped by its parent (a zombie) has ended too.
    while kill -0 "$parent" 2>/dev/null && [ "$(awk '{ print $3 }' "/proc/$parent/stat" 2>/dev/null)" != Z ] \
        && [ -f "$dir/running" ]; do
      sleep 1
    done
    [ -f "$dir/running" ] && stop_all ;;
  kill-node) load_settings "$2"; node_kill "$3" ;;
  start-node) load_settings "$2"; node_start "$3" ;;
  stop-db) load_settings "$2"; db_stop ;;
  start-db) load_settings "$2"; db_start ;;
  as-service-exec)  # internal: pg_ctl as the service's user, with the settings of DIR
    load_settings "$2"; shift 2; as_service "$@" ;;
  *) die "unknown command $command" ;;
esac
