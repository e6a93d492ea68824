# Sourced by the project's scripts: which Windows trees this machine can run, and the Wine loader
# and prefix of each.
#
# Some of our machines cannot execute 32-bit x86 code at all (every i386 program fails with
# "Exec format error"), so 32-bit Wine cannot start there; 64-bit Wine runs everywhere. The i686
# tree is built on every machine but its tests run only where 32-bit code runs. UK_NO_WIN32=1
# makes a machine that can run it behave as one that cannot (to rehearse that case).
#
# After sourcing: uk_trees (the Windows trees this machine runs, "win" first when it can),
# uk_win32_reason (why "win" is missing, empty when it runs), and the functions below.

uk_top=${uk_top:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
uk_wine32=/usr/lib/wine/wine
uk_wine64=/usr/lib/wine/wine64

uk_win32_reason=
if [ "${UK_NO_WIN32:-0}" = 1 ]; then
  uk_win32_reason="UK_NO_WIN32=1 is set"
elif [ ! -x "$uk_wine32" ]; then
  uk_win32_reason="32-bit Wine is not installed"
elif ! "$uk_wine32" --version >/dev/null 2>&1; then
  uk_win32_reason="this machine cannot execute 32-bit x86 code"
fi
if [ -z "$uk_win32_reason" ]; then uk_trees=(win win64); else uk_trees=(win64); fi

# uk_wine_loader TREE / uk_prefix_link TREE: the loader and the prefix (a symlink under build/
# to the prefix of the installed Wine version) of a Windows tree.
uk_wine_loader() { if [ "$1" = win ]; then echo "$uk_wine32"; else echo "$uk_wine64"; fi; }
uk_prefix_link() { if [ "$1" = win ]; then echo "$uk_top/build/wineprefix"; else echo "$uk_top/build/wineprefix64"; fi; }

# uk_use_tree TREE: exports WINE, WINEPREFIX and WINEDEBUG for that tree.
uk_use_tree() {
  export WINE=$(uk_wine_loader "$1")
  export WINEPREFIX=$(readlink -f "$(uk_prefix_link "$1")")
  export WINEDEBUG=${UK_WINEDEBUG:--all}
}

# uk_point_emulator LOADER PORT: points the prefix's machine-wide "VirtualToken" setting at a
# token emulator on 127.0.0.1:PORT, remembering its value; uk_restore_emulator LOADER puts that
# back (or removes the setting when there was none).
uk_emulator_key='HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer'
uk_point_emulator() {
  uk_emulator_previous=$("$1" reg query "$uk_emulator_key" /v VirtualToken 2>/dev/null |
                         tr -d '\r' | awk '/VirtualToken/ {print $NF}' || true)
  "$1" reg add "$uk_emulator_key" /v VirtualToken /t REG_SZ /d "127.0.0.1:$2" /f >/dev/null 2>&1
}
uk_restore_emulator() {
  if [ -n "${uk_emulator_previous:-}" ]; then
    "$1" reg add "$uk_emulator_key" /v VirtualToken /t REG_SZ /d "$uk_emulator_previous" /f >/dev/null 2>&1 || true
  else
    "$1" reg delete "$uk_emulator_key" /v VirtualToken /f >/dev/null 2>&1 || true
  fi
}
