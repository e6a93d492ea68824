#!/usr/bin/env bash
# Configures and builds one or more trees under build/:
#   native  g++ with AddressSanitizer and UndefinedBehaviorSanitizer (the native test tree)
#   clang   clang, plain (checks the core builds with a second compiler)
#   win     MinGW-w64 i686 cross build of the deliverables and the Windows tests (32-bit Windows)
#   win64   MinGW-w64 x86-64 cross build of the same (64-bit Windows)
#   fuzz    clang with libFuzzer: the fuzz targets (fuzz/), not part of the test run
#   bench   g++ optimised: the benchmarks (bench/)
#   installer  ORV_ZV_Setup.exe for 32-bit and 64-bit Windows from the two Windows trees, signed
#              with the build's test certificate (build/installer; needs win and win64 built)
# Usage: scripts/build.sh [native] [clang] [win] [win64] [fuzz] [bench] [installer]
#   (default: the first four)
# Both Windows trees are built on every machine, whether or not it can run their tests.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${UK_JOBS:-$(nproc)}
variants=("$@")
[ ${#variants[@]} -gt 0 ] || variants=(native clang win win64)

for v in "${variants[@]}"; do
  dir="$top/build/$v"
  if [ "$v" = installer ]; then
    bash "$top/installer/build.sh"
    continue
  fi
  case "$v" in
    native) args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DUK_SANITIZE=ON) ;;
    clang)  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang) ;;
    fuzz)   args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DUK_FUZZ=ON) ;;
    bench)  args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DUK_BENCH=ON) ;;
    win)    args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake"
                  -DUK_WINEPREFIX="$(readlink -f "$top/build/wineprefix")") ;;
    win64)  args=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake"
                  -DUK_WINEPREFIX="$(readlink -f "$top/build/wineprefix64")") ;;
    *) echo "unknown build variant: $v" >&2; exit 2 ;;
  esac
  cmake -S "$top" -B "$dir" -G Ninja "${args[@]}" ${UK_CMAKE_ARGS:-} >/dev/null
  cmake --build "$dir" -j "$jobs"
done
