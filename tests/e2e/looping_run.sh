#!/usr/bin/env bash
# A looping run stays flat in resident size and threads over about twenty
# one-second passes, then ends within 5 s of SIGTERM with status 0.
#   looping_run.sh LOOPING_PLAYER                    the check
#   looping_run.sh LOOPING_PLAYER SECONDS INTERVAL   a table of a 3-s loop, no check
set -euo pipefail
player=$(realpath "$1")
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"

# Running, not ended and waiting to be reaped.
alive() { [ -r "/proc/$pid/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$pid/status"; }
sample() { awk -v k="$2" '$1 == k":" { print $2 }' "/proc/$1/status" 2>/dev/null || true; }
start() {
  env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$player" "$@" 2>stderr.txt &
  pid=$!
}
fail() { echo "looping_run: $*"; cat stderr.txt; exit 1; }

if [ $# -ge 3 ]; then
  start
  printf "%6s %10s %8s\n" seconds rss_kb threads
  for ((t = 0; t <= $2; t += $3)); do
    alive || fail "ended by itself at $t s"
    printf "%6d %10s %8s\n" "$t" "$(sample "$pid" VmRSS)" "$(sample "$pid" Threads)"
    sleep "$3"
  done
else
  start 1000
  # The most early against the least late, so a passing peak decides neither.
  rss0=0 threads0=0 rss1= threads1=
  for ((t = 1; t <= 28; ++t)); do
    sleep 1
    alive || fail "ended by itself at $t s"
    rss=$(sample "$pid" VmRSS) threads=$(sample "$pid" Threads)
    if [ "$t" -ge 6 ] && [ "$t" -le 10 ]; then
      [ "$rss" -gt "$rss0" ] && rss0=$rss
      [ "$threads" -gt "$threads0" ] && threads0=$threads
    elif [ "$t" -ge 24 ]; then
      [ -z "$rss1" ] || [ "$rss" -lt "$rss1" ] && rss1=$rss
      [ -z "$threads1" ] || [ "$threads" -lt "$threads1" ] && threads1=$threads
    fi
  done
  echo "looping_run: ${rss0} kB ${threads0} threads, 20 s later ${rss1} kB ${threads1} threads"
  # One copy of the first metascript came to about 6 MB and a thread a pass.
  [ $((rss1 - rss0)) -lt 16384 ] || fail "resident size grew by $((rss1 - rss0)) kB"
  [ "$threads1" -le $((threads0 + 2)) ] || fail "threads grew from $threads0 to $threads1"
fi

kill -TERM "$pid"
for ((i = 0; i < 50; ++i)); do alive && sleep 0.1 || break; done
! alive || fail "still running 5 s after SIGTERM"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "status $status after SIGTERM"
echo "looping_run: ended on SIGTERM"
