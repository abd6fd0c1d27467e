#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test: native, under
# AddressSanitizer + UndefinedBehaviorSanitizer, under ThreadSanitizer, and the Windows
# programs, 32-bit and 64-bit, under Wine. Exits non-zero when a build or a test fails, and
# names it at the end; names too the tests that could not run on this machine (32-bit Wine,
# where the kernel runs no 32-bit programs).
# ORB_CONFIGS picks configurations (default "native asan tsan win32 win64"), ORB_TEST_JOBS the
# number of tests run at once (default 2).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/tools/setup.sh" || { echo "== set-up failed" >&2; exit 1; }

# why_skipped CONFIG "NAMES" LOG: one line per reason, the skipped tests that gave it.
why_skipped() {
  awk -v config="$1" -v names=" $2" '
    / Testing: / { name = $3 }
    /^<end of output>/ { if (index(names, " " name " ")) {
                           tests[last] = tests[last] " " name }; out = 0 }
    out && NF { last = $0 }
    /^Output:/ { out = 0; getline; out = 1; last = "" }
    END { for (r in tests) printf "   %s:%s\n      %s\n", config, tests[r], r }' "$3"
}

read -r -a configs <<< "${ORB_CONFIGS:-native asan tsan win32 win64}"
failed=() skipped=()
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
  (cd "$dir" && ctest --output-on-failure -j "${ORB_TEST_JOBS:-2}" --timeout 600) \
    | grep -v -E '^ *Start +[0-9]+:' | tee "$dir/test-output.log"
  rc=${PIPESTATUS[0]}
  # A test that could not run on this machine is named at the end with the last line it
  # printed, its reason (ctest keeps a skipped test's output only in its log).
  names=$(sed -n -E 's/^.*Test +#[0-9]+: ([^ ]+) .*\*\*\*Skipped.*$/\1/p' "$dir/test-output.log" | tr '\n' ' ')
  [ -z "$names" ] || skipped+=("$(why_skipped "$c" "$names" "$dir/Testing/Temporary/LastTest.log")")
  echo "== $c: built in ${built} s, tested in $((SECONDS - start)) s"
  if [ "$rc" -ne 0 ]; then
    names=$(sed 's/^[0-9]*://' "$dir/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ')
    failed+=("$c: ${names:-ctest failed}")
  fi
done

if [ ${#skipped[@]} -gt 0 ]; then
  echo "== skipped, not run on this machine"
  for s in "${skipped[@]}"; do echo "$s"; done
fi
if [ ${#failed[@]} -eq 0 ]; then
  echo "== all tests passed${skipped[0]:+ but those skipped}"
  exit 0
fi
echo "== FAILED"
for f in "${failed[@]}"; do echo "   $f"; done
exit 1
