#!/usr/bin/env bash
# The set-up script against stand-ins for dpkg-query, dpkg and apt-get: with everything
# installed it installs nothing; with packages unknown to dpkg (a fresh machine, where
# dpkg-query fails for them) it adds i386 where missing, updates the lists and installs
# exactly the missing packages, from the release's own versions when the first install fails.
set -u
setup=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin"

# dpkg-query: knows the packages listed in $work/installed; exits 1 if asked for others.
cat > "$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
rc=0
for q in "${@:3}"; do  # after -W and -f=FORMAT
  name=${q%%:*} arch=amd64
  [ "$q" != "$name" ] && arch=${q#*:}
  if grep -qx "$name" "$FAKE_DIR/installed"; then printf '%s=installed %s:%s=installed ' "$name" "$name" "$arch"
  else echo "dpkg-query: no packages found matching $q" >&2; rc=1; fi
done
exit $rc
FAKE
cat > "$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
case "$1" in
  --print-foreign-architectures) cat "$FAKE_DIR/arches" ;;
  --add-architecture) echo "$2" >> "$FAKE_DIR/arches"; echo "dpkg $*" >> "$FAKE_DIR/calls" ;;
esac
FAKE
# apt-get: with FAKE_MISMATCH set, an install fails unless it names a target release, as
# when an updates index is missing and i386 libraries cannot match their amd64 twins.
cat > "$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >> "$FAKE_DIR/calls"
[ "$1" = install ] && [ -n "${FAKE_MISMATCH:-}" ] && [[ " $* " != *" -t "* ]] && exit 100
exit 0
FAKE
chmod +x "$work/bin/"*
export FAKE_DIR=$work PATH="$work/bin:$PATH"

fails=0
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if ! "$@"; then echo "WRONG: $what"; cat "$work/calls" 2>/dev/null; fails=$((fails + 1)); fi
}

# Every package the script names, as installed.
all=$(sed -n '/^native_pkgs=(/,/)/p;/^win_pkgs=(/,/)/p' "$setup" | tr -d '()' | sed 's/^[a-z_]*=//' | tr ' ' '\n' | grep -v '^$')
printf '%s\n' $all | sed 's/:i386$//' > "$work/installed"
echo i386 > "$work/arches"
: > "$work/calls"
bash "$setup" > "$work/out" 2>&1
check "everything installed: exit 0" test $? -eq 0
check "everything installed: apt-get not called" test ! -s "$work/calls"

# A fresh machine: no i386, wine and mingw unknown; then the same with the first install
# refused, as when i386 and amd64 versions cannot be matched.
grep -v -E '^(wine|wine32|g\+\+-mingw-w64-i686-posix)$' "$work/installed" > "$work/i" && mv "$work/i" "$work/installed"
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
for mismatch in "" 1; do
  what=${mismatch:+mismatched versions}
  what=${what:-fresh machine}
  : > "$work/arches"
  : > "$work/calls"
  FAKE_MISMATCH=$mismatch bash "$setup" > "$work/out" 2>&1
  rc=$?
  check "$what: exit 0 (got $rc: $(cat "$work/out"))" test $rc -eq 0
  check "$what: i386 added" grep -q '^dpkg --add-architecture i386$' "$work/calls"
  check "$what: lists updated" grep -q '^apt-get update' "$work/calls"
  check "$what: exactly the missing packages installed" \
    grep -q -E '^apt-get install -y -qq --no-install-recommends g\+\+-mingw-w64-i686-posix wine wine32:i386$' "$work/calls"
  retried=$(grep -c -E "^apt-get install -y .* -t $codename .*wine32:i386\$" "$work/calls")
  check "$what: installed again from $codename only if refused (${retried}x)" \
    test "$retried" -eq "${mismatch:-0}"
done

[ $fails -eq 0 ] && echo "setup script: all cases passed"
exit $fails
