#!/bin/sh
# Link launcher for the deliverables: runs the link with the win32-thread-model driver instead of
# the posix one, so that the static C++ runtime in the deliverables uses plain Win32 primitives
# and does not pull in winpthreads (which imports functions Windows 2000 and XP lack).
cmd=$1; shift
case "$cmd" in
  *-posix) cmd=${cmd%-posix}-win32 ;;
esac
exec "$cmd" "$@"
