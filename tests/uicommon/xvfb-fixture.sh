#!/usr/bin/env bash
# ctest fixture of the GUI tests: a virtual X display for Wine's windows.
#   xvfb-fixture.sh start|stop DISPLAY STATE_DIR
# start: when no X server runs on DISPLAY, starts Xvfb there (1024x768x24) and remembers its
# process; a server that already runs (scripts/test.sh starts one before Wine) is left alone. The
# socket and lock file of a server that was killed stay behind in /tmp: a lock whose process is
# gone is stale, and both are removed before the new server starts (Xvfb itself would refuse).
# stop: ends only the Xvfb this fixture started.
set -euo pipefail
action=$1 display=$2 dir=$3
num=${display#:}
case "$action" in
  start)
    mkdir -p "$dir"
    lock=/tmp/.X$num-lock
    if [ -f "$lock" ]; then
      pid=$(tr -dc 0-9 <"$lock")
      if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        echo "X server already on $display (process $pid)"
        exit 0
      fi
      echo "removing the stale X lock and socket of $display"
      rm -f "$lock" "/tmp/.X11-unix/X$num"
    elif [ -e "/tmp/.X11-unix/X$num" ]; then
      rm -f "/tmp/.X11-unix/X$num"
    fi
    setsid Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 </dev/null &
    echo $! >"$dir/xvfb.pid"
    for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$num" ] && break; sleep 0.05; done
    [ -e "/tmp/.X11-unix/X$num" ] || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
    echo "Xvfb on $display"
    ;;
  stop)
    if [ -f "$dir/xvfb.pid" ]; then
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
      rm -f "$dir/xvfb.pid"
    fi
    ;;
  *) echo "usage: $0 start|stop DISPLAY STATE_DIR" >&2; exit 2 ;;
esac
