#!/usr/bin/env bash
# Builds every configuration into build/:
#   build/native  g++, portable code, tests, benchmarks, corpus replayers, orbserver
#   build/asan    clang++ with AddressSanitizer + UndefinedBehaviorSanitizer, and libFuzzer targets
#   build/win32   mingw-w64 i686: every DLL and .exe, and the Windows tests run under Wine
#   build/win64   the same for 64-bit Windows, under 64-bit Wine: where a machine cannot run
#                 32-bit programs, the Windows code is still tested
#   build/tsan    clang++ with ThreadSanitizer, for the tests of threaded code
#   build/fuzz    clang++ with UndefinedBehaviorSanitizer alone, optimised: libFuzzer targets
#                 for long runs by hand (README, "Fuzz by hand")
# Usage: tools/build.sh [native|asan|win32|win64|tsan|fuzz ...]   (default: native asan win32)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=${ORB_JOBS:-$(nproc)}
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(native asan win32)

# Configures once with the configuration's options; later runs re-run cmake on the cache, so
# directories that appear since (tests/<dir>/CMakeLists.txt) are picked up.
configure() {
  local dir=$1; shift
  local ok=0
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$dir" "$@" >/dev/null || ok=1
  else
    cmake "$dir" >/dev/null || ok=1
  fi
  if [ $ok -ne 0 ]; then
    echo "build: configuring $(basename "$dir") failed (the CMake errors are above)" >&2
    exit 1
  fi
}

for c in "${configs[@]}"; do
  dir="$top/build/$c"
  case "$c" in
    native) configure "$dir" -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc ;;
    asan)   configure "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
                -DORB_SANITIZE=ON -DORB_FUZZ=ON -DORB_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug ;;
    tsan)   configure "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
                -DORB_TSAN=ON -DORB_BENCH=OFF ;;
    win32)  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" ;;
    win64)  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" ;;
    fuzz)   configure "$dir" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
                -DORB_UBSAN=ON -DORB_FUZZ=ON -DORB_BENCH=OFF ;;
    *) echo "build: unknown configuration $c" >&2; exit 2 ;;
  esac
  echo "== building $c"
  if ! cmake --build "$dir" -j "$jobs" > "$dir/build.log" 2>&1; then
    grep -v -E '^\[ *[0-9]+%\]' "$dir/build.log" | tail -n 60 >&2
    echo "build: $c failed (whole log: $dir/build.log)" >&2
    exit 1
  fi
done
