#!/usr/bin/env bash
# ctest fixture of the Windows tests that download: starts or stops our HTTP test server
# (http_test_server.py) on 127.0.0.1 with a free port, serving STATE_DIR/root.
#   http-fixture.sh start|stop STATE_DIR
# start leaves STATE_DIR/port (the port) and STATE_DIR/root (the files served; tests put theirs
# there). The programs are pointed at the server by the tests themselves (the machine-wide
# "BankWebHost" value), not here: other tests of the prefix keep the bank's host.
set -euo pipefail
action=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)

stop_running() {
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid"
  fi
}

case "$action" in
  start)
    stop_running
    rm -rf "$dir"
    mkdir -p "$dir/root"
    setsid python3 "$here/http_test_server.py" --root "$dir/root" --port-file "$dir/port" \
      >"$dir/log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.05; done
    if [ ! -s "$dir/port" ]; then
      echo "HTTP test server did not start:" >&2
      cat "$dir/log" >&2
      exit 1
    fi
    echo "HTTP test server on 127.0.0.1:$(cat "$dir/port"), files in $dir/root"
    ;;
  stop)
    stop_running
    ;;
  *)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
