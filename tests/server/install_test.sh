#!/usr/bin/env bash
# The install target: orbserver and its systemd unit land where the unit says orbserver is,
# and the installed program runs.
#   install_test.sh NATIVE_BUILD_DIR
set -euo pipefail
build=${1:?usage: install_test.sh NATIVE_BUILD_DIR}
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" > /dev/null
unit=$(find "$stage" -name orbserver.service -path '*/lib/systemd/system/*')
[ -n "$unit" ] || { echo "install_test: no orbserver.service installed under lib/systemd/system"; exit 1; }
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ -n "$exec_start" ] || { echo "install_test: the unit has no ExecStart"; exit 1; }
[ -x "$stage$exec_start" ] || { echo "install_test: the unit starts $exec_start, which was not installed"; exit 1; }
"$stage$exec_start" --version | grep -q '^orbserver ' || { echo "install_test: the installed orbserver does not run"; exit 1; }
grep -q '^\[Install\]' "$unit" && grep -q '^WantedBy=multi-user.target' "$unit" ||
  { echo "install_test: the unit cannot be enabled"; exit 1; }
echo "install_test: $exec_start and $(basename "$unit") installed"
