#!/usr/bin/env bash
# The player as a person meets it, and the end of a run on a signal:
# - headless, run directly (no silent driver named): no sound library
#   noise, and SIGINT ends the run within a second with status 0 and the
#   whole log;
# - windowed through the shown full setup dialog on a private X server,
#   the player's probe failing a check every frame: each check shows its
#   box once (answered here), right Alt held with the mouse still stops
#   demo time, and the demo plays to its end with status 0;
# - the same with a box left open: SIGINT ends it within a second, status
#   0, the whole log.
#   desktop_run.sh PLAYER FULL_SETUP_PLAYER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
player=$1
full_setup=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "desktop_run: $*"; cat "$work/log.txt" 2>/dev/null | tail -20; exit 1; }

# The log ends with the profiling report's last counter.
log_complete() { # NGA_OUT
  grep -q '^----------- Profiling report' "$1" && tail -1 "$1" | grep -q '^VorbisChannel::Fill '
}

# SIGINT; the player must end within a second, with status 0.
interrupt() { # NAME PID
  local status=0
  kill -INT "$2"
  for _ in $(seq 10); do kill -0 "$2" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$2" 2>/dev/null; then
    kill -KILL "$2"
    fail "$1: still running a second after SIGINT"
  fi
  wait "$2" || status=$?
  [ "$status" -eq 0 ] || fail "$1: status $status after SIGINT"
}

if [ -z "${QUILLON_E2E_XSERVER:-}" ]; then
  mkdir -p "$work/headless/frames"
  cd "$work/headless"
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_AUDIODRIVER QUILLON_SCREEN_DIR="$work/headless/frames" \
    "$player" >"$work/log.txt" 2>&1 &
  pid=$!
  # Well past the loading screen's frames: the demo runs.
  for _ in $(seq 600); do
    [ "$(find frames -name '*.bmp' | wc -l)" -ge 200 ] && break
    kill -0 "$pid" 2>/dev/null || fail "headless: ended early"
    sleep 0.1
  done
  interrupt headless "$pid"
  log_complete nga.out || fail "headless: log incomplete"
  ! grep -q '^ALSA' "$work/log.txt" || fail "headless: sound library errors"
  echo "desktop_run: headless: SIGINT ended the run"

  source "$here/xvfb.sh"
  command -v Xvfb >/dev/null || { echo "desktop_run: needs Xvfb"; exit 77; }
  with_xvfb 1024x768x24 env QUILLON_E2E_XSERVER=1 bash "$here/desktop_run.sh" "$@"
  exit
fi

export SDL_AUDIODRIVER=dummy
unset WAYLAND_DISPLAY QUILLON_HEADLESS QUILLON_DIALOG

# Starts the full setup player in DIR and chooses a 640 x 480 window in
# its dialog the way a person does; sets pid.
start_windowed() { # DIR
  mkdir -p "$1"
  cd "$1"
  # A config folder of its own: the dialog starts from its defaults.
  XDG_CONFIG_HOME=$1/cfg QUILLON_E2E_FAIL_CHECK=1000000 "$full_setup" >"$work/log.txt" 2>&1 &
  pid=$!
  local dialog
  dialog=$(timeout 60 xdotool search --sync --onlyvisible --name "Quillon 3D Setup") || fail "no setup dialog"
  sleep 1 # the toolkit takes input once the dialog has settled
  xdotool windowfocus --sync "$dialog"
  # The toolkit needs the pointer over a widget before it takes a click.
  click() { xdotool mousemove --window "$dialog" "$1" "$2" sleep 0.3 click "${@:3}" 1 sleep 0.3; }
  click 24 58                                      # Windowed
  click 140 152 --repeat 3 && xdotool type 640     # Width
  click 272 152 --repeat 3 && xdotool type 480     # Height
  click 454 520                                    # Start
}

boxes_open() { xdotool search --onlyvisible --name '^Assertion failed$' 2>/dev/null || true; }

# Answers each box that shows, one line per box into FILE, until killed.
answer_boxes() { # FILE
  local box
  while true; do
    for box in $(boxes_open); do
      xdotool windowfocus --sync "$box" key Return 2>/dev/null && echo "$box" >>"$1"
    done
    sleep 0.2
  done
}
# A check that failed every frame and boxed every time could not be played.
boxes_checked() { [ "$(wc -l <"$work/answered")" -le 20 ] || fail "more than twenty boxes"; }

mean() { # CROP: the window's mean brightness there, in percent
  import -window "$window" png:- | convert - -crop "$1" -format '%[fx:int(100*mean)]' info:
}
logo_pixels() { # the logo's blue badge in the top-right corner
  import -window "$window" png:- | convert - -crop 60x30+565+10 -fx '(b > 0.5 && r < 0.4)' -format '%[fx:int(mean*w*h)]' info:
}
# The statistics overlay (P) shows black text on white boxes; the loading
# screen is white all over.
statistics_shown() { local m; m=$(mean 290x20+0+14); [ "$m" -gt 50 ] && [ "$m" -lt 97 ]; }
demo_time() { import -window "$window" png:- | convert - -crop 130x10+0+15 rgb:- | md5sum; } # its "TIME:" line
# The shown demo time stays the same for two seconds (one slow frame
# could hold it for one).
time_stands() {
  local a b c
  boxes_checked
  a=$(demo_time); sleep 1; b=$(demo_time); sleep 1; c=$(demo_time)
  [ "$a" = "$b" ] && [ "$b" = "$c" ]
}
focus() { xdotool mousemove --window "$window" 320 240 windowfocus --sync "$window"; }

# 1: played to its end, every box answered.
start_windowed "$work/played"
: >"$work/answered"
answer_boxes "$work/answered" &
answerer=$!
trap 'kill "$answerer" 2>/dev/null || true; rm -rf "$work"' EXIT
# The demo runs: the logo's badge drawn, the middle of the picture not the white
# loading screen.
window=
for _ in $(seq 600); do
  boxes_checked
  info=$(xwininfo -name "Quillon 3D Realtime Technology by Corvane" 2>/dev/null) || true
  if grep -q "Map State: IsViewable" <<<"$info"; then
    window=$(awk '/Window id:/ { print $4 }' <<<"$info")
    [ "$(logo_pixels)" -gt 900 ] && [ "$(mean 200x100+220+190)" -lt 50 ] && break
  fi
  kill -0 "$pid" 2>/dev/null || fail "played: ended early"
  sleep 0.2
done
[ -n "$window" ] || fail "played: no output window"
[ "$(xwininfo -id "$window" | awk '/Width|Height/ { printf "%s ", $NF }')" = "640 480 " ] ||
  fail "played: not a 640 x 480 window"

# With the statistics shown, time runs; right Alt held with the mouse
# still stops it; UP lets it run again. The input is read once a frame and
# a key pressed and released within one frame does not count: each key is
# held until it takes effect.
focus
xdotool keydown p
for _ in $(seq 60); do statistics_shown && break; sleep 0.5; done
xdotool keyup p
statistics_shown || fail "played: no statistics after P"
ran=false
for _ in 1 2 3; do time_stands || { ran=true; break; }; done
$ran || fail "played: demo time stands still without right Alt"
focus
xdotool keydown Alt_R
stood=false
for _ in 1 2 3; do time_stands && { stood=true; break; }; done
xdotool keyup Alt_R
$stood || fail "played: right Alt held does not stop demo time"
focus
xdotool keydown Up
for _ in $(seq 10); do time_stands || break; done
xdotool keyup Up

status=
for _ in $(seq 600); do
  boxes_checked
  if ! kill -0 "$pid" 2>/dev/null; then
    status=0
    wait "$pid" || status=$?
    break
  fi
  sleep 0.2
done
kill "$answerer"
[ -n "$status" ] || { kill -KILL "$pid"; fail "played: not ended in time"; }
[ "$status" -eq 0 ] || fail "played: status $status"
boxes_checked
answered=$(wc -l <"$work/answered")
shown=$(grep -c '^\[Assertion failed\]' "$work/log.txt" || true)
distinct=$(grep '^\[Assertion failed\]' "$work/log.txt" | sort -u | wc -l)
[ "$shown" -eq "$distinct" ] || fail "played: $shown boxes for $distinct checks"
[ "$answered" -eq "$shown" ] || fail "played: $answered boxes answered, $shown shown"
grep -Eq '^Assertion failed [0-9]{2,} times: probe of the end-to-end run$' nga.out ||
  fail "played: no count of the repeated check"
log_complete nga.out || fail "played: log incomplete"
echo "desktop_run: played: $shown boxes, each check once"

# 2: SIGINT while a box is open.
start_windowed "$work/box"
timeout 60 xdotool search --sync --onlyvisible --name '^Assertion failed$' >/dev/null || fail "box: no box"
interrupt box "$pid"
log_complete nga.out || fail "box: log incomplete"
echo "desktop_run: box: SIGINT ended the run"
