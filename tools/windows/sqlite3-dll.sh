#!/usr/bin/env bash
# sqlite3.dll for the Windows build, made with mingw-w64 from the SQLite sources of Debian's own
# `sqlite3` source package, at the version of the Linux library installed here, so both builds run
# the same SQLite. Default compile options: the library's defaults (double-quoted string literals
# accepted, which the catalogue update relies on).
#
# Usage: tools/windows/sqlite3-dll.sh <cache-folder>
# Leaves <cache-folder>/sqlite3-<version>-mingw64/{bin/sqlite3.dll,lib/libsqlite3.dll.a,
# include/sqlite3.h} and prints that folder on the last line. A folder already complete is reused
# as it is: nothing is downloaded or rebuilt.
set -euo pipefail

cache_root=${1:?usage: $0 <cache-folder>}
mkdir -p "$cache_root"
cache_root=$(cd "$cache_root" && pwd)

binary_version=$(dpkg-query -W -f='${Version}' libsqlite3-0)
source_version=$(dpkg-query -W -f='${source:Version}' libsqlite3-0)
target="$cache_root/sqlite3-$binary_version-mingw64"

if [[ -f $target/bin/sqlite3.dll && -f $target/lib/libsqlite3.dll.a && -f $target/include/sqlite3.h ]]; then
  echo "$target"
  exit 0
fi

log() { echo "sqlite3-dll: $*" >&2; }
started=$SECONDS

# Source entries (deb-src) for the archives that already serve the installed libsqlite3-0,
# written once into a file of ours; apt's lists are refreshed only when that file changes.
archive_uris() {
  apt-cache policy libsqlite3-0 | awk -v v="$binary_version" '
    $1 == "***" { $1 = ""; $0 = $0 }
    $1 !~ /^[0-9]+$/ && $2 ~ /^-?[0-9]+$/ { mine = ($1 == v); next }
    mine && $1 ~ /^-?[0-9]+$/ && $2 ~ /:\/\// { print $2 }' | sort -u
}

wanted_source_entries() {
  local uris=$1
  # deb822 files: every enabled "deb" stanza whose URIs name one of those archives.
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f && $(basename "$f") != talvenook-deb-src.sources ]] || continue
    awk -v uris="$uris" '
      BEGIN { RS = ""; n = split(uris, u, "\n"); for (i = 1; i <= n; i++) want[u[i]] = 1 }
      {
        types = ""; hit = 0; enabled = 1
        m = split($0, line, "\n")
        for (i = 1; i <= m; i++) {
          if (line[i] ~ /^Types:/) types = line[i]
          if (line[i] ~ /^Enabled: *no/) enabled = 0
          if (line[i] ~ /^URIs:/) { k = split(line[i], w, /[ \t]+/); for (j = 2; j <= k; j++) if (w[j] in want) hit = 1 }
        }
        if (!hit || !enabled || types !~ /(^|[ \t])deb([ \t]|$)/) next
        out = ""
        for (i = 1; i <= m; i++) {
          if (line[i] ~ /^#/) continue
          out = out (line[i] ~ /^Types:/ ? "Types: deb-src" : line[i]) "\n"
        }
        printf "%s\n", out
      }' "$f"
  done
}

ensure_source_entries() {
  local uris entries file=/etc/apt/sources.list.d/talvenook-deb-src.sources
  uris=$(archive_uris)
  [[ -n $uris ]] || { log "no archive serves libsqlite3-0 $binary_version (apt-cache policy)"; exit 1; }
  entries="# Source entries for the archives this machine uses, added by Talvenook's
# tools/windows/sqlite3-dll.sh to fetch Debian's sqlite3 source package.

$(wanted_source_entries "$uris")"
  if [[ -f $file ]] && [[ $(cat "$file") == "$entries" ]]; then
    apt-cache showsrc sqlite3 2>/dev/null | grep -qxF "Version: $source_version" && return 0
  fi
  if [[ $(id -u) != 0 ]]; then
    log "needs root once to add $file (deb-src entries for: $uris)"; exit 1
  fi
  printf '%s\n' "$entries" > "$file"
  log "added $file; refreshing apt's lists"
  apt-get update -qq
}

ensure_source_entries

work=$(mktemp -d "$cache_root/.sqlite3-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt fetches as its own unprivileged user when that user may write here.
if [[ $(id -u) == 0 ]] && id _apt >/dev/null 2>&1; then chown _apt "$work"; fi
cd "$work"

log "fetching Debian's sqlite3 $source_version sources"
apt-get source -qq --only-source "sqlite3=$source_version" >/dev/null
src=$(find . -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
[[ -n $src ]] || { log "apt-get source left no sqlite3-* folder"; exit 1; }
cd "$src"

# The amalgamation (sqlite3.c and sqlite3.h) is made as Debian's own build makes it: the host's
# configure, then the amalgamation targets, which run tclsh over the source tree.
if [[ ! -f sqlite3.c || ! -f sqlite3.h ]]; then
  log "making the amalgamation"
  mkdir -p ../host && cd ../host
  "../$(basename "$src")/configure" --disable-tcl >/dev/null
  make -s sqlite3.c sqlite3.h >/dev/null
fi

log "compiling sqlite3.dll"
mkdir -p "$work/out/bin" "$work/out/lib" "$work/out/include"
x86_64-w64-mingw32-gcc-posix -O2 -shared -static-libgcc \
  '-DSQLITE_API=__declspec(dllexport)' \
  -o "$work/out/bin/sqlite3.dll" sqlite3.c \
  -Wl,--out-implib,"$work/out/lib/libsqlite3.dll.a"
cp sqlite3.h sqlite3ext.h "$work/out/include/" 2>/dev/null || cp sqlite3.h "$work/out/include/"
x86_64-w64-mingw32-strip --strip-unneeded "$work/out/bin/sqlite3.dll"
printf 'Debian sqlite3 source package %s (libsqlite3-0 %s), built with %s\n' \
  "$source_version" "$binary_version" "$(x86_64-w64-mingw32-gcc-posix -dumpversion)" > "$work/out/SOURCE"

# Published in one rename, so an interrupted build never leaves a folder that looks complete.
rm -rf "$target"
mv "$work/out" "$target"
log "built in $((SECONDS - started)) s"
echo "$target"
