# Sourced by the scripts that run Windows programs of the windows-x64 tree under Wine
# (scripts/test-windows, scripts/test-package), from the repository's root. Sets the prefix
# of that tree and defines start_wine and stop_wine.
#
# The first Windows program of a prefix starts the wineserver and Wine's service processes
# (services.exe, winedevice.exe, plugplay.exe, rpcss.exe, ...), and they inherit its standard
# output and error. Whoever reads that program's output to its end (CTest, the test discovery
# at build time, a test script) then waits until those processes quit, which is when the last
# Windows program of the prefix is done: a program that passed would time out. So the server
# is started to stay, and its services by a program whose output goes nowhere, before any
# program whose output is read; stop_wine ends them all, and with them anything left running.
export KESTO_BUILD=build/windows-x64
export WINEPREFIX="$PWD/$KESTO_BUILD/wine-prefix"
KESTO_WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export KESTO_WINESERVER

start_wine() {
  "$KESTO_WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$KESTO_BUILD/wine-run" cmd /c exit </dev/null >/dev/null 2>"$WINEPREFIX.start.log" || {
    cat "$WINEPREFIX.start.log" >&2
    echo "Wine did not start in $WINEPREFIX" >&2
    return 1
  }
}
stop_wine() {
  if [ -d "$WINEPREFIX" ]; then
    "$KESTO_WINESERVER" -k 2>/dev/null || true
  fi
}
