#!/usr/bin/env bash
# Saves docs/screenshot.png: the converter window on a virtual X display with a few
# generated RealMedia files listed. Needs Xvfb and a build (scripts/build release or test).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs/screenshot.png}"
program=""; fixtures=""
for kind in release test; do
  [ -z "$program" ] && [ -x "$root/build/$kind/app/ardentix" ] && program="$root/build/$kind/app/ardentix"
  [ -z "$fixtures" ] && [ -x "$root/build/$kind/tools/fixtures/ardentix-fixtures" ] && fixtures="$root/build/$kind/tools/fixtures/ardentix-fixtures"
done
[ -n "$program" ] || { echo "build the program first (scripts/build release)" >&2; exit 1; }
[ -n "$fixtures" ] || { echo "build the fixture generator first (scripts/build test ardentix-fixtures)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

work="$(mktemp -d /tmp/ardentix-shot-XXXXXX)"
xpid=""; apid=""
cleanup() {
  [ -n "$apid" ] && kill "$apid" 2>/dev/null || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/media" "$work/home"
"$fixtures" rm-ac3 "$work/media/Evening Concert.rm" --seconds 254 >/dev/null
"$fixtures" rm-ac3 "$work/media/Interview with the Band.rmvb" --seconds 187 --channels 1 --rate 32000 >/dev/null
"$fixtures" rm-ra144 "$work/media/Radio Jingle.ra" --seconds 12 >/dev/null
"$fixtures" rm-ac3 "$work/media/Lecture 01.rm" --seconds 95 --rate 48000 >/dev/null

# A display of our own; -displayfd tells which number it took.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xpid <&3
read -r display <&3
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
       XDG_RUNTIME_DIR="$work" ASAN_OPTIONS=detect_leaks=0
rm -f "$out"
"$program" --screenshot "$out" "$work/media/"* >"$work/program.log" 2>&1 &
apid=$!
for _ in $(seq 600); do
  [ -s "$out" ] && break
  kill -0 "$apid" 2>/dev/null || { cat "$work/program.log" >&2; exit 1; }
  sleep 0.1
done
sleep 0.5
kill -TERM "$apid"; wait "$apid" || true; apid=""
[ -s "$out" ] || { echo "no screenshot made" >&2; exit 1; }
echo "saved $out"
