#!/usr/bin/env bash
# The video wall on built-in test channels.
#
# Starts tilu-channels in a network namespace of its own (nothing reaches the host's network),
# opens tilu on the channels' playlist inside the same namespace, and cleans up on every way
# out. Without a display it runs the wall under Xvfb for a while and saves a screenshot.
#
#   tools/demo.sh [--channels N] [--seconds S] [--screenshot FILE] [--rtp] [-- TILU-OPTIONS...]
#
# TILU_BUILD_DIR chooses the build tree (default build/).
set -euo pipefail

usage() {
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
  exit "${1:-0}"
}

origin=$PWD
channels=9
seconds=28
screenshot=$origin/tilu-demo.png
format=udp
tilu_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --channels) channels=${2:?--channels needs a number}; shift 2 ;;
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --screenshot) screenshot=${2:?--screenshot needs a file}; shift 2 ;;
    --rtp) format=rtp; shift ;;
    -h|--help) usage 0 ;;
    --) shift; tilu_args=("$@"); break ;;
    *) echo "demo: unknown argument $1" >&2; usage 2 >&2 ;;
  esac
done
case "$channels$seconds" in *[!0-9]*|'') echo "demo: --channels and --seconds take numbers" >&2; exit 2 ;; esac
case "$screenshot" in /*) ;; *) screenshot=$origin/$screenshot ;; esac

cd "$(dirname "$0")/.."
build=${TILU_BUILD_DIR:-build}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
sender_bin=$build/tools/tilu-channels
tilu_bin=$build/player/tilu
for bin in "$sender_bin" "$tilu_bin"; do
  if [ ! -x "$bin" ]; then
    echo "demo: $bin is missing; build first (bash setup.sh build)" >&2
    exit 1
  fi
done

# Network namespaces need root.
if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=DISPLAY,XAUTHORITY,TILU_BUILD_DIR "$0" --channels "$channels" \
    --seconds "$seconds" --screenshot "$screenshot" $([ "$format" = rtp ] && echo --rtp) \
    -- "${tilu_args[@]}"
fi

netns=tilu-demo-$$
work=$(mktemp -d /tmp/tilu-demo.XXXXXX)
sender_pid=
tilu_pid=
xvfb_pid=

# Ends one process that this script started: SIGTERM, up to 5 s, then SIGKILL; always reaped.
end_process() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  end_process "$tilu_pid"
  end_process "$sender_pid"
  end_process "$xvfb_pid"
  # The sender deletes its namespace itself; this catches a sender that was killed outright.
  if ip netns list 2>/dev/null | grep -q "^$netns\( \|$\)"; then
    ip netns delete "$netns" || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() {
  echo "demo: $1" >&2
  for log in "$work"/*.log; do
    [ -s "$log" ] || continue
    echo "--- $(basename "$log")" >&2
    tail -n 30 "$log" >&2
  done
  exit 1
}

# Light encoding: nine channels and the wall share two cores.
echo "demo: starting $channels test channels ($format) in network namespace $netns"
"$sender_bin" --count "$channels" --size 640x360 --fps 25 --light --bitrate 1000 \
  --format "$format" --netns "$netns" --playlist "$work/channels.m3u" \
  --duration $((seconds + 3600)) >"$work/sender.out" 2>"$work/sender.log" &
sender_pid=$!
for _ in $(seq 300); do
  grep -qx ready "$work/sender.out" 2>/dev/null && break
  kill -0 "$sender_pid" 2>/dev/null || fail "the channel sender stopped"
  sleep 0.1
done
grep -qx ready "$work/sender.out" || fail "the channel sender did not get ready"

# Started in the host's namespace, the sender made $netns; started inside another one, it
# sends right there, and so tilu runs there too.
in_netns=()
if ip netns list | grep -q "^$netns\( \|$\)"; then
  in_netns=(ip netns exec "$netns")
fi

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 150); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb stopped"
    sleep 0.1
  done
  [ -s "$work/display" ] || fail "Xvfb reported no display"
  export DISPLAY=:$(head -n 1 "$work/display")
  echo "demo: no display; running under Xvfb on $DISPLAY"
fi

echo "demo: opening tilu on $channels channels"
"${in_netns[@]}" "$tilu_bin" "${tilu_args[@]}" "$work/channels.m3u" >"$work/tilu.log" 2>&1 &
tilu_pid=$!

if [ "$headless" -eq 0 ]; then
  echo "demo: close the window (or press Escape) to end"
  status=0
  wait "$tilu_pid" || status=$?
  tilu_pid=
  exit "$status"
fi

# Like a user maximising the window: the wall fills the screen that is shot.
window=
for tick in $(seq $((seconds * 10))); do
  kill -0 "$tilu_pid" 2>/dev/null || fail "tilu ended early"
  if [ -z "$window" ] && [ $((tick % 10)) -eq 0 ]; then
    window=$(xdotool search --name '^Tiluplay 0.8$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && xdotool windowmove "$window" 0 0 windowsize "$window" 1280 720 || true
  fi
  sleep 0.1
done
rm -f "$screenshot"
import -display "$DISPLAY" -window root "$screenshot" || fail "the screenshot failed"
echo "demo: screenshot of the wall after ${seconds} s: $screenshot"
