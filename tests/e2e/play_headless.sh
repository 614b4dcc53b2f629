#!/usr/bin/env bash
# The whole demo headless, as the play command runs it: status 0 at the
# script's end, no box, and a log with the adapters and a profiling report
# counting one render and one present per frame. Then the same windowed
# through the full setup dialog, where every check is evaluated: the demo
# fails none. The player's own probe fails once there, so a run whose checks
# went unevaluated cannot pass.
#   play_headless.sh QUILLON FULL_SETUP_PLAYER
set -euo pipefail
player=$1
full_setup=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" 2>stderr.txt || status=$?
fail() { echo "play_headless: $*"; cat stderr.txt; exit 1; }
[ "$status" -eq 0 ] || fail "status $status"
! grep -q '^\[Error\]' stderr.txt || fail "a box was shown"
grep -q '^Number of Adapters: ' nga.out || fail "no adapter lines"
grep -q '^Adapter 0: ' nga.out || fail "no adapter 0"
render=$(awk '$1 == "CompleteRenderTime" { print $3 }' nga.out)
present=$(awk '$1 == "Present" { print $3 }' nga.out)
[ -n "$render" ] && [ "$render" -gt 0 ] || fail "no frames rendered"
[ "$render" = "$present" ] || fail "renders $render, presents $present"
echo "play_headless: $render frames"

mkdir windowed
cd windowed
status=0
XDG_CONFIG_HOME="$work/windowed/cfg" QUILLON_E2E_FAIL_CHECK=1 \
  QUILLON_DIALOG="check 104; text 110 640; text 112 480; press 100" \
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$full_setup" 2>stderr.txt || status=$?
[ "$status" -eq 0 ] || fail "windowed: status $status"
failed=$(grep '^Assertion failed ' nga.out || true)
[ "$failed" = "Assertion failed 1 time: probe of the end-to-end run" ] ||
  fail "windowed: failed checks other than the probe's one:
$failed"
grep -q '^VorbisChannel::Fill ' nga.out || fail "windowed: log incomplete"
echo "play_headless: windowed, no check failed"
