#!/usr/bin/env bash
# The whole demo headless, as the play command runs it: status 0 at the
# script's end, no box, and a log with the adapters and a profiling report
# counting one render and one present per frame.
#   play_headless.sh QUILLON
set -euo pipefail
player=$1
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
