#!/usr/bin/env bash
# The Windows programs end to end under Wine + Xvfb, clicking their dialogs as
# a user would. Prints one "PASS name" / "FAIL name: why" line per check and
# ends with "windows-sim: N passed, N failed".
# Usage (under xvfb-run, with WINEPREFIX set): tests/e2e/windows_e2e.sh <build root> [dialogs]
# "dialogs": only the windows-sim dialogs section, which needs no windows build;
# "signed": only the signed windows-sim section, the same.
set -uo pipefail
build=${1:?build root}
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=-all
wine=$(command -v wine64 || command -v wine)
passed=0
failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }
check() { if [ "$2" = "$3" ]; then pass "$1"; else fail "$1" "expected '$3', got '$2'"; fi; }

winpath() { echo "Z:${1//\//\\}"; }

# trace_query <trace.jsonl> <event[,event...]|*> [field...]: one line per event,
# the fields' values tab-separated (tools/trace_query.cpp). The linux build's
# reader: a simulated machine's trace is the same whichever build wrote it.
trace_query() { "$build/linux/bin/trace_query" "$@"; }
[ -x "$build/linux/bin/trace_query" ] || fail "trace reader" "$build/linux/bin/trace_query missing (make build-linux)"

# Clicks button1 of every installer window that shows up until the program
# ends: the failure and restart dialogs close with it, as with a user's OK/No.
click_dialogs() {
  local pid=$1 id
  while kill -0 "$pid" 2>/dev/null; do
    for id in $(xdotool search --onlyvisible --name '^(InstallFail|Orvo VBIOS Installer)$' 2>/dev/null); do
      # The progress window has no button; a click on its bar area does nothing.
      xdotool mousemove --window "$id" 532 235 click 1 2>/dev/null
    done
    sleep 0.5
  done
}

# start_installer <program dir> [env...]: starts it in the background; sets
# $installer_pid.
start_installer() {
  local dir=$1
  shift
  env "$@" "$wine" "$dir/OvVBiosInstaller.exe" >"$dir/stdout.txt" 2>&1 &
  installer_pid=$!
}

# wait_installer <seconds>: waits for it to end; sets $code. Bounded: a dialog
# that never closes must fail the test, not hang CI. Polled in tenths, so a
# timed run is not rounded up to the next whole second.
wait_installer() {
  local waited=0
  while kill -0 "$installer_pid" 2>/dev/null && [ $waited -lt $(($1 * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$installer_pid" 2>/dev/null; then
    kill "$installer_pid" 2>/dev/null
    wait "$installer_pid" 2>/dev/null
    code=timeout
  else
    wait "$installer_pid"
    code=$?
  fi
}

# run_installer <program dir> [env...]: runs it, clicking dialogs; sets $code.
run_installer() {
  start_installer "$@"
  click_dialogs "$installer_pid" &
  local clicker=$!
  wait_installer 240
  kill "$clicker" 2>/dev/null
  wait "$clicker" 2>/dev/null
}

reg_value() {  # key value -> data as "reg query" prints it
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {print $3}'
}

logfile="$WINEPREFIX/drive_c/windows/Log/OrvoVbInst.txt"
state_key='HKLM\SOFTWARE\Orvo\VBIOS'

# The notebook's BIOS as the example machine has it (Wine's registry is real here).
# The key is volatile: written again whenever Wine may have restarted.
set_bios() {
  local bios_key='HKLM\HARDWARE\DESCRIPTION\System\BIOS'
  "$wine" reg add "$bios_key" /v BaseBoardProduct /t REG_SZ /d KR15A /f >/dev/null 2>&1
  "$wine" reg add "$bios_key" /v BIOSVersion /t REG_SZ /d KR15A.308 /f >/dev/null 2>&1
}
set_bios
work=$(mktemp -d /tmp/ovvb-wine-XXXXXX)
finish() {
  rm -rf "$work"
  echo "windows-sim: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
if [ "${2:-}" = dialogs ]; then
  . "$root/tests/e2e/windows_dialogs_e2e.sh"
  finish
fi
if [ "${2:-}" = signed ]; then
  . "$root/tests/e2e/windows_signed_e2e.sh"
  finish
fi

# --- The production program as a file -----------------------------------------
# Every shipped program imports only KnownDLLs (Windows 10/11's list under
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs, gdiplus
# left out as not known everywhere), and comctl32, which the manifest
# redirects: any other imported DLL is looked for beside the program first,
# in a folder the user can write, and would run with administrator rights.
known_dlls=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz \
  nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32 comctl32 "
exe=$build/windows/bin/OvVBiosInstaller.exe
for shipped in "$exe" "$build/windows/bin/OvVBiosPackageCheck.exe" "$build/windows/bin/OvVBiosLogExplain.exe" \
  "$build/windows-sim/bin/OvVBiosInstaller.exe"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$shipped" 2>/dev/null | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  unexpected=$(for dll in $imports; do [[ $known_dlls == *" ${dll%.dll} "* ]] || echo "$dll"; done | tr '\n' ' ')
  [ -n "$imports" ] || unexpected="(no import table read)"
  check "${shipped#"$build"/}: imports only KnownDLLs ($(echo $imports))" "$unexpected" ""
done
grep -q 'level="requireAdministrator"' <(strings "$exe") && pass "windows: manifest requires administrator" ||
  fail "windows: manifest requires administrator" "not in the file"
grep -q '^9\.1\.0\.0$' <(strings -el "$exe") && pass "windows: file version 9.1.0.0" ||
  fail "windows: file version 9.1.0.0" "no version resource"
check "windows: no simulated-machine code in the product" "$(strings "$exe" | grep -ci 'machine\.ini\|OVVB_MACHINE\|no_process\|timeout_scale\|trace\.jsonl')" 0

# --- Every dialog in every language at 100 and 150 %: glyphs, size and fit -----
# The real windows, shown in each language's culture on a display at 96 and
# at 144 DPI: each window and control at its size scaled to the DPI, no
# character without a glyph in the font drawn, no message taller than its
# label, no caption wider than its button. (make gallery adds 120 and 192.)
gallery=$build/windows/bin/dialog_gallery.exe
# Back at 100 % afterwards, even when this script is stopped half-way: every
# other test of the prefix expects it.
trap 'sh "$root/scripts/wine-dpi.sh" 96' EXIT
for dpi in 96 144; do
  sh "$root/scripts/wine-dpi.sh" "$dpi"
  while read -r locale lcid; do
    [ -n "$lcid" ] || continue
    out=$(LC_ALL=$locale.UTF-8 OVVB_GALLERY_DPI=$dpi "$wine" "$gallery" </dev/null 2>/dev/null | tr -d '\r')
    shown=$(grep -c "^ok .*-$lcid$" <<<"$out")
    if [ "$shown" -eq 8 ] && ! grep -q '^FAIL' <<<"$out"; then
      pass "dialogs in $locale ($lcid) at $dpi DPI: drawn at their size, texts drawn and fitting"
    else
      fail "dialogs in $locale ($lcid) at $dpi DPI" "$(grep -v '^ok' <<<"$out" | head -n 5 | tr '\n' ';') ($shown of 8 shown)"
    fi
  done < <(grep -v '^#' "$root/tests/wine/dialog_locales.txt")
done
sh "$root/scripts/wine-dpi.sh" 96

# --- The production program: no configs.txt -----------------------------------
mkdir -p "$work/win/packages"
cp "$build/windows/bin/OvVBiosInstaller.exe" "$work/win/"
rm -f "$logfile"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
run_installer "$work/win" LANG=en_US.UTF-8
check "windows: exit code without configs.txt" "$code" 101
if [ -f "$logfile" ]; then
  check "windows: log starts with '[', no byte-order mark" "$(head -c 1 "$logfile" | od -An -tx1 | tr -d ' ')" 5b
  check "windows: every line ends in CR LF" "$(grep -c $'\r$' "$logfile")" "$(wc -l <"$logfile")"
  check "windows: first line is one blank" "$(head -n 1 "$logfile" | tr -d '\r' | sed 's/^\[[^]]*\]//')" " "
  check "windows: last line is the state" "$(tail -n 1 "$logfile" | tr -d '\r' | sed 's/^\[[^]]*\]//')" "state 101"
  stamp=$(head -n 1 "$logfile" | sed -E 's/^\[([^]]*)\].*/\1/')
  if [[ $stamp =~ ^[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}\ [0-9]{1,2}:[0-9]{2}:[0-9]{2}\ (AM|PM)$ ]]; then
    pass "windows: en-US time stamp ($stamp)"
  else
    fail "windows: en-US time stamp" "$stamp"
  fi
  cp "$logfile" "$work/windows-log.txt"
else
  fail "windows: log written" "no $logfile"
fi
check "windows: registry State" "$(reg_value "$state_key" State)" 0x65
check "windows: registry ToolVersion" "$(reg_value "$state_key" ToolVersion)" 9.2.0.0
check "windows: no DisplayVersion" "$(reg_value "$state_key" DisplayVersion)" ""

# The same run on the linux build writes the same lines: time stamps aside,
# and the detail entry after an ERROR line, which holds each system's own
# wording of the failure.
if [ -x "$build/linux/bin/OvVBiosInstaller" ] && [ -f "$work/windows-log.txt" ]; then
  mkdir -p "$work/lin/packages" "$work/lin/machine"
  cp "$build/linux/bin/OvVBiosInstaller" "$work/lin/"
  OVVB_MACHINE="$work/lin/machine" "$work/lin/OvVBiosInstaller" </dev/null >/dev/null 2>&1
  strip_stamps() { sed -E -e 's/^\[[^]]*\]//' -e '/^VBiosConfigs\.[A-Za-z]+: /d' -e '/^   at /d' "$1"; }
  if cmp -s <(strip_stamps "$work/windows-log.txt") \
    <(strip_stamps "$work/lin/machine/drive_c/Windows/Log/OrvoVbInst.txt"); then
    pass "windows and linux write the same log bytes"
  else
    fail "windows and linux write the same log bytes" "$(diff <(strip_stamps "$work/windows-log.txt") \
      <(strip_stamps "$work/lin/machine/drive_c/Windows/Log/OrvoVbInst.txt") | head -n 5)"
  fi
fi

# --- The production program with system DLLs planted beside it ---------------
# A hid.dll and a gdiplus.dll beside the program, with Wine told to prefer such
# native DLLs, as Windows does for any DLL that is not a KnownDLL: neither is
# loaded (each would leave a marker file), and the run, which shows the
# failure dialog with its pictures, goes on as usual. The same for
# windowscodecs.dll, which Wine's GDI+ loads by name when it first decodes a
# picture: the program has it from System32 before then. version.dll is not
# planted: Wine's own system DLLs import it while the process starts, where
# Windows resolves a KnownDLL's imports in System32 only.
plant=$work/plant
mkdir -p "$plant/packages"
cp "$exe" "$plant/"
cp "$build/windows/bin/planted/"{hid,gdiplus,windowscodecs}.dll "$plant/"
rm -f "$logfile"
run_installer "$plant" LANG=en_US.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;hid,gdiplus,windowscodecs=n,b"
check "windows: with DLLs planted beside it, exit code without configs.txt" "$code" 101
check "windows: ... its log's state line" "$(tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')" \
  "state 101"
check "windows: ... planted DLLs loaded" "$(cd "$plant" && ls -- *.loaded 2>/dev/null | tr '\n' ' ')" ""

# --- windows-sim: an AMD package flashed, then found up to date ----------------
sim=$work/sim
mkdir -p "$sim/packages" "$sim/machine"
cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$sim/"
cp -r "$root/examples/packages/amd-dock/." "$sim/packages/"
cp "$build/windows-sim/bin/"{amdvbflash,devcon64}.exe "$sim/packages/"
sed -e 's/^scale = .*/scale = 0/' -e 's/^flash_seconds = .*/flash_seconds = 0/' \
  "$root/examples/machines/kestrel-amd/machine.ini" >"$sim/machine/machine.ini"
rm -f "$logfile"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
# With no window manager on the X display, Wine waits two seconds for each
# managed window it hides to be withdrawn. This run's windows are left
# unmanaged, as the prefix leaves the dialog gallery's, so that the time
# measured is the program's and Wine's process starts.
unmanaged_key='HKCU\Software\Wine\AppDefaults\OvVBiosInstaller.exe\X11 Driver'
"$wine" reg add "$unmanaged_key" /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
started=$(date +%s%N)
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
"$wine" reg delete "$unmanaged_key" /f >/dev/null 2>&1
check "windows-sim: AMD flash exit code" "$code" 0
# At [time] scale = 0 the pacing, the pauses and the stand-ins' durations
# cost nothing; what is left is Wine starting five programs. In real time the
# same run takes well over 20 s, so this bound catches a clock that is not
# scaled without flaking on a busy machine.
sleeps=$(trace_query "$sim/machine/trace.jsonl" sleep | wc -l)
[ "${sleeps:-0}" -gt 0 ] && pass "windows-sim: sleeps are on the machine's clock ($sleeps traced)" ||
  fail "windows-sim: sleeps are on the machine's clock" "no sleep event in the trace"
[ "$elapsed_ms" -lt 20000 ] && pass "windows-sim: flash run at scale 0 took ${elapsed_ms} ms" ||
  fail "windows-sim: flash run at scale 0" "took ${elapsed_ms} ms"
tail_line=$(tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')
check "windows-sim: AMD flash state line" "$tail_line" "state 0"
grep -q 'Restart System To Complete VBIOS Update' "$logfile" 2>/dev/null &&
  pass "windows-sim: flash tool output logged" || fail "windows-sim: flash tool output logged" "missing"
check "windows-sim: DisplayVersion" "$(reg_value "$state_key" DisplayVersion)" 1.2.0
[ -e "$WINEPREFIX/drive_c/ProgramData/Orvo/VBIOS/kestrel_rx6700.rom" ] &&
  fail "windows-sim: working copy removed" "still there" || pass "windows-sim: working copy removed"
grep -q '^version = 020.001.000.038.016300' "$sim/machine/machine.ini" &&
  pass "windows-sim: stand-in flashed the image" || fail "windows-sim: stand-in flashed the image" "version unchanged"

# The real SetThreadExecutionState around the flash tool, as traced.
awake_order() {
  trace_query "$1" power.stay_awake,process.start,process.end event on program arguments |
    awk -F'\t' '$1 == "power.stay_awake" { print ($2 == "true" ? "awake" : "may-sleep") }
      $1 == "process.start" && $3 ~ /amdvbflash/ && index($4, "-fa") == 1 { print "flash"; f = 1; next }
      $1 == "process.end" && $3 ~ /amdvbflash/ && f { print "flashed"; f = 0 }' | tr '\n' ' '
}
check "windows-sim: the system is kept awake around the flash" "$(awake_order "$sim/machine/trace.jsonl")" \
  "awake flash flashed may-sleep "

run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: second run finds it up to date" "$code" 1
check "windows-sim: State after the second run" "$(reg_value "$state_key" State)" 0x1

# Files planted as Orvo\Package and Orvo\VBIOS and held open by another
# program without delete sharing cannot be moved aside: the run works in
# fresh folders beside them, says so once each, and flashes.
sed -i -e 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"
rm -rf "$WINEPREFIX/drive_c/ProgramData/Orvo/Package" "$WINEPREFIX/drive_c/ProgramData/Orvo/VBIOS" "$logfile"
holders=()
for planted in Package VBIOS; do
  "$wine" "$build/windows-sim/bin/hold_open.exe" "C:\\ProgramData\\Orvo\\$planted" "Local\\ovvb-e2e-$planted" \
    </dev/null >/dev/null 2>&1 &
  holders+=($!)
done
sleep 2
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: plants held open: exit code" "$code" 0
check "windows-sim: ... each logged once" \
  "$(grep -c 'in the way and cannot be moved aside, so this run works beside it' "$logfile" 2>/dev/null)" 2
kill "${holders[@]}" 2>/dev/null
wait "${holders[@]}" 2>/dev/null
rm -rf "$WINEPREFIX/drive_c/ProgramData/Orvo/"{Package,VBIOS}*

# Two runs started 0.3 s apart, the flash taking about a second: the second
# waits for the first (the global mutex), finds the VBIOS up to date, and the
# log holds both runs whole, one after the other.
sed -i -e 's/^version = .*/version = 020.001.000.038.016233/' -e 's/^scale = .*/scale = 0.05/' \
  -e 's/^flash_seconds = .*/flash_seconds = 20/' "$sim/machine/machine.ini"
rm -f "$logfile" "$sim/machine/trace.jsonl"
set_bios
start_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
first_pid=$installer_pid
sleep 0.3
start_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
second_pid=$installer_pid
click_dialogs "$second_pid" &
clicker=$!
installer_pid=$first_pid
wait_installer 240
first_code=$code
installer_pid=$second_pid
wait_installer 240
kill "$clicker" 2>/dev/null
wait "$clicker" 2>/dev/null
check "windows-sim: two runs at once: exit codes (sorted)" "$(printf '%s\n' "$first_code" "$code" | sort | tr '\n' ' ')" "0 1 "
check "windows-sim: ... flash tool started once" \
  "$(trace_query "$sim/machine/trace.jsonl" process.start arguments | grep -c '^-fa')" 1
check "windows-sim: ... most tools running at once" \
  "$(trace_query "$sim/machine/trace.jsonl" process.start,process.end | awk '$0 == "process.start" { n++; if (n > m) m = n }
    $0 == "process.end" { n-- } END { print m + 0 }')" 1
check "windows-sim: ... the log's runs, each ending with its state line" \
  "$(tr -d '\r' <"$logfile" 2>/dev/null | sed 's/^\[[^]]*\]//' | awk '/^=== VBIOS Installer ===$/ { printf "run " }
    /^state / { printf "%s ", $0 }')" "run state 0 run state 1 "
sed -i -e 's/^scale = .*/scale = 0/' -e 's/^flash_seconds = .*/flash_seconds = 0/' "$sim/machine/machine.ini"

# The installer dies in the middle of the flash (a crash, an end-task, a
# deployment tool's time-out): the flash tool writes on to its end, since a
# VBIOS cut off half-way may not start the GPU again.
sed -i -e 's/^version = .*/version = 020.001.000.038.016233/' -e 's/^scale = .*/scale = 0.1/' \
  -e 's/^flash_seconds = .*/flash_seconds = 40/' "$sim/machine/machine.ini"
rm -f "$sim/machine/trace.jsonl"
set_bios
start_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
for _ in $(seq 600); do
  trace_query "$sim/machine/trace.jsonl" process.start arguments 2>/dev/null | grep -q '^-fa' && break
  sleep 0.1
done
sleep 0.5
kill -9 "$installer_pid" 2>/dev/null
wait "$installer_pid" 2>/dev/null
for _ in $(seq 300); do
  grep -q '^version = 020.001.000.038.016300' "$sim/machine/machine.ini" && break
  sleep 0.1
done
check "windows-sim: the installer killed mid-flash, the flash tool still completes" \
  "$(grep '^version = ' "$sim/machine/machine.ini")" "version = 020.001.000.038.016300"
sed -i -e 's/^scale = .*/scale = 0/' -e 's/^flash_seconds = .*/flash_seconds = 0/' "$sim/machine/machine.ini"

# The stand-in records the new VBIOS in machine.ini while another program
# keeps reading it, as the installer does all through a flash: Windows does
# not replace a file that is open, so the write must wait for its turn.
busy=$work/busy
mkdir -p "$busy/machine"
printf 'VBIOS_VERSION=020.001.000.038.016301\n' >"$busy/image.rom"
printf '[amdvbflash]\nflash_seconds = 0\n[time]\nscale = 0\n' >"$busy/machine/machine.ini"
"$wine" "$build/windows-sim/bin/busy_reader.exe" "$(winpath "$busy/machine/machine.ini")" 6000 &
reader=$!
sleep 1
busy_failures=0
for _ in 1 2 3 4 5; do
  OVVB_MACHINE="$(winpath "$busy/machine")" "$wine" "$build/windows-sim/bin/amdvbflash.exe" -fa -p 0 \
    "$(winpath "$busy/image.rom")" >"$busy/out.txt" 2>&1 || busy_failures=$((busy_failures + 1))
done
wait "$reader"
check "windows-sim: machine.ini updated while another program reads it (failed runs of 5)" "$busy_failures" 0
grep -q '^version = 020.001.000.038.016301' "$busy/machine/machine.ini" &&
  pass "windows-sim: the busy file holds the new version" ||
  fail "windows-sim: the busy file holds the new version" "$(grep '^version' "$busy/machine/machine.ini")"

# A working folder planted as a link (Wine shows a Unix symbolic link as a
# reparse point, as Windows shows a junction). Windows renames a junction
# itself out of the way; Wine would rename what the link leads to, so there
# the run stops cleanly instead: nothing copied into it, started or deleted
# from it, and the link and what it leads to are left as they were.
workdir="$WINEPREFIX/drive_c/ProgramData/Orvo/VBIOS"
elsewhere=$work/elsewhere
mkdir -p "$elsewhere"
echo "not ours" >"$elsewhere/kestrel_rx6700.rom"
rm -rf "$workdir"
ln -s "$elsewhere" "$workdir"
sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: a working folder that is a link gives" "$code" $((905 % 256))
check "windows-sim: the file behind the link" "$(cat "$elsewhere/kestrel_rx6700.rom")" "not ours"
check "windows-sim: the link left where it was" "$(readlink "$workdir")" "$elsewhere"
grep -q 'ProgramData\\Orvo\\VBIOS is a link' "$logfile" 2>/dev/null &&
  pass "windows-sim: the log names the link" || fail "windows-sim: the log names the link" "$(tail -n 3 "$logfile")"
rm -f "$workdir"

# An image made for another GPU is refused before the forced flash: 905, what
# it is for in the log, and the flash tool never started.
cp "$sim/packages/kestrel_rx6700.rom" "$work/fitting.rom"
cp "$root/examples/broken-packages/rom-images/rx6800.rom" "$sim/packages/kestrel_rx6700.rom"
rm -f "$sim/machine/trace.jsonl"
sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: another GPU's image: exit code" "$code" $((905 % 256))
grep -q 'kestrel_rx6700.rom is for device 1002:73BF; this GPU is 1002:73DF; nothing was flashed' "$logfile" 2>/dev/null &&
  pass "windows-sim: ... the log says what the image is for" ||
  fail "windows-sim: ... the log says what the image is for" "$(tail -n 4 "$logfile")"
check "windows-sim: ... the flash tool not started" \
  "$(trace_query "$sim/machine/trace.jsonl" process.start arguments | grep -c '^-fa')" 0
cp "$work/fitting.rom" "$sim/packages/kestrel_rx6700.rom"

# The package is taken when the run starts: a ROM swapped in the packages
# folder while the driver is installed, and a device console swapped while
# the flash runs (by the flash tool itself, which fails a "remove"), are not
# what is flashed or started.
cp "$sim/machine/machine.ini" "$work/machine.ini.saved"
printf 'VBIOS_VERSION=666.666.666.666.666\n' >"$work/planted.rom"
sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"
printf '[devcon64]\ninstall_replaces = %s | %s\n[amdvbflash]\nflash_replaces = %s | %s\n' \
  "$(winpath "$sim/packages/kestrel_rx6700.rom")" "$(winpath "$work/planted.rom")" \
  "$(winpath "$sim/packages/devcon64.exe")" "$(winpath "$sim/packages/amdvbflash.exe")" >>"$sim/machine/machine.ini"
cp "$sim/packages/kestrel_rx6700.rom" "$sim/packages/devcon64.exe" "$work/"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: files swapped in the packages folder during the run: exit code" "$code" 0
check "windows-sim: ... the swap happened" "$(cmp -s "$work/planted.rom" "$sim/packages/kestrel_rx6700.rom" && echo yes)" yes
grep -q '^version = 020.001.000.038.016300' "$sim/machine/machine.ini" &&
  pass "windows-sim: ... the image of the start was flashed" ||
  fail "windows-sim: ... the image of the start was flashed" "$(grep '^version' "$sim/machine/machine.ini")"
check "windows-sim: ... the package copy removed" "$(ls -A "$WINEPREFIX/drive_c/ProgramData/Orvo/Package" 2>&1)" ""
cp "$work/kestrel_rx6700.rom" "$work/devcon64.exe" "$sim/packages/"
cp "$work/machine.ini.saved" "$sim/machine/machine.ini"

# A package holding a link is not taken: 102, as an unreadable configs.txt.
# (Wine shows a Unix symbolic link to a folder as a reparse point, as Windows
# shows a junction; one to a file it shows as the file.)
ln -s "$elsewhere" "$sim/packages/extra"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: a package holding a link: exit code" "$code" 102
grep -q 'packages\\extra is a link or junction that leads elsewhere' "$logfile" 2>/dev/null &&
  pass "windows-sim: ... the log names the link" ||
  fail "windows-sim: ... the log names the link" "$(tail -n 4 "$logfile")"
rm -f "$sim/packages/extra"
sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"

# A machine root whose name is not ASCII (OVVB_MACHINE as a Windows path with
# "ü" in it) is the machine the run uses, not an empty stand-in.
umlaut=$work/mü
mkdir -p "$umlaut"
cp -r "$sim/machine" "$umlaut/"
rm -f "$umlaut/machine/trace.jsonl"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$umlaut/machine")"
check "windows-sim: machine root with a non-ASCII name: exit code" "$code" 0
[ -s "$umlaut/machine/trace.jsonl" ] && pass "windows-sim: ... its trace written there" ||
  fail "windows-sim: ... its trace written there" "no trace in $umlaut/machine"

# A working folder an earlier program left writable by everyone is closed to
# all but the administrators and the system before the copy (Wine keeps a
# DACL as the folder's Unix mode bits).
mkdir -p "$workdir"
chmod 0777 "$workdir"
sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$sim/machine/machine.ini"
set_bios
run_installer "$sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$sim/machine")"
check "windows-sim: a working folder open to everyone: exit code" "$code" 0
# Wine shows the administrators as the folder's Unix group: only "other" is
# everyone else. (Wine leaves "other" read and list whatever the DACL says.)
check "windows-sim: everyone else may write into the working folder afterwards" \
  "$(($(stat -c 0%a "$workdir") & 2))" 0

. "$root/tests/e2e/windows_signed_e2e.sh"

# --- windows-sim: the closing steps after an NVIDIA flash ----------------------
nv=$work/nv
mkdir -p "$nv/packages" "$nv/machine"
cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$nv/"
cp -r "$root/examples/packages/nv-dock-update/." "$nv/packages/"
cp "$build/windows-sim/bin/vendorflash.exe" "$nv/packages/"
sed -e 's/^scale = .*/scale = 0/' -e 's/^seconds = .*/seconds = 0/' \
  "$root/examples/machines/kestrel-nv-dock/machine.ini" >"$nv/machine/machine.ini"
rm -f "$logfile"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
run_installer "$nv" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$nv/machine")"
check "windows-sim: NVIDIA flash with dock update and link restore exit code" "$code" 0
check "windows-sim: dock block holds GEN 3 and the NVAPI version text" \
  "$(grep '^block = ' "$nv/machine/machine.ini")" \
  "block = 0123456789ABCDEF00FFFFFFFFFFFFFF47454E0133FFFFFFFFFFFFFFFFFFFFFF5645520E39342E30362E32462E30302E4142FFFFFFFFFFFFFFFFFFFFFFFFFFFF"
check "windows-sim: host PCIe link back at Gen4" "$(grep '^dsts = ' "$nv/machine/machine.ini")" "dsts = 0x00010004"
check "windows-sim: feature reports sent" "$(trace_query "$nv/machine/trace.jsonl" hid.set_feature ok | grep -cx true)" 5
check "windows-sim: DEVS input" \
  "$(trace_query "$nv/machine/trace.jsonl" acpi.control code input | grep '^0x0022240C')" \
  $'0x0022240C\t44455653080000005B00060004000000'

# The same package with no dock on the HID bus: 3001, whose low byte is the
# process's exit code.
sed -e 's/^scale = .*/scale = 0/' -e 's/^seconds = .*/seconds = 0/' -e '/^\[dock\]/,/^\[/ s/^present = yes/present = no/' \
  "$root/examples/machines/kestrel-nv-dock/machine.ini" >"$nv/machine/machine.ini"
rm -f "$nv/machine/trace.jsonl"
run_installer "$nv" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$nv/machine")"
check "windows-sim: no dock exit code" "$code" $((3001 & 255))
check "windows-sim: no dock State" "$(reg_value "$state_key" State)" 0xbb9
grep -q "WARNING Write KR EC config 'GEN' fail" "$logfile" 2>/dev/null &&
  pass "windows-sim: no dock warning logged" || fail "windows-sim: no dock warning logged" "missing"

# --- windows-sim with the real HID and DeviceIoControl backends ---------------
# bin/devices/OvVBiosInstaller.exe reaches the dock controller and \\.\ZELACPI
# through SetupAPI, hid.dll and DeviceIoControl; the test drivers answer.
drivers=$build/windows/bin/ovvb_drivers.exe
devices=$work/devices
drv() { "$wine" "$drivers" "$@" </dev/null 2>"$work/drivers-err.txt"; }
if [ -f "$build/windows-sim/bin/devices/OvVBiosInstaller.exe" ] && [ -f "$drivers" ]; then
  mkdir -p "$devices/packages"
  cp "$build/windows-sim/bin/devices/OvVBiosInstaller.exe" "$devices/"
  cp -r "$root/examples/packages/nv-dock-update/." "$devices/packages/"
  cp "$build/windows-sim/bin/vendorflash.exe" "$devices/packages/"

  # run_devices [flash|current]: a fresh simulated machine (GPU, NVAPI, power
  # only) whose VBIOS is older than the package's or already the same, then
  # the installer; sets $code. The closing steps run after either.
  run_devices() {
    local oem=0x01
    [ "${1:-flash}" = current ] && oem=0x02
    rm -rf "$devices/machine"
    mkdir -p "$devices/machine"
    sed -e 's/^scale = .*/scale = 0/' -e 's/^seconds = .*/seconds = 0/' -e "s/^oem_revision = .*/oem_revision = $oem/" \
      "$root/examples/machines/kestrel-nv/machine.ini" >"$devices/machine/machine.ini"
    rm -f "$logfile"
    run_installer "$devices" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$devices/machine")"
  }
  ff() { printf 'F%.0s' $(seq 1 $((2 * $1))); }
  hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n' | tr a-f A-F; }

  # The state line of the log: bash sees exit codes modulo 256 only.
  state_line() { tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//'; }
  if drv reset dock && drv reset acpi && drv install; then
    run_devices
    check "devices: NVIDIA flash with ECConfig=1 and WMIConfig=1" "$code" 0
    check "devices: state line" "$(state_line)" "state 0"
    block=$(drv get dock Block | tr -d '\r')
    check "devices: GEN 3 in the driver's block group" "${block:32:32}" "47454E0133$(ff 11)"
    check "devices: the NVAPI version text in the driver's block group" "${block:64:64}" \
      "5645520E$(hex 86.04.0F.00.01)$(ff 14)"
    check "devices: the link switched to Gen4" "$(drv get acpi Dsts | tr -d '\r')" 65540

    drv reset acpi && drv set acpi DevsReply 0
    run_devices current
    check "devices: DEVS replying 0 (VBIOS up to date)" "$(state_line)" "state 3020"
    drv reset acpi

    if drv dock-remove; then
      started=$SECONDS
      run_devices current
      took=$((SECONDS - started))
      check "devices: dock absent (VBIOS up to date)" "$(state_line)" "state 3001"
      # The five 1 s pauses of the GEN read run on the machine's clock
      # ([time] scale = 0 here), and the run ends well within the click
      # loop's limit.
      pauses=$(trace_query "$devices/machine/trace.jsonl" sleep ms | grep -cx 1000)
      if [ "$code" != timeout ] && [ "${pauses:-0}" -ge 5 ] && [ "$took" -lt 60 ]; then
        pass "devices: dock absent ends after its pauses ($pauses traced, ${took} s)"
      else
        fail "devices: dock absent ends after its pauses" "$pauses pauses, ${took} s, exit $code"
      fi
    else
      fail "devices: dock removed" "$(cat "$work/drivers-err.txt")"
    fi
    drv dock-install || fail "devices: dock installed again" "$(cat "$work/drivers-err.txt")"

    if drv acpi-stop; then
      run_devices current
      check "devices: ZELACPI not installed (VBIOS up to date)" "$(state_line)" "state 3010"
    else
      fail "devices: ZELACPI stopped" "$(cat "$work/drivers-err.txt")"
    fi
    drv acpi-start || fail "devices: ZELACPI started again" "$(cat "$work/drivers-err.txt")"
  else
    fail "devices: test drivers installed" "$(cat "$work/drivers-err.txt")"
  fi
else
  fail "devices: programs built" "no bin/devices/OvVBiosInstaller.exe or ovvb_drivers.exe"
fi

# --- A session no one can see: no dialog waits -----------------------------------
. "$root/tests/e2e/windows_unseen_e2e.sh"

# --- windows-sim: the machine's fault knobs reach the win32 process backend ---
knob=$work/knob
mkdir -p "$knob/packages" "$knob/machine"
cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$knob/"
cp -r "$root/examples/packages/nv-dock/." "$knob/packages/"
cp "$build/windows-sim/bin/vendorflash.exe" "$knob/packages/"
{
  sed -e 's/^scale = .*/scale = 0/' "$root/examples/machines/kestrel-nv/machine.ini"
  printf '[processes]\nno_process.vendorflash.exe = 5\n'
} >"$knob/machine/machine.ini"
rm -f "$logfile"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
run_installer "$knob" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$knob/machine")"
check "windows-sim: a flash program that never starts ends with 905 (exit status)" "$code" $((905 % 256))
check "windows-sim: ... state line" "$(tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')" "state 905"
check "windows-sim: ... five attempts logged" "$(grep -c 'ERROR VbFlashProcess Start fail' "$logfile" 2>/dev/null)" 5
check "windows-sim: ... the knob counted down" "$(sed -n 's/^no_process.vendorflash.exe = //p' "$knob/machine/machine.ini")" 0

# A flash program that starts a helper and hangs: killed at its limit, its
# helper goes with it (it lived on, still writing, when only the program was
# killed).
rm -rf "$knob/machine" && mkdir -p "$knob/machine"
sed -e 's/^scale = .*/scale = 0\ntimeout_scale = 0.05/' -e 's/^\[vendorflash\]$/[vendorflash]\nhang = yes\nhelper = yes/' \
  "$root/examples/machines/kestrel-nv/machine.ini" >"$knob/machine/machine.ini"
rm -f "$logfile"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
run_installer "$knob" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$knob/machine")"
check "windows-sim: a hanging flash program with a helper ends with 902" "$code" $((902 % 256))
helper=$knob/machine/helper-vendorflash.txt
if [ -s "$helper" ]; then
  before=$(wc -c <"$helper")
  sleep 1
  check "windows-sim: ... its helper is gone" "$(wc -c <"$helper")" "$before"
else
  fail "windows-sim: ... its helper is gone" "the helper never wrote"
fi

. "$root/tests/e2e/windows_shell_log_e2e.sh"
. "$root/tests/e2e/windows_dialogs_e2e.sh"
finish
