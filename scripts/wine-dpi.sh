#!/bin/sh
# Sets the display scale of the Wine prefix in WINEPREFIX, as Windows' display
# settings would: 96 DPI is 100 %, 120 is 125 %, 144 is 150 %, 192 is 200 %.
# Each program reads it when it starts (from the running wineserver, so a
# persistent one need not end): one already running keeps its own.
#   scripts/wine-dpi.sh <dpi>
set -eu
dpi=${1:?dpi}
case $dpi in
  *[!0-9]* | "") echo "$0: not a DPI: $dpi" >&2; exit 2 ;;
esac
: "${WINEPREFIX:?WINEPREFIX must be set}"
wine=$(command -v wine64 || command -v wine)
for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
  "$wine" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
done
