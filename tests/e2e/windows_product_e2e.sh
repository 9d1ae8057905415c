#!/usr/bin/env bash
# The shipped program, unmodified (build/windows/bin/OvVBiosInstaller.exe),
# end to end under Wine + Xvfb on simulated notebooks. Each row's machine
# folder describes the notebook for both builds: the linux program reads it
# directly; for the product the test prefix's WMI emulator lists its [pnp]
# devices, the stub nvapi64.dll answers from its [nvapi], its BIOS values go
# into the prefix's real registry, its [dock] and [acpi] into the test
# drivers, and the stand-in tools read it as they do under windows-sim. The
# linux build runs the same row, and the product must end as it does: exit
# code, the log's last line, the registry's State and the dialog shown
# (clicked as tests/e2e/windows_e2e.sh clicks it).
# Prints "ok|FAIL <row> <code>" per row and ends with
# "windows product: N passed, N failed".
# Usage: tests/e2e/windows_product_e2e.sh <build root>   (after make build: the
# windows and linux builds)
set -uo pipefail
build=$(cd "${1:?build root}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
wine=$(command -v wine64 || command -v wine)
bin=$build/windows/bin

# Alone: the test prefix and an X display first, as scripts/run-tests.sh
# sets them up for the whole Windows part.
if [ -z "${OVVB_PRODUCT_SESSION:-}" ]; then
  export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$bin" || exit 1
  wineserver -p 2>/dev/null
  OVVB_PRODUCT_SESSION=1 xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1
    bash "$1" "$2"' _ "$0" "$build"
  status=$?
  wineserver -k 2>/dev/null
  exit $status
fi
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all

# name | example machine | example package | changes to them
#   section.key=value  sets a machine.ini key     -section      removes a section
#   cfg:Key=Value      a configs.txt line added   rm:file       a package file removed
#   reg:Name=Value     a BIOS value of registry.reg
#   product=N:why      the product ends with N, not as linux does, and why
#   devices:N[:L]      N unrelated devices listed first, with hardware IDs of L characters
# The rows follow the linux end-to-end table (tests/e2e/installer_e2e_test.cpp)
# on the example machines; what each must end with is the linux build's run
# of the very same folder. time.timeout_scale shortens only the linux
# build's limits: the product's are real.
rows() {
  cat <<'EOF'
Flashed                | kestrel-amd     | amd-dock       |
NewerVbiosIsUpToDate   | kestrel-amd     | amd-dock       | amdvbflash.version=020.001.000.038.016400
NoMatchingDevice       | kestrel-amd     | amd-dock       | -pnp
DeviceSearchFailsBefore| kestrel-amd     | amd-dock       | pnp.fail=before_match
DeviceSearchFailsAfter | kestrel-amd     | amd-dock       | pnp.fail=after_match
BiosTooOld             | kestrel-amd     | amd-dock       | cfg:BiosVersion=310
BiosUnreadable         | kestrel-amd     | amd-dock       | reg:BIOSVersion=KR15A.3O8
DriverTooOld           | kestrel-amd     | amd-dock       | cfg:VGAVersion=31.0.21001.45010
DriverVersionUnparsable| kestrel-amd     | amd-dock       | cfg:VGAVersion=31.0.21OO1.45002
DriverInstallHangs     | kestrel-amd     | amd-dock       | devcon64.install_hang=yes time.timeout_scale=0.02
DriverInstallFails     | kestrel-amd     | amd-dock       | devcon64.install_exit=1
DriverInstallerMissing | kestrel-amd     | amd-dock       | rm:devcon64.exe
VersionReaderHangs     | kestrel-amd     | amd-dock       | amdvbflash.ai_hang=yes time.timeout_scale=0.02
VersionReaderFails     | kestrel-amd     | amd-dock       | amdvbflash.ai_exit=5
NoVersionLine          | kestrel-amd     | amd-dock       | amdvbflash.version=
FlashHangs             | kestrel-amd     | amd-dock       | amdvbflash.flash_hang=yes time.timeout_scale=0.02
FlashFails             | kestrel-amd     | amd-dock       | amdvbflash.flash_exit=3
FlashNotCompleted      | kestrel-amd     | amd-dock       | amdvbflash.flash_completes=no
ManyDevicesFirst       | kestrel-amd     | amd-dock       | devices:10000 amdvbflash.version=020.001.000.038.016400
HardwareIdTooLong      | kestrel-amd     | amd-dock       | devices:1:65536
NvFlashedDockUpdated   | kestrel-nv-dock | nv-dock-update |
NvDockAbsent           | kestrel-nv-dock | nv-dock-update | nvapi.oem_revision=0x02 dock.present=no
NvPlatformDriverAbsent | kestrel-nv-dock | nv-dock-update | nvapi.oem_revision=0x02 acpi.present=no
NvLinkSwitchRefused    | kestrel-nv-dock | nv-dock-update | nvapi.oem_revision=0x02 acpi.devs_reply=0
NvNoDriverLibrary      | kestrel-nv-dock | nv-dock-update | -nvapi
EOF
}

passed=0
failed=0
work=$(mktemp -d /tmp/ovvb-product-XXXXXX)
logfile=$WINEPREFIX/drive_c/windows/Log/OrvoVbInst.txt
state_key='HKLM\SOFTWARE\Orvo\VBIOS'
winpath() { echo "Z:${1//\//\\}"; }
trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }
squeeze() { tr -s ' \t\r\n' '    ' | sed -e 's/^ //' -e 's/ $//'; }
drv() { "$wine" "$bin/ovvb_drivers.exe" "$@" </dev/null >/dev/null 2>&1; }

# machine.ini edits and reads: sections and keys case-insensitive, as the
# simulation reads them. ini_set replaces the key's first line in the section
# or adds it at the section's end (the section at the file's end).
ini_awk() {  # <file> <section> <key> <value> <program>
  awk -v s="[$2]" -v k="$3" -v v="$4" '
    function key(line) { sub(/[[:space:]]*=.*/, "", line); sub(/^[[:space:]]+/, "", line); return tolower(line) }
    function header(line) { gsub(/[[:space:]]/, "", line); return tolower(line) }
    '"$5" "$1"
}
ini_set() {
  ini_awk "$1" "$2" "$3" "$4" '
    function flush() { if (inside && !done) { print k " = " v; done = 1 } }
    /^[[:space:]]*\[/ { flush(); inside = (header($0) == tolower(s)); print; next }
    inside && !done && /=/ && key($0) == tolower(k) { print k " = " v; done = 1; next }
    { print }
    END { flush(); if (!done) { print s; print k " = " v } }' >"$1.new" && mv "$1.new" "$1"
}
ini_drop() {  # <file> <section>
  ini_awk "$1" "$2" "" "" '/^[[:space:]]*\[/ { skip = (header($0) == tolower(s)) } !skip' >"$1.new" &&
    mv "$1.new" "$1"
}
ini_get() {  # <file> <section> <key>: the value, a trailing comment cut
  ini_awk "$1" "$2" "$3" "" '
    /^[[:space:]]*\[/ { inside = (header($0) == tolower(s)); next }
    inside && /=/ && key($0) == tolower(k) { sub(/^[^=]*=[[:space:]]*/, ""); sub(/[[:space:]]+[;#].*$/, ""); sub(/[[:space:]]+$/, ""); got = $0 }
    END { print got }'
}
ini_has() {  # <file> <section>
  ini_awk "$1" "$2" "" "" '/^[[:space:]]*\[/ && header($0) == tolower(s) { found = 1 } END { exit !found }'
}

# The row's machine folder and package, both from the examples.
arrange() {  # <dir> <machine> <package> <changes...>
  local dir=$1 machine=$2 package=$3 change
  shift 3
  mkdir -p "$dir/machine" "$dir/packages"
  cp "$root/examples/machines/$machine/"{machine.ini,registry.reg} "$dir/machine/"
  cp -r "$root/examples/packages/$package/." "$dir/packages/"
  ini_set "$dir/machine/machine.ini" time scale 0
  for change in "$@"; do
    case $change in
      devices:*)
        local listed=${change#devices:} size=0
        [[ $listed == *:* ]] && size=${listed#*:}
        awk -v n="${listed%%:*}" -v size="$size" '
          { print }
          tolower($0) ~ /^[[:space:]]*\[pnp\]/ {
            pad = ""
            while (length(pad) < size - 21) pad = pad "A"
            for (i = 0; i < n; i++) printf "device = PCI\\VEN_8086&DEV_%04X%s | 1.0.%d\n", i % 65536, pad, i
          }' "$dir/machine/machine.ini" >"$dir/machine/machine.ini.new" && mv "$dir/machine/machine.ini.new" "$dir/machine/machine.ini"
        ;;
      product=*) echo "${change#product=}" >"$dir/product" ;;
      cfg:*) printf '%s\n' "${change#cfg:}" >>"$dir/packages/configs.txt" ;;
      rm:*) echo "${change#rm:}" >>"$dir/removed" ;;
      reg:*)
        local value=${change#reg:}
        sed -i "s|^\"${value%%=*}\"=.*|\"${value%%=*}\"=\"${value#*=}\"|" "$dir/machine/registry.reg"
        ;;
      -*) ini_drop "$dir/machine/machine.ini" "${change#-}" ;;
      *.*=*)
        local key=${change%%=*}
        ini_set "$dir/machine/machine.ini" "${key%%.*}" "${key#*.}" "${change#*=}"
        ;;
    esac
  done
}

# prepare <dir> <program> <tools folder>: the program beside its packages
# folder, with the stand-in tools, less the files the row removes.
prepare() {
  local dir=$1 tool
  mkdir -p "$dir/packages"
  cp "$2" "$dir/"
  cp -r "$(dirname "$dir")/packages/." "$dir/packages/"
  for tool in amdvbflash devcon64 vendorflash; do cp "$3/$tool.exe" "$dir/packages/"; done
  [ -f "$(dirname "$dir")/removed" ] && while read -r gone; do rm -f "$dir/packages/$gone"; done <"$(dirname "$dir")/removed"
  cp -r "$(dirname "$dir")/machine" "$dir/machine"
}

# The linux build's run: sets lin_code (exit status), lin_last (the log's
# last line), lin_state (the registry's State, decimal), lin_dialog (the
# last dialog shown but the progress window: title, then label).
run_linux() {
  local dir=$1/lin
  prepare "$dir" "$build/linux/bin/OvVBiosInstaller" "$build/linux/bin"
  OVVB_MACHINE="$dir/machine" "$dir/OvVBiosInstaller" </dev/null >"$dir/stdout.txt" 2>&1
  lin_code=$?
  lin_last=$(tail -n 1 "$dir/machine/drive_c/Windows/Log/OrvoVbInst.txt" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')
  lin_state=$(sed -n 's/^"State"=dword:\([0-9a-fA-F]*\).*/\1/p' "$dir/machine/registry.reg" | tr -d '\r')
  [ -n "$lin_state" ] && lin_state=$((16#$lin_state))
  lin_dialog=$("$build/linux/bin/trace_query" "$dir/machine/trace.jsonl" dialog.show form title label1 2>/dev/null |
    awk -F'\t' '$1 != "InstallingForm" { line = $2 "\t" $3 } END { print line }')
}

# The test drivers as the machine's [dock] and [acpi] describe the
# controller and the platform driver. A driver is removed or put back only
# when the row wants it otherwise than the row before.
dock_installed=yes
acpi_started=yes
configure_drivers() {
  local ini=$1 value
  if ! ini_has "$ini" dock || [ "$(ini_get "$ini" dock present)" = no ]; then
    [ "$dock_installed" = yes ] && drv dock-remove && dock_installed=no
  else
    [ "$dock_installed" = no ] && drv dock-install && dock_installed=yes
    drv reset dock
    [ "$(ini_get "$ini" dock greeting)" = reject ] && drv set dock AcceptGreeting 0
    value=$(ini_get "$ini" dock fail_sets) && [ -n "$value" ] && drv set dock FailSets "$value"
    value=$(ini_get "$ini" dock fail_gets) && [ -n "$value" ] && drv set dock FailGets "$value"
    value=$(ini_get "$ini" dock block) && [ -n "$value" ] && drv set dock Block "hex:$value"
    value=$(ini_get "$ini" dock text) && [ -n "$value" ] &&
      drv set dock Text "hex:$(printf '%s' "$value" | od -An -tx1 | tr -d ' \n')"
  fi
  if ! ini_has "$ini" acpi || [ "$(ini_get "$ini" acpi present)" = no ]; then
    [ "$acpi_started" = yes ] && drv acpi-stop && acpi_started=no
  else
    [ "$acpi_started" = no ] && drv acpi-start && acpi_started=yes
    drv reset acpi
    value=$(ini_get "$ini" acpi dsts) && [ -n "$value" ] && drv set acpi Dsts "$value"
    value=$(ini_get "$ini" acpi dsts_args) && [ -n "$value" ] && drv set acpi DstsArgs "$value"
    value=$(ini_get "$ini" acpi devs_reply) && [ -n "$value" ] && drv set acpi DevsReply "$value"
    value=$(ini_get "$ini" acpi devs_reply_bytes) && [ -n "$value" ] && drv set acpi DevsReplyBytes "$value"
  fi
  return 0
}

# import_reg <lines...>: one regedit start for several registry changes.
import_reg() {
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "$@" '' >"$WINEPREFIX/drive_c/ovvb-product.reg"
  "$wine" regedit /S 'C:\ovvb-product.reg' >/dev/null 2>&1
  rm -f "$WINEPREFIX/drive_c/ovvb-product.reg"
}

# The BIOS values of the machine's registry.reg in the prefix's registry
# (the key is volatile in Wine, so written before every run), no state
# record of an earlier run, and the machine's folder for the stand-in tools:
# the product starts them with an environment of its own, without
# OVVB_MACHINE.
set_registry() {  # <registry.reg> <machine folder>
  local values root
  mapfile -t values < <(tr -d '\r' <"$1" | awk '/^\[/ { inside = ($0 ~ /System\\BIOS\]$/); next } inside && /^"[^"]+"="/')
  root=$(winpath "$2")
  import_reg '[-HKEY_LOCAL_MACHINE\SOFTWARE\Orvo\VBIOS]' '' '[HKEY_LOCAL_MACHINE\HARDWARE\DESCRIPTION\System\BIOS]' \
    '"BaseBoardProduct"=-' '"BIOSVersion"=-' '"SystemManufacturer"=-' "${values[@]}" '' \
    '[HKEY_LOCAL_MACHINE\SOFTWARE\OvVBiosTest]' "\"MachineRoot\"=\"${root//\\/\\\\}\""
}

# Clicks button1 of each installer window (OK, or the restart dialog's No,
# as the windows-sim suite does) once its texts are recorded.
click_dialogs() {  # <pid> <record file>
  local id ids seen
  while kill -0 "$1" 2>/dev/null; do
    ids=$(xdotool search --onlyvisible --name '^(InstallFail|Orvo VBIOS Installer)$' 2>/dev/null)
    if [ -n "$ids" ]; then
      seen=$("$wine" "$bin/window_texts.exe" </dev/null 2>/dev/null | tr -d '\r')
      # A window still being made has no title yet: read again first.
      if [ -n "$seen" ] && ! grep -q -e $'^\t' -e '^$' <<<"$seen"; then
        printf '%s\n' "$seen" >>"$2"
        for id in $ids; do xdotool mousemove --window "$id" 532 235 click 1 2>/dev/null; done
      fi
    fi
    sleep 0.4
  done
}

# The product's run: sets win_code, win_last, win_state, win_dialogs (every
# installer window seen, one per line: title, then its texts).
run_product() {
  local dir=$1/win pid clicker waited=0
  prepare "$dir" "$bin/OvVBiosInstaller.exe" "$bin"
  configure_drivers "$dir/machine/machine.ini"
  set_registry "$dir/machine/registry.reg" "$dir/machine"
  rm -f "$logfile"
  LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$dir/machine")" "$wine" "$dir/OvVBiosInstaller.exe" \
    >"$dir/stdout.txt" 2>&1 &
  pid=$!
  : >"$dir/windows.txt"
  click_dialogs "$pid" "$dir/windows.txt" &
  clicker=$!
  # Bounded: the longest row (a hanging flash) waits out the program's
  # pacing and its 90 s limit in real time.
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt 2400 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    win_code=timeout
  else
    wait "$pid"
    win_code=$?
  fi
  kill "$clicker" 2>/dev/null
  wait "$clicker" 2>/dev/null
  win_last=$(tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')
  win_state=$("$wine" reg query "$state_key" /v State 2>/dev/null | tr -d '\r' | awk '$1 == "State" {print $3}')
  [ -n "$win_state" ] && win_state=$((win_state))
  win_dialogs=$(sort -u "$dir/windows.txt")
  return 0
}

# The linux run's dialog among the product's windows: the same title, and
# its label's text (blanks aside) among the window's texts.
dialog_shown() {
  local title label line
  [ -z "$lin_dialog" ] && return 0
  title=${lin_dialog%%$'\t'*}
  # The trace reader writes a line break as \x0A.
  label=$(printf '%s' "${lin_dialog#*$'\t'}" | sed 's/\\x0A/ /g' | squeeze)
  while IFS= read -r line; do
    [ "${line%%$'\t'*}" = "$title" ] || continue
    [[ "$(printf '%s' "$line" | squeeze)" == *"$label"* ]] && return 0
  done <<<"$win_dialogs"
  return 1
}

# With no window manager on the X display, Wine waits two seconds for each
# managed window it hides to be withdrawn; the installer's windows are left
# unmanaged, as tests/e2e/windows_e2e.sh leaves them for its timed run.
unmanaged='HKEY_CURRENT_USER\Software\Wine\AppDefaults\OvVBiosInstaller.exe\X11 Driver'
import_reg "[$unmanaged]" '"Managed"="N"'
# Whatever happens, the prefix is left as the other suites expect it: the
# drivers in place, the installer's windows managed.
finish() {
  [ "$dock_installed" = yes ] || drv dock-install
  [ "$acpi_started" = yes ] || drv acpi-start
  import_reg "[-$unmanaged]" '' '[-HKEY_LOCAL_MACHINE\SOFTWARE\OvVBiosTest]'
  rm -rf "$work"
}
trap finish EXIT

# The drivers as the suites before may have left them: their state cleared,
# and installed again, which also makes the dock device anew when it was
# started with another report length.
drv reset dock
drv reset acpi
if ! drv install && ! drv install; then
  echo "FAIL test drivers: not installed"
  failed=$((failed + 1))
fi

started=$SECONDS
while IFS='|' read -r name machine package changes; do
  name=$(trim "$name")
  [ -n "$name" ] || continue
  [[ $name =~ ${OVVB_PRODUCT_ROWS:-.} ]] || continue  # e.g. OVVB_PRODUCT_ROWS='^Nv' for some rows only
  row=$work/$name
  # shellcheck disable=SC2086  # the changes are words
  arrange "$row" "$(trim "$machine")" "$(trim "$package")" $changes
  row_started=$SECONDS
  run_linux "$row"
  run_product "$row"
  why=
  code=${lin_state:-$lin_code}
  if [ -f "$row/product" ]; then
    # A known difference of the builds: the product's own code, its state
    # line and record; linux's dialog is not the product's then.
    known=$(cat "$row/product")
    code=${known%%:*}
    note=" (linux: $lin_state; ${known#*:})"
    [ "$win_code" = $((code & 255)) ] || why+=" exit $win_code;"
    [ "$win_last" = "state $code" ] || why+=" last log line '$win_last';"
    [ "$win_state" = "$code" ] || why+=" State '$win_state';"
  else
    note=
    [ "$win_code" = "$lin_code" ] || why+=" exit $win_code, linux $lin_code;"
    [ "$win_last" = "$lin_last" ] || why+=" last log line '$win_last', linux '$lin_last';"
    [ "$win_state" = "$lin_state" ] || why+=" State '$win_state', linux '$lin_state';"
    dialog_shown || why+=" linux's dialog '${lin_dialog//$'\t'/: }' not among [${win_dialogs//$'\n'/ | }];"
  fi
  if [ -z "$why" ]; then
    echo "ok $name $code ($((SECONDS - row_started)) s)${note//_/ }"
    passed=$((passed + 1))
  else
    echo "FAIL $name $code:$why"
    failed=$((failed + 1))
  fi
done < <(rows)
echo "windows product: the rows took $((SECONDS - started)) s"
echo "windows product: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
