#!/usr/bin/env bash
# ctest fixture of the Windows tests: start or stop the native token emulator and point the Wine
# prefix's machine-wide "VirtualToken" value at it.
#   tokensim-fixture.sh start|stop TOKENSIM STATE_DIR
set -euo pipefail
action=$1 sim=$2 dir=$3
# The Wine loader of the tree under test (ctest passes it as $WINE).
wine=${WINE:-wine}
key='HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer'

stop_running() {
  if [ -f "$dir/port" ]; then
    "$sim" ctl --port-file "$dir/port" shutdown >/dev/null 2>&1 || true
  fi
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
  fi
}

case "$action" in
  start)
    if [ ! -x "$sim" ]; then
      echo "token emulator not built: $sim (build the native tree first)" >&2
      exit 1
    fi
    stop_running
    rm -rf "$dir"
    mkdir -p "$dir/state"
    setsid "$sim" serve --state "$dir/state" --port-file "$dir/port" >"$dir/log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 100); do [ -s "$dir/port" ] && break; sleep 0.1; done
    if [ ! -s "$dir/port" ]; then
      echo "token emulator did not start:" >&2
      cat "$dir/log" >&2
      exit 1
    fi
    port=$(cat "$dir/port")
    "$wine" reg add "$key" /v VirtualToken /t REG_SZ /d "127.0.0.1:$port" /f >/dev/null
    echo "token emulator on 127.0.0.1:$port, state in $dir/state"
    ;;
  stop)
    port=$(cat "$dir/port" 2>/dev/null || true)
    stop_running
    # Remove the setting only while it still names this emulator.
    if [ -n "$port" ] && "$wine" reg query "$key" /v VirtualToken 2>/dev/null | grep -q "127.0.0.1:$port"; then
      "$wine" reg delete "$key" /v VirtualToken /f >/dev/null 2>&1 || true
    fi
    ;;
  *)
    echo "usage: $0 start|stop TOKENSIM STATE_DIR" >&2
    exit 2
    ;;
esac
