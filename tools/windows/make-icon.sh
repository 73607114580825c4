#!/usr/bin/env bash
# Draws talvenook.exe's icon: a teal rounded square with a white upward arrow (the program sends
# icons up to a service), at 16x16, 32x32 and 48x48, 32-bit with alpha and an AND mask, and writes
# it as an ICO file. Usage: tools/windows/make-icon.sh <out.ico>
set -euo pipefail
out=${1:?usage: $0 <out.ico>}

sizes=(16 32 48)
bytes=''
le16() { bytes+=$(printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255))); }
le32() { bytes+=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))); }
u8() { bytes+=$(printf '\\x%02x' $(($1 & 255))); }

# What covers the pixel (x, y), counted from the top left: 0 nothing, 1 the square, 2 the arrow.
# Coordinates are doubled so pixel centres (2x+1) and fractions of the size stay integral.
cover() {
  local s=$1 x=$((2 * $2 + 1)) y=$((2 * $3 + 1))
  local lo=2 hi=$((2 * s - 2)) r=$((2 * s / 5))
  local cx=$x cy=$y
  ((x < lo || x > hi || y < lo || y > hi)) && { echo 0; return; }
  ((cx < lo + r)) && cx=$((lo + r)); ((cx > hi - r)) && cx=$((hi - r))
  ((cy < lo + r)) && cy=$((lo + r)); ((cy > hi - r)) && cy=$((hi - r))
  (((x - cx) * (x - cx) + (y - cy) * (y - cy) > r * r)) && { echo 0; return; }
  local mid=$s top=$((2 * s * 20 / 100)) base=$((2 * s * 50 / 100)) foot=$((2 * s * 82 / 100))
  local half=$((2 * s * 30 / 100)) stem=$((2 * s * 9 / 100))
  local dx=$((x > mid ? x - mid : mid - x))
  # The head: a triangle from its tip at `top` down to `base`; the stem below it.
  if ((y >= top && y <= base && dx * (base - top) <= half * (y - top))); then echo 2; return; fi
  if ((y > base && y <= foot && dx <= stem)); then echo 2; return; fi
  echo 1
}

image() {
  local s=$1 x y c mask row
  le32 40; le32 "$s"; le32 $((2 * s)); le16 1; le16 32; le32 0
  le32 $((s * s * 4 + s * ((s + 31) / 32 * 4))); le32 0; le32 0; le32 0; le32 0
  local -a covers=()
  for ((y = s - 1; y >= 0; y--)); do
    for ((x = 0; x < s; x++)); do
      c=$(cover "$s" "$x" "$y"); covers+=("$c")
      case $c in
        0) bytes+='\x00\x00\x00\x00' ;;
        1) bytes+='\x9a\x7d\x2e\xff' ;;   # BGRA of #2E7D9A
        2) bytes+='\xff\xff\xff\xff' ;;
      esac
    done
  done
  # AND mask, bottom row first: 1 = transparent; rows padded to four bytes.
  for ((y = 0; y < s; y++)); do
    row=0; mask=0
    for ((x = 0; x < s; x++)); do
      ((covers[y * s + x] == 0)) && mask=$((mask | 1 << (7 - x % 8)))
      if ((x % 8 == 7)); then u8 $mask; mask=0; row=$((row + 1)); fi
    done
    ((s % 8)) && { u8 $mask; row=$((row + 1)); }
    for ((; row % 4; row++)); do u8 0; done
  done
}

# Directory: reserved, type 1 (icon), count; then one 16-byte entry per image.
le16 0; le16 1; le16 ${#sizes[@]}
offset=$((6 + 16 * ${#sizes[@]}))
for s in "${sizes[@]}"; do
  size=$((40 + s * s * 4 + s * ((s + 31) / 32 * 4)))
  u8 $((s % 256)); u8 $((s % 256)); u8 0; u8 0; le16 1; le16 32; le32 $size; le32 $offset
  offset=$((offset + size))
done
for s in "${sizes[@]}"; do image "$s"; done

printf '%b' "$bytes" > "$out.tmp"
mv "$out.tmp" "$out"
