# shellcheck shell=bash disable=SC2154  # the variables and helpers of windows_e2e.sh
# Sourced by windows_e2e.sh: a log that another program holds, and the
# support pages, which only the desktop's shell opens.

# --- The production program: a log held by a reader that lets no writer in ------
# Any user may open C:\Windows\Log\OrvoVbInst.txt to read it. Held that way by
# another process, it keeps its bytes, and the run goes to a file of its own
# beside it, saying so there first and on standard output. (A link in the
# log's place is tested on linux: Wine 8 shows a Unix symbolic link to a file
# as that file, which it then opens, flag or no flag.)
held=$work/held
log_folder=$(dirname "$logfile")
mkdir -p "$held/packages" "$log_folder"
cp "$exe" "$held/"
rm -f "$log_folder"/OrvoVbInst-*.txt
printf 'earlier runs\r\n' >"$logfile"
"$wine" "$build/windows/bin/hold_for_reading.exe" "$(winpath "$logfile")" 60000 >"$held/holder.txt" 2>&1 &
holder=$!
for _ in $(seq 1 100); do grep -q held "$held/holder.txt" 2>/dev/null && break; sleep 0.2; done
run_installer "$held" LANG=en_US.UTF-8
held_still=$(grep -c held "$held/holder.txt" 2>/dev/null)
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
check "windows: a log held by a reader: exit code" "$code" 101
check "windows: ... the reader held it throughout" "$held_still" 1
check "windows: ... the log's bytes untouched" "$(od -An -c "$logfile" | tr -s ' ')" "$(printf 'earlier runs\r\n' | od -An -c | tr -s ' ')"
beside=$(cd "$log_folder" && ls -- OrvoVbInst-*.txt 2>/dev/null)
if [[ $beside =~ ^OrvoVbInst-[0-9]{8}-[0-9]{6}\.txt$ ]]; then
  pass "windows: ... the run written beside it ($beside)"
  first=$(head -n 1 "$log_folder/$beside" | tr -d '\r' | sed 's/^\[[^]]*\]//')
  if [[ $first == "WARNING C:\\Windows\\Log\\OrvoVbInst.txt cannot be written ("*"); this run is logged in C:\\Windows\\Log\\$beside" ]]; then
    pass "windows: ... its first line says why and where"
  else
    fail "windows: ... its first line says why and where" "$first"
  fi
  check "windows: ... its last line is the state" \
    "$(tail -n 1 "$log_folder/$beside" | tr -d '\r' | sed 's/^\[[^]]*\]//')" "state 101"
  check "windows: ... standard output says so first" "$(head -n 1 "$held/stdout.txt" | tr -d '\r')" "$first"
else
  fail "windows: ... the run written beside it" "files: $(ls "$log_folder" | tr '\n' ' ')"
fi
rm -f "$log_folder"/OrvoVbInst-*.txt

# --- windows-sim: the BIOS page opened by Wine's desktop shell, or not at all ---
# The page goes to the desktop's shell (explorer.exe /desktop under Wine),
# found for real; the simulated machine records it in place of the browser.
# A machine whose user has no desktop shell opens nothing and logs the
# address before the dialog.
page=$work/page
mkdir -p "$page/packages" "$page/machine"
cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$page/"
cp -r "$root/examples/packages/amd-dock/." "$page/packages/"
cp "$build/windows-sim/bin/"{amdvbflash,devcon64}.exe "$page/packages/"
printf 'BiosVersion=0310\n' >>"$page/packages/configs.txt"
bios_page=https://www.orvo.com/supportonly/KR15A/Helpdesk_bios/
for desktop_shell in yes no; do
  sed -e 's/^scale = .*/scale = 0/' -e "/^\[user\]/a desktop_shell = $desktop_shell" \
    "$root/examples/machines/kestrel-amd/machine.ini" >"$page/machine/machine.ini"
  rm -f "$logfile" "$page/machine/trace.jsonl"
  set_bios
  run_installer "$page" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$page/machine")"
  check "windows-sim: BIOS too old, desktop shell $desktop_shell: exit code" "$code" $((301 % 256))
  opened=$(trace_query "$page/machine/trace.jsonl" shell.open target as | tr '\t' ' ')
  not_opened=$(trace_query "$page/machine/trace.jsonl" shell.not_opened url | tr '\t' ' ')
  if [ "$desktop_shell" = yes ]; then
    check "windows-sim: ... the page opened by the desktop's shell, as the user" "$opened/$not_opened" \
      "$bios_page user/"
  else
    check "windows-sim: ... no page opened" "$opened/$not_opened" "/$bios_page"
    grep -q "WARNING the support page $bios_page cannot be opened: the signed-in user has no desktop shell" \
      "$logfile" 2>/dev/null && pass "windows-sim: ... the log names the page" ||
      fail "windows-sim: ... the log names the page" "$(tail -n 4 "$logfile")"
  fi
done
