#!/usr/bin/env bash
# Draws every dialog in every language with the real win32 code under Wine +
# Xvfb into <build>/gallery/<Form>[-variant]-<lcid>.png, one contact sheet per
# dialog beside them, and fails when a text is drawn as missing-glyph boxes
# or does not fit its label or button.
# Usage: scripts/gallery.sh <build root>   (make gallery)
set -uo pipefail
build=${1:?build root}
root=$(cd "$(dirname "$0")/.." && pwd)
helper=$build/windows/bin/dialog_gallery.exe
out=$build/gallery
[ -f "$helper" ] || { echo "gallery: $helper is missing (make build-windows)" >&2; exit 1; }

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null || exit 1
rm -rf "$out"
mkdir -p "$out"
winout="Z:${out//\//\\}"

# One X display for all languages; each language is a process of its own,
# since Windows fixes a process's user culture when it starts.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  grep -v "^#" "$1" | while read -r locale lcid; do
    [ -n "$locale" ] || continue
    echo "== $locale ($lcid)"
    LC_ALL=$locale.UTF-8 wine "$2" "$3" </dev/null 2>/dev/null | tr -d "\r"
  done' _ "$root/tests/wine/dialog_locales.txt" "$helper" "$winout" >"$out/gallery.txt"
wineserver -k 2>/dev/null

failed=0
grep '^FAIL' "$out/gallery.txt" && failed=1
languages=$(grep -vc '^#' "$root/tests/wine/dialog_locales.txt")
drawn=$(find "$out" -name '*.png' | wc -l)
# Each language's files must carry the LCID the locale list promises.
while read -r locale lcid; do
  [ -n "$lcid" ] || continue
  n=$(find "$out" -name "*-$lcid.png" | wc -l)
  [ "$n" -gt 0 ] || { echo "FAIL $locale: no picture for LCID $lcid"; failed=1; }
done < <(grep -v '^#' "$root/tests/wine/dialog_locales.txt")

# Contact sheets: every language of one dialog side by side, named by LCID.
for form in $(find "$out" -name '*.png' -printf '%f\n' | sed -E 's/-[0-9]+\.png$//' | sort -u); do
  montage "$out/$form"-*.png -tile 4x -geometry 320x144+6+6 -background '#202024' -fill white \
    -font DejaVu-Sans -pointsize 12 -set label '%t' "$out/sheet-$form.png" 2>/dev/null ||
    { echo "FAIL contact sheet $form"; failed=1; }
done

echo "gallery: $drawn dialogs in $languages languages, $(find "$out" -name 'sheet-*.png' | wc -l) contact sheets in $out"
exit $failed
