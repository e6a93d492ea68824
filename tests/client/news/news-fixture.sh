#!/usr/bin/env bash
# ctest fixture of the news tests: start or stop the local news server (news_server.py) on
# 127.0.0.1; its port is written to DIR/port, where the tests read it.
#   news-fixture.sh start|stop DIR
set -euo pipefail
action=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
stop_running() {
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$dir/pid"
  fi
}
case "$action" in
  start)
    stop_running
    rm -rf "$dir"
    mkdir -p "$dir"
    setsid python3 "$here/news_server.py" --port-file "$dir/port" >"$dir/log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.1; done
    if [ ! -s "$dir/port" ]; then
      echo "news server did not start:" >&2
      cat "$dir/log" >&2
      exit 1
    fi
    echo "news server on 127.0.0.1:$(cat "$dir/port")"
    ;;
  stop) stop_running ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
