# Sourced by windows_e2e.sh. The installer started on a window station no
# user can see, as deployment tools run it as the system account: every
# dialog is taken as answered without a click (nobody clicks here), the log
# says so, and the run ends by itself with the code an attended run would.
unseen_start() {  # <program dir> [env...]: starts it through unseen_station.exe
  local dir=$1
  shift
  rm -f "$logfile"
  env "$@" "$wine" "$build/windows-sim/bin/unseen_station.exe" "$(winpath "$dir/OvVBiosInstaller.exe")" \
    >"$dir/stdout.txt" 2>&1 &
  installer_pid=$!
}
unseen_run() {  # as unseen_start, and waits; sets $code
  unseen_start "$@"
  wait_installer 120
}

unseen_answer() {  # the log's line for a dialog taken as answered
  grep -a ' because no one could see it' "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//'
}

unseen=$work/unseen
mkdir -p "$unseen/win/packages" "$unseen/sim/packages" "$unseen/sim/machine"
cp "$build/windows/bin/OvVBiosInstaller.exe" "$unseen/win/"
"$wine" reg delete "$state_key" /f >/dev/null 2>&1
unseen_run "$unseen/win" LANG=en_US.UTF-8
check "unseen desktop: windows, no configs.txt ends by itself" "$code" 101
check "unseen desktop: windows, failure dialog taken as OK" "$(unseen_answer)" \
  "InstallFail taken as answered (button1) because no one could see it"
check "unseen desktop: windows, registry State" "$(reg_value "$state_key" State)" 0x65

cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$unseen/sim/"
cp -r "$root/examples/packages/amd-dock/." "$unseen/sim/packages/"
cp "$build/windows-sim/bin/"{amdvbflash,devcon64}.exe "$unseen/sim/packages/"
for power in 0 1; do
  # On AC the flash takes a few real seconds, long enough to ask the progress
  # window, on the same unseen desktop, whether the session may end.
  sed -e "s/^scale = .*/scale = $power/" -e "s/^flash_seconds = .*/flash_seconds = $((power * 4))/" \
    -e "s/^ac_line = .*/ac_line = $power/" \
    "$root/examples/machines/kestrel-amd/machine.ini" >"$unseen/sim/machine/machine.ini"
  rm -f "$unseen/sim/machine/trace.jsonl"
  station=OvvbUnseenE2e$power
  unseen_start "$unseen/sim" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$unseen/sim/machine")" OVVB_UNSEEN_STATION=$station
  if [ "$power" = 1 ]; then
    for _ in $(seq 1 300); do
      grep -aq 'STEP9' "$logfile" 2>/dev/null && break
      sleep 0.1
    done
    sleep 1
    OVVB_UNSEEN_STATION=$station "$wine" "$build/windows-sim/bin/unseen_station.exe" wineboot -e >/dev/null 2>&1
    check "unseen desktop: the progress window refuses the end of the session" "$?" 1
  fi
  wait_installer 120
  if [ "$power" = 0 ]; then
    # A posix exit status keeps 8 bits of 901; the state line has the whole code.
    check "unseen desktop: windows-sim on battery ends with 901" "$code" $((901 & 255))
    check "unseen desktop: power dialog taken as Cancel" "$(unseen_answer)" \
      "PowerModeForm taken as answered (button2) because no one could see it"
    check "unseen desktop: on battery nothing flashed" \
      "$(trace_query "$unseen/sim/machine/trace.jsonl" process.start arguments | grep -c '^-fa')" 0
  else
    check "unseen desktop: windows-sim on AC flashes, ends with 0" "$code" 0
    check "unseen desktop: restart question taken as No" "$(unseen_answer)" \
      "RestartForm taken as answered (button1) because no one could see it"
    check "unseen desktop: DisplayVersion" "$(reg_value "$state_key" DisplayVersion)" 1.2.0
  fi
  check "unseen desktop: state line (power $power)" \
    "$(grep -a 'state ' "$logfile" | tail -n 1 | tr -d '\r' | sed 's/^\[[^]]*\]//')" "state $((power == 0 ? 901 : 0))"
done
