# The sandbox of the scripts that run both builds against a service of their own on 127.0.0.1:8750
# (tools/hostile_executables.sh, tools/swap_race.sh, bench/windows_pass.sh): a network namespace
# of their own, so nothing else on the machine is reached or disturbed, and a headless Wine prefix
# of their own (tests/iconservice/run_production.sh too). Source this file; it defines:
#   in_own_network NAME SECONDS SCRIPT [ARG...]
#       re-runs SCRIPT with ARGs as root in a new network namespace (within SECONDS; 0: no bound)
#       and does not return; in the re-run it brings the loopback up and returns.
#   make_wine_prefix NAME PREFIX BUILD
#       PREFIX as a hard-link copy of the end-to-end tests' prefix template in BUILD (its registry
#       files copied, since Wine rewrites them), or a new prefix with the null graphics driver when
#       there is no template; exports WINEPREFIX.
#   stop_wine PREFIX [PID]
#       stops the Wine server of PREFIX and reaps PID (a program started under it), if any.
#   require NAME TARGET FILE...
#       stops with "NAME: FILE is missing; run 'make TARGET'" unless every FILE is there.
# It also exports Wine's headless settings and sets `wine` and `wineserver`.

wine=${TALVENOOK_WINE:-/usr/lib/wine/wine64}
wineserver="$(dirname "$wine")/wineserver"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

in_own_network() {
  local name=$1 seconds=$2 script=$3
  shift 3
  if [ -z "${TALVENOOK_IN_OWN_NETWORK:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "$name: needs root for a network namespace of its own" >&2; exit 1; }
    local bound=()
    [ "$seconds" -gt 0 ] && bound=(timeout -k 10 "$seconds")
    exec env TALVENOOK_IN_OWN_NETWORK=1 "${bound[@]}" unshare -n "$script" "$@"
  fi
  ip link set lo up || exit 1
}

make_wine_prefix() {
  local name=$1 prefix=$2 template
  template=$(realpath -m "$3/tests/e2e/windows/wine-template")
  if compgen -G "$template/.talvenook-template-ready*" >/dev/null; then
    cp -al "$template" "$prefix" || exit 1
    for f in system.reg user.reg userdef.reg; do rm -f "$prefix/$f"; cp "$template/$f" "$prefix/$f"; done
  else
    echo "$name: making a Wine prefix (about 20 s)" >&2
    WINEPREFIX="$prefix" timeout 300 "$wine" wineboot -i >"$prefix.wineboot.log" 2>&1 ||
      { cat "$prefix.wineboot.log"; exit 1; }
    WINEPREFIX="$prefix" timeout 120 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    WINEPREFIX="$prefix" timeout 120 "$wineserver" -w
  fi
  export WINEPREFIX="$prefix"
}

stop_wine() {
  [ -d "$1" ] || return 0
  WINEPREFIX="$1" timeout 30 "$wineserver" -k 2>/dev/null
  [ -n "${2:-}" ] && wait "$2" 2>/dev/null
  return 0
}

require() {
  local name=$1 target=$2
  shift 2
  for needed in "$@"; do
    [ -f "$needed" ] || { echo "$name: $needed is missing; run 'make $target'" >&2; exit 1; }
  done
}
