#!/usr/bin/env bash
# Saves docs/screenshot.png: the converter window on a virtual X display converting a
# few generated RealMedia files, with the batch a quarter done; and beside it
# screenshot-video.png: RealVideo files going to MP4 with the preview showing. The program runs with
# a clean home folder, /home/alex, made in a mount namespace of its own (unshare), so
# no temporary path shows in the picture. Needs Xvfb, unshare and a build
# (scripts/build release, or scripts/build test ardentix ardentix-fixtures).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$root/docs/screenshot.png}")"

if [ "${ARDENTIX_SHOT_INSIDE:-}" = 1 ]; then
  # In the namespace: an empty /home with one user's folder in it.
  mount -t tmpfs none /home
  export HOME=/home/alex
  mkdir -p "$HOME/Radio" "$HOME/Documents"
  "$fixtures" rm-ac3 "$HOME/Radio/Evening Concert.rm" --seconds 254 >/dev/null
  "$fixtures" rm-ac3 "$HOME/Radio/Interview with the Band.rmvb" --seconds 187 --channels 1 --rate 32000 >/dev/null
  "$fixtures" rm-ra144 "$HOME/Radio/Radio Jingle.ra" --seconds 12 >/dev/null
  "$fixtures" rm-ac3 "$HOME/Radio/Lecture 01 - Introduction to Acoustics.rm" --seconds 395 --rate 48000 >/dev/null
  "$fixtures" rm-ac3 "$HOME/Radio/Lecture 02 - Rooms and Echoes.rm" --seconds 412 --rate 48000 >/dev/null
  unset XDG_CONFIG_HOME
  shoot() {  # shoot PICTURE FILE...
    local shot="$1"; shift
    "$program" --convert --screenshot "$shot" "$@" >"$work/program.log" 2>&1 &
    apid=$!
    for _ in $(seq 1200); do
      [ -s "$shot" ] && break
      kill -0 "$apid" 2>/dev/null || { cat "$work/program.log" >&2; exit 1; }
      sleep 0.1
    done
    sleep 0.5
    kill -TERM "$apid"; wait "$apid" || true
  }
  shoot "$out" "$HOME/Radio/"*

  mkdir -p "$HOME/Videos"
  "$fixtures" rm-video "$HOME/Videos/Holiday in Norway.rmvb" --video rv20 --fps 25 --size 480x272 --seconds 95 >/dev/null
  "$fixtures" rm-video "$HOME/Videos/Birthday Party.rmvb" --video rv20 --fps 25 --size 480x272 --seconds 60 >/dev/null
  # The same window with MP4 chosen and the preview ticked, as the user left it.
  printf '[Options]\nOutputFormat=mp4\nShowPreview=True\nSimultaneousConversions=1\n' >"$HOME/.config/Ardentix/Options.ini"
  shoot "${out%.png}-video.png" "$HOME/Videos/"*
  exit 0
fi

program=""; fixtures=""
for kind in release test; do
  [ -z "$program" ] && [ -x "$root/build/$kind/app/ardentix" ] && program="$root/build/$kind/app/ardentix"
  [ -z "$fixtures" ] && [ -x "$root/build/$kind/tools/fixtures/ardentix-fixtures" ] && fixtures="$root/build/$kind/tools/fixtures/ardentix-fixtures"
done
[ -n "$program" ] || { echo "build the program first (scripts/build release)" >&2; exit 1; }
[ -n "$fixtures" ] || { echo "build the fixture generator first (scripts/build test ardentix-fixtures)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }
command -v unshare >/dev/null || { echo "unshare is missing (apt-get install util-linux)" >&2; exit 1; }

work="$(mktemp -d /tmp/ardentix-shot-XXXXXX)"
xpid=""
cleanup() {
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own; -displayfd tells which number it took.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xpid <&3
read -r display <&3
rm -f "$out" "${out%.png}-video.png"
# Settings, the output folder and the program's view of the home folder all live in the namespace.
DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" ASAN_OPTIONS=detect_leaks=0 \
  ARDENTIX_SHOT_INSIDE=1 program="$program" fixtures="$fixtures" work="$work" \
  unshare -r -m --propagation private bash "$0" "$out"
[ -s "$out" ] && [ -s "${out%.png}-video.png" ] || { echo "no screenshot made" >&2; exit 1; }
echo "saved $out and ${out%.png}-video.png"
