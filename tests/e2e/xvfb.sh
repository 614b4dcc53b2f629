# with_xvfb SCREEN COMMAND...: runs COMMAND on a private X server of that
# screen size (e.g. 640x480x24). The server picks a free display number
# itself, so runs in parallel never share or race for one. Keys held down do
# not repeat for 30 s, so a test can hold one until it sees the effect.
with_xvfb() {
  local screen=$1
  shift
  local dir
  dir=$(mktemp -d)
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -ardelay 30000 3>"$dir/display" 2>"$dir/log" &
  local server=$! status=0
  for _ in $(seq 300); do [ -s "$dir/display" ] && break; sleep 0.1; done
  if [ -s "$dir/display" ]; then
    DISPLAY=":$(head -1 "$dir/display")" "$@" || status=$?
  else
    echo "Xvfb did not start:"; cat "$dir/log"; status=1
  fi
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  rm -rf "$dir"
  return "$status"
}
