#!/bin/sh
# Runs one step of the Windows module's tests from the Linux build's CTest.
#   wine_test.sh prefix              create the Wine prefix the tests share
#   wine_test.sh wine PROGRAM ARGS   run a Windows program under Wine
#   wine_test.sh native PROGRAM ARGS run a Linux program that needs the Windows build
# Absolute paths among ARGS are passed to Windows programs on drive Z:.
# Without the Windows build or Wine the step is skipped (77), unless
# VS_REQUIRE_WINDOWS=1 makes that a failure.
set -u
mode=$1
shift

missing=
[ -f "$VS_WINDOWS_BUILD_DIR/Lanthorn.aex" ] || missing="$VS_WINDOWS_BUILD_DIR/Lanthorn.aex (cmake --preset windows && cmake --build build/windows)"
command -v wine >/dev/null 2>&1 || missing="${missing:+$missing, }wine"
if [ -n "$missing" ]; then
  echo "missing: $missing"
  if [ "${VS_REQUIRE_WINDOWS:-0}" = 1 ]; then exit 1; fi
  exit 77
fi

case $mode in
  prefix)
    # No Mono or Gecko installers: they would prompt and need the network.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init || exit 1
    fi
    wineserver --wait
    [ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix at $WINEPREFIX"; exit 1; }
    ;;
  wine)
    program=$1
    shift
    for arg in "$@"; do
      shift
      case $arg in
        /*) set -- "$@" "Z:$arg" ;;
        *) set -- "$@" "$arg" ;;
      esac
    done
    exec wine "$program" "$@"
    ;;
  native)
    exec "$@"
    ;;
  *)
    echo "unknown mode $mode"
    exit 2
    ;;
esac
