#!/bin/sh
# Creates (once) and configures the Wine prefix the Windows tests run in.
#   scripts/wine-prefix.sh <prefix-dir> [<windows-bin-dir>]
# A prefix that is already set up costs no Wine start at all; only the test
# NVAPI library is refreshed when the build has a newer one.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 <prefix-dir> [<windows-bin-dir>]" >&2
  exit 2
fi

prefix=$1
bin_dir=${2:-}
case $prefix in
  /*) ;;
  *) prefix=$(pwd)/$prefix ;;
esac

if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif command -v wine >/dev/null 2>&1; then
  wine=wine
else
  echo "$0: wine is not installed" >&2
  exit 1
fi

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# No Mono or Gecko download prompts while booting without a display.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY 2>/dev/null || true

# Bump when the settings below change, so existing prefixes pick them up.
settings_version=3
marker="$prefix/.ovvb-prefix"

if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  "$wine" wineboot -i >/dev/null 2>&1
  wineserver -w
fi

if [ "$(cat "$marker" 2>/dev/null || true)" != "$settings_version" ]; then
  reg_file="$prefix/drive_c/ovvb-settings.reg"
  # Without the substitute CJK text is drawn as boxes. WenQuanYi Micro Hei,
  # like the font it stands in for, holds Latin with its extensions (Czech,
  # Turkish), Cyrillic and CJK in one face; the Noto CJK faces lack letters
  # such as U+0159 and U+0131. Without ShowCrashDialog
  # a crashing test waits forever on winedbg's dialog. The dialog gallery's
  # windows are not handed to a window manager: with none running (Xvfb),
  # closing each managed window would cost two seconds.
  printf '%s\r\n' \
    'Windows Registry Editor Version 5.00' \
    '' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"Microsoft YaHei UI"="WenQuanYi Micro Hei"' \
    '' \
    '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' \
    '"ShowCrashDialog"=dword:00000000' \
    '' \
    '[HKEY_CURRENT_USER\Software\Wine\AppDefaults\dialog_gallery.exe\X11 Driver]' \
    '"Managed"="N"' \
    '' >"$reg_file"
  "$wine" regedit /S 'C:\ovvb-settings.reg' >/dev/null 2>&1
  wineserver -w
  rm -f "$reg_file"
  echo "$settings_version" >"$marker"
fi

system32="$prefix/drive_c/windows/system32"
if [ -n "$bin_dir" ] && [ -f "$bin_dir/nvapi64.dll" ]; then
  if ! cmp -s "$bin_dir/nvapi64.dll" "$system32/nvapi64.dll"; then
    cp "$bin_dir/nvapi64.dll" "$system32/nvapi64.dll"
  fi
fi

# The WMI emulator (tests/wine/emulators) as this prefix's in-process server
# of CLSID_WbemLocator, so that the product's device search sees the
# simulated machine's devices; it hands every other class on to Wine's own
# wbemprox.dll. "Both": with another threading model CoCreateInstance fails
# from one of the two apartments (Wine has no proxies for the WMI
# interfaces); under HKCU alone the entry is ignored. Checked on every run:
# `wineboot -u`, which Wine runs by itself at the first start after an
# upgrade, puts its own entry back.
if [ -n "$bin_dir" ] && [ -f "$bin_dir/ovvb_wmi.dll" ]; then
  if ! cmp -s "$bin_dir/ovvb_wmi.dll" "$system32/ovvb_wmi.dll"; then
    cp "$bin_dir/ovvb_wmi.dll" "$system32/ovvb_wmi.dll"
  fi
  locator='{4590F811-1D3A-11D0-891F-00AA004B2E24}'
  registered() {
    awk '
      index($0, "[Software\\\\Classes\\\\CLSID\\\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\\\InprocServer32]") == 1 {
        inside = 1
        next
      }
      /^\[/ { inside = 0 }
      inside && $0 == "@=\"C:\\\\windows\\\\system32\\\\ovvb_wmi.dll\"" { path = 1 }
      inside && $0 == "\"ThreadingModel\"=\"Both\"" { model = 1 }
      END { exit !(path && model) }' "$prefix/system.reg"
  }
  # Wine's upgrade is due when wine.inf is not the one the prefix was last
  # updated from; the start below then runs it first, and the entry after it.
  wine_inf=$(for f in "$(dirname "$(command -v "$wine")")/../share/wine/wine.inf" /usr/share/wine/wine.inf \
    /usr/lib/wine/wine.inf /opt/wine*/share/wine/wine.inf; do [ -f "$f" ] && echo "$f" && break; done)
  upgrade_due=yes
  if [ -n "$wine_inf" ] && [ "$(tr -d '\r' <"$prefix/.update-timestamp" 2>/dev/null)" = "$(stat -c %Y "$wine_inf")" ]; then
    upgrade_due=no
  fi
  if [ "$upgrade_due" = yes ] || ! registered; then
    reg_file="$prefix/drive_c/ovvb-wmi.reg"
    printf '%s\r\n' \
      'Windows Registry Editor Version 5.00' \
      '' \
      "[HKEY_CLASSES_ROOT\\CLSID\\$locator\\InprocServer32]" \
      '@="C:\\windows\\system32\\ovvb_wmi.dll"' \
      '"ThreadingModel"="Both"' \
      '' >"$reg_file"
    "$wine" regedit /S 'C:\ovvb-wmi.reg' >/dev/null 2>&1
    wineserver -w
    rm -f "$reg_file"
    if ! registered; then
      echo "$0: the WMI emulator could not be registered in $prefix" >&2
      exit 1
    fi
  fi
fi

if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "$0: note: locale de_DE.UTF-8 is not generated; German culture tests will fail" \
    "(localedef -i de_DE -f UTF-8 de_DE.UTF-8)" >&2
fi
