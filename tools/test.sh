#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# native, under the sanitizers, and the Windows programs under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh"
"$top/tools/build.sh" native asan tsan win32
status=0
for c in native asan tsan win32; do
  echo "== testing $c"
  (cd "$top/build/$c" && ctest --output-on-failure -j "${ORB_TEST_JOBS:-2}" --timeout 600) || status=1
done
[ $status -eq 0 ] && echo "== all tests passed" || echo "== some tests failed (see above)"
exit $status
