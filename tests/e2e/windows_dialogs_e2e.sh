# shellcheck shell=bash disable=SC2154  # the variables and helpers of windows_e2e.sh
# The windows-sim program's own dialogs answered one by one, as the user
# would: the power dialog's Retry, Cancel and close command, and the restart
# dialog's Yes. Sourced by windows_e2e.sh, whose helpers and counters it uses.

# --- windows-sim: the power and restart dialogs, clicked -----------------------
dlg=$work/dialogs
mkdir -p "$dlg/packages"
cp "$build/windows-sim/bin/OvVBiosInstaller.exe" "$dlg/"
cp -r "$root/examples/packages/nv-dock/." "$dlg/packages/"
cp "$build/windows-sim/bin/vendorflash.exe" "$dlg/packages/"
dlg_trace=$dlg/machine/trace.jsonl

# Button centres in the 640 x 288 window (ui/dialog_common.h): the left place
# holds Retry and Yes, the right one Cancel and No.
left_button="337 235"
right_button="532 235"

visible_dialogs() { xdotool search --onlyvisible --name '^Orvo VBIOS Installer$' 2>/dev/null; }
# shellcheck disable=SC2086  # "x y" is two words
press() { xdotool mousemove --window "$1" $2 click 1 2>/dev/null; }  # window, "x y"
# The system's close command as the keyboard gives it: Alt+F4 to the focused
# window (there is no window manager to send it a close request).
close_command() { xdotool windowfocus --sync "$1" 2>/dev/null && xdotool key alt+F4 2>/dev/null; }
traced() { trace_query "$dlg_trace" "$1" | wc -l; }  # event -> how many so far; 0 before the trace is written
traced_at_least() { [ "$(traced "$1")" -ge "$2" ]; }
gone() { ! visible_dialogs | grep -qx "$1"; }

# wait_for <seconds> <command...>: polls until the command succeeds; false at
# the limit, or when it still fails after the installer has ended.
wait_for() {
  local polls=$(($1 * 5))
  shift
  while [ "$polls" -gt 0 ]; do
    "$@" && return 0
    kill -0 "$installer_pid" 2>/dev/null || {
      "$@"
      return
    }
    sleep 0.2
    polls=$((polls - 1))
  done
  return 1
}

# The one installer window on screen, the same in two looks 0.3 s apart (the
# progress window may still be closing when the next dialog opens); sets $dialog.
one_dialog() {
  local first second
  first=$(visible_dialogs)
  [ "$(wc -w <<<"$first")" -eq 1 ] || return 1
  sleep 0.3
  second=$(visible_dialogs)
  [ "$first" = "$second" ] || return 1
  dialog=$first
}
# The power dialog is the first window, shown once "DC mode" is logged.
power_dialog_shown() { grep -q 'DC mode' "$logfile" 2>/dev/null && one_dialog; }
# The restart dialog follows the state line, after the progress window closed.
restart_dialog_shown() {
  grep -q 'Closing InstallingForm' "$dlg/stdout.txt" 2>/dev/null && grep -q $'state 0\r' "$logfile" 2>/dev/null &&
    one_dialog
}

# dialogs_run <ac_line readings>: a fresh machine on battery, the installer started.
dialogs_run() {
  rm -rf "$dlg/machine"
  mkdir -p "$dlg/machine"
  sed -e 's/^scale = .*/scale = 0/' -e 's/^seconds = .*/seconds = 0/' -e "s/^ac_line = .*/ac_line = $1/" \
    "$root/examples/machines/kestrel-nv/machine.ini" >"$dlg/machine/machine.ini"
  rm -f "$logfile"
  "$wine" reg delete "$state_key" /f >/dev/null 2>&1
  start_installer "$dlg" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$dlg/machine")"
}
flash_started() { [ "$(trace_query "$dlg_trace" process.start program | grep -c 'vendorflash\.exe$')" -gt 0 ]; }
# Retry's one-second waits: those before the flash, whose pacing may wait as long.
retry_waits() {
  trace_query "$dlg_trace" sleep,process.start event ms program | sed '/vendorflash\.exe$/q' |
    grep -c $'^sleep\t1000\t'
}
retry_waits_reach() { [ "$(retry_waits)" -ge "$1" ]; }

# Retry twice: on battery still, then with the power back; the flash goes on
# and its restart dialog is asked to restart twice before No.
waits=0
dialogs_run 0,0,1
if wait_for 60 power_dialog_shown; then
  power=$dialog
  waits=$(retry_waits)
  # A closed dialog answers no second press: that the second Retry is
  # answered shows the first left it open. (Closing is no quicker sign: with
  # no window manager Wine takes a second or two to take a window down.)
  press "$power" "$left_button"
  wait_for 10 retry_waits_reach $((waits + 1)) && sleep 0.5  # restored from 1 x 1
  press "$power" "$left_button"
  wait_for 10 retry_waits_reach $((waits + 2)) && pass "power dialog: Retry on battery keeps it open" ||
    fail "power dialog: Retry on battery keeps it open" "the second Retry went unanswered"
  wait_for 10 gone "$power" && pass "power dialog: Retry with the power back closes it" ||
    fail "power dialog: Retry with the power back closes it" "still open"
  if wait_for 60 restart_dialog_shown; then
    restart=$dialog
    # Two presses in quick succession, each one asked for: had the first
    # closed the dialog, or the second been taken for a double click, there
    # would be one request.
    xdotool mousemove --window "$restart" $left_button click --repeat 2 --delay 150 1 2>/dev/null
    wait_for 10 traced_at_least system.restart 2
    sleep 0.5  # no third
    check "restart dialog: two quick presses of Yes, each one request (as the machine saw them)" \
      "$(trace_query "$dlg_trace" system.restart flags reserved method | sort | uniq -c | sed 's/^ *//')" \
      $'2 2\t0\tExitWindowsEx'
    xdotool getdisplaygeometry >/dev/null 2>&1 && pass "restart dialog: the X session is still there" ||
      fail "restart dialog: the X session is still there" "display gone"
    press "$restart" "$right_button"
  else
    fail "restart dialog after Retry" "not shown"
  fi
else
  fail "power dialog on battery" "not shown"
fi
wait_installer 60
check "power dialog: Retry, flash, restart dialog's No: exit code" "$code" 0
check "power dialog: ... DC mode, then AC mode and the flash" \
  "$(grep -o 'DC mode\|AC mode\|STEP9' "$logfile" 2>/dev/null | tr '\n' ' ')" "DC mode AC mode STEP9 "
check "power dialog: ... two one-second waits of Retry" "$(($(retry_waits) - waits))" 2

window_at() { xdotool getwindowgeometry --shell "$1" 2>/dev/null | awk -F= '/^[XY]=/ {printf "%s%s", sep, $2; sep=","}'; }

# Cancel: nothing is flashed, and the run stops with 901. First the dialog is
# dragged by its label with the pointer itself, in two moves: it must end up
# moved by exactly the pointer's displacement.
dialogs_run 0
if wait_for 60 power_dialog_shown; then
  before=$(window_at "$dialog")
  xdotool mousemove --window "$dialog" 60 40 mousedown 1 sleep 0.3 mousemove_relative 37 21 sleep 0.3 \
    mousemove_relative -- -137 39 sleep 0.3 mouseup 1 2>/dev/null
  sleep 0.5
  after=$(window_at "$dialog")
  if [ -n "$before" ]; then
    check "power dialog: dragged by its label, it moves with the pointer (-100, +60)" "$after" \
      "$((${before%,*} - 100)),$((${before#*,} + 60))"
  else
    fail "power dialog: dragged by its label" "no window position"
  fi
  press "$dialog" "$right_button"
else
  fail "power dialog on battery" "not shown"
fi
wait_installer 60
check "power dialog: Cancel exit code" "$code" $((901 & 255))
check "power dialog: Cancel state line" "$(tail -n 1 "$logfile" 2>/dev/null | tr -d '\r' | sed 's/^\[[^]]*\]//')" \
  "state 901"
check "power dialog: Cancel registry State" "$(reg_value "$state_key" State)" 0x385
flash_started && fail "power dialog: Cancel flashes nothing" "the flash started" ||
  pass "power dialog: Cancel flashes nothing"

# The close command leaves the answer as it was, Retry's: the run goes on,
# on battery still, as the user has chosen. The restart dialog closes the
# same way, without asking for a restart.
dialogs_run 0
if wait_for 60 power_dialog_shown; then
  close_command "$dialog"
  if wait_for 60 restart_dialog_shown; then
    close_command "$dialog"
  else
    fail "power dialog: close command" "no restart dialog after it"
  fi
else
  fail "power dialog on battery" "not shown"
fi
wait_installer 60
check "power dialog: close command, flash, restart dialog closed: exit code" "$code" 0
flash_started && pass "power dialog: ... the flash ran" || fail "power dialog: ... the flash ran" "not started"
check "restart dialog: closing it asks for no restart" "$(traced system.restart)" 0
