#!/usr/bin/env bash
# The release archives, made by `make dist` from the two builds:
#   <dist>/talvenook-<version>-windows-x64.zip     talvenook.exe, sqlite3.dll, README.txt
#   <dist>/talvenook-<version>-linux-x64.tar.gz    talvenook, README.txt
# each inside a folder talvenook-<version>/. The programs are stripped copies.
# Usage: tools/dist/make-dist.sh <version> <windows-build> <linux-build> <dist-folder>
set -euo pipefail

version=${1:?usage: $0 <version> <windows-build> <linux-build> <dist-folder>}
winbuild=$(realpath "${2:?}")
build=$(realpath "${3:?}")
mkdir -p "${4:?}"
dist=$(realpath "$4")
here=$(cd "$(dirname "$0")" && pwd)

# The service base address each build was made with, for its README.
service_base() { sed -n 's/^TALVENOOK_SERVICE_BASE:STRING=//p' "$1/CMakeCache.txt"; }

readme() {  # <template> <build> <out> [crlf]
  sed -e "s|@VERSION@|$version|" -e "s|@SERVICE_BASE@|$(service_base "$2")|" "$1" > "$3"
  [[ ${4:-} == crlf ]] && sed -i 's/$/\r/' "$3"
  true
}

for needed in "$winbuild/app/talvenook.exe" "$winbuild/app/sqlite3.dll" "$build/app/talvenook"; do
  [[ -f $needed ]] || { echo "make-dist: $needed is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name="talvenook-$version"

# Windows: the README with Windows line ends, for Notepad of every age.
mkdir "$work/windows" && win="$work/windows/$name" && mkdir "$win"
x86_64-w64-mingw32-strip -o "$win/talvenook.exe" "$winbuild/app/talvenook.exe"
cp "$winbuild/app/sqlite3.dll" "$win/"
readme "$here/README-windows.txt" "$winbuild" "$win/README.txt" crlf
rm -f "$dist/$name-windows-x64.zip"
(cd "$work/windows" && zip -q -X -r "$dist/$name-windows-x64.zip" "$name")

mkdir "$work/linux" && lin="$work/linux/$name" && mkdir "$lin"
strip -o "$lin/talvenook" "$build/app/talvenook"
readme "$here/README-linux.txt" "$build" "$lin/README.txt"
tar -C "$work/linux" --owner=0 --group=0 --numeric-owner -czf "$dist/$name-linux-x64.tar.gz" "$name"

ls -l "$dist/$name-windows-x64.zip" "$dist/$name-linux-x64.tar.gz"
