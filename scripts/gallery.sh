#!/usr/bin/env bash
# Draws every dialog in every language with the real win32 code under Wine +
# Xvfb at each display scale into <build>/gallery/<dpi>/<Form>[-variant]-<lcid>.png,
# one contact sheet per dialog beside them, and fails when a text is drawn as
# missing-glyph boxes or does not fit its label or button, or a window or
# control is not at its size scaled to the DPI. Each finding names the
# dialog, the language (LCID) and the DPI; every line the dialogs printed is in
# <build>/gallery/gallery-<dpis>.txt.
# Usage: scripts/gallery.sh <build root> [dpi...]   (make gallery: 96 120 144 192)
set -uo pipefail
build=${1:?build root}
shift
dpis=${*:-96 120 144 192}
root=$(cd "$(dirname "$0")/.." && pwd)
helper=$build/windows/bin/dialog_gallery.exe
out=$build/gallery
[ -f "$helper" ] || { echo "gallery: $helper is missing (make build-windows)" >&2; exit 1; }

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null || exit 1
mkdir -p "$out"
for dpi in $dpis; do rm -rf "${out:?}/$dpi"; done

# One X display for all languages and scales; each language is a process of
# its own, since Windows fixes a process's user culture and DPI when it starts.
xvfb-run -a -s "-screen 0 2560x1600x24" bash -c '
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  # Back at 100 % afterwards, even when stopped half-way: the tests expect it.
  trap "sh \"\$5/scripts/wine-dpi.sh\" 96" EXIT
  for dpi in $4; do
    sh "$5/scripts/wine-dpi.sh" "$dpi"
    mkdir -p "$3/$dpi"
    winout="Z:${3//\//\\}\\$dpi"
    grep -v "^#" "$1" | while read -r locale lcid; do
      [ -n "$locale" ] || continue
      echo "== $locale ($lcid) at $dpi DPI"
      LC_ALL=$locale.UTF-8 OVVB_GALLERY_DPI=$dpi wine "$2" "$winout" </dev/null 2>/dev/null | tr -d "\r"
    done
  done' _ "$root/tests/wine/dialog_locales.txt" "$helper" "$out" "$dpis" "$root" \
  >"$out/gallery-${dpis// /-}.txt"
wineserver -k 2>/dev/null

failed=0
report=$out/gallery-${dpis// /-}.txt
grep '^FAIL' "$report" && failed=1
languages=$(grep -vc '^#' "$root/tests/wine/dialog_locales.txt")
for dpi in $dpis; do
  # Each language's files must carry the LCID the locale list promises.
  while read -r locale lcid; do
    [ -n "$lcid" ] || continue
    n=$(find "$out/$dpi" -name "*-$lcid.png" | wc -l)
    [ "$n" -gt 0 ] || { echo "FAIL $locale at $dpi DPI: no picture for LCID $lcid"; failed=1; }
  done < <(grep -v '^#' "$root/tests/wine/dialog_locales.txt")

  # Contact sheets: every language of one dialog side by side, named by LCID.
  for form in $(find "$out/$dpi" -name '*.png' -printf '%f\n' | sed -E 's/-[0-9]+\.png$//' | sort -u); do
    montage "$out/$dpi/$form"-*.png -tile 4x -geometry 320x144+6+6 -background '#202024' -fill white \
      -font DejaVu-Sans -pointsize 12 -set label '%t' "$out/$dpi/sheet-$form.png" 2>/dev/null ||
      { echo "FAIL contact sheet $form at $dpi DPI"; failed=1; }
  done
  drawn=$(find "$out/$dpi" -name '*.png' ! -name 'sheet-*' | wc -l)
  findings=$(grep -c "^FAIL .* at $dpi DPI:" "$report")
  echo "gallery at $dpi DPI: $drawn dialogs in $languages languages, $findings findings, in $out/$dpi"
done
exit $failed
