#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: native, under
# AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer, and the Windows
# programs under Wine. Exits non-zero when a build or a test fails, and names it at the end.
# ORB_CONFIGS picks configurations (default "native asan tsan win32"), ORB_TEST_JOBS the
# number of tests run at once (default 2).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh" || { echo "== set-up failed" >&2; exit 1; }

read -r -a configs <<< "${ORB_CONFIGS:-native asan tsan win32}"
failed=()
for c in "${configs[@]}"; do
  start=$SECONDS
  if ! "$top/tools/build.sh" "$c"; then
    failed+=("$c: the build (see above)")
    continue
  fi
  built=$((SECONDS - start))
  echo "== testing $c"
  start=$SECONDS
  dir="$top/build/$c"
  (cd "$dir" && ctest --output-on-failure -j "${ORB_TEST_JOBS:-2}" --timeout 600) | grep -v -E '^ *Start +[0-9]+:'
  rc=${PIPESTATUS[0]}
  echo "== $c: built in ${built} s, tested in $((SECONDS - start)) s"
  if [ "$rc" -ne 0 ]; then
    names=$(sed 's/^[0-9]*://' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ')
    failed+=("$c: ${names:-ctest failed}")
  fi
done

if [ ${#failed[@]} -eq 0 ]; then
  echo "== all tests passed"
  exit 0
fi
echo "== FAILED"
for f in "${failed[@]}"; do echo "   $f"; done
exit 1
