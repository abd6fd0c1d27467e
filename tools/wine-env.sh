# Sourced: the Wine that runs a Windows build's programs, by its architecture.
#   ORB_WINE_ARCH  win32 (default: 32-bit programs, what a player runs) or win64
# Sets WINEARCH and WINEDEBUG, ORB_WINE (the command that runs a program) and, for win64,
# WINELOADER. wine_cannot_run prints why this machine cannot run that Wine, if it cannot.
export WINEDEBUG=-all
export ORB_WINE_ARCH=${ORB_WINE_ARCH:-win32}  # for the scripts this shell runs
case "$ORB_WINE_ARCH" in
  win64)
    # Debian's "wine" prefers the 32-bit loader whenever it is installed: ask for the other.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    ORB_WINE=$WINELOADER ;;
  *)
    export WINEARCH=win32
    ORB_WINE=wine ;;
esac

wine_cannot_run() {
  if [ "$WINEARCH" = win32 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    # Wine's 32-bit half is 32-bit Linux code: a kernel whose IA-32 emulation is off
    # refuses it (ENOEXEC), and every Windows program would fail the same way.
    echo "this machine cannot run 32-bit x86 programs (its kernel's IA-32 emulation is off)," \
         "so Wine cannot run 32-bit Windows programs here"
  elif ! command -v "$ORB_WINE" >/dev/null; then
    echo "$ORB_WINE is not installed"
  else
    return 1
  fi
}
