#!/usr/bin/env bash
# Runs the linux build of the installer on an example package and simulated
# machine, then shows what it left behind: the log, the registry record and
# the exit code. Without a package and machine named it makes two runs: the
# English AMD notebook in full, then the German NVIDIA notebook, whose
# dialogs speak German. Usage: scripts/demo.sh <linux build dir> [package] [machine]
set -uo pipefail
build=${1:?linux build dir}
root=$(cd "$(dirname "$0")/.." && pwd)

# At a terminal the dialogs draw themselves as boxes and ask for a button;
# otherwise they answer themselves, so show from the trace what they said.
show_dialogs() {
  [ -t 0 ] && [ -t 1 ] && return
  echo
  echo "== Dialogs shown (trace.jsonl: dialog.show)"
  # trace_query writes a line break inside a value as \x0A, so one event is one line.
  "$build/bin/trace_query" "$1/trace.jsonl" dialog.show,dialog.click event form title label1 \
    buttons.button3 buttons.button1 buttons.button2 button | awk -F'\t' '
    function wrap(text,    n, words, i, line) {
      n = split(text, words, /[ \t]+/)
      line = ""
      for (i = 1; i <= n; i++) {
        if (words[i] == "") continue
        if (line != "" && length(line) + 1 + length(words[i]) > 96) { print "    " line; line = "" }
        line = line == "" ? words[i] : line " " words[i]
      }
      if (line != "") print "    " line
      else if (n == 0 || text ~ /^[ \t]*$/) print ""
    }
    $1 == "dialog.show" {
      printf "[%s] \"%s\"\n", $2, $3
      label = $4
      sub(/^(\\x0A)+/, "", label); sub(/(\\x0A)+$/, "", label)
      n = split(label, lines, /\\x0A/)
      for (i = 1; i <= n; i++) wrap(lines[i])
      # Left to right: Yes (button3) or Retry (button1), then No or Cancel.
      delete caption; row = ""
      caption["button3"] = $5; caption["button1"] = $6; caption["button2"] = $7
      for (b = 5; b <= 7; b++) if ($b != "") row = row (row == "" ? "" : "  ") "[" $b "]"
      if (row != "") print "    " row
    }
    $1 == "dialog.click" {
      printf "    pressed: %s\n", ($8 in caption && caption[$8] != "") ? caption[$8] : $8
    }'
}

demo_run() {
  local package=$1 machine=$2 demo=$3
  rm -rf "$demo"
  mkdir -p "$demo/packages"
  cp "$build/bin/OvVBiosInstaller" "$demo/"
  cp -r "$root/examples/packages/$package/." "$demo/packages/"
  cp "$build/bin/amdvbflash.exe" "$build/bin/devcon64.exe" "$demo/packages/"
  # An NVIDIA package carries its own flash program; the stand-in plays it.
  grep -q '^VBiosROM_0=vendorflash.exe' "$demo/packages/configs.txt" && cp "$build/bin/vendorflash.exe" "$demo/packages/"
  cp -r "$root/examples/machines/$machine" "$demo/machine"

  echo "== Running $demo/OvVBiosInstaller with package '$package' on machine '$machine'" \
    "([user] lcid $(awk -F' *= *' '$1 == "lcid" {print $2; exit}' "$demo/machine/machine.ini"))"
  OVVB_MACHINE="$demo/machine" "$demo/OvVBiosInstaller"
  code=$?
  show_dialogs "$demo/machine"
}

if [ $# -ge 2 ]; then
  runs=("$2 ${3:-kestrel-amd} $build/demo")
else
  runs=("amd-dock kestrel-amd $build/demo" "nv-dock kestrel-nv $build/demo-de")
fi

first=1
for run in "${runs[@]}"; do
  read -r package machine demo <<<"$run"
  [ $first = 1 ] || printf '\n\n'
  demo_run "$package" "$machine" "$demo"
  if [ $first = 1 ]; then
    echo
    echo "== Installation log (C:\\Windows\\Log\\OrvoVbInst.txt)"
    tr -d '\r' <"$demo/machine/drive_c/Windows/Log/OrvoVbInst.txt"
    echo
    echo "== Registry record (HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS)"
    awk '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS\]/{on=1; print; next} /^\[/{on=0} on && NF' "$demo/machine/registry.reg"
  fi
  echo
  echo "== Exit code: $code"
  [ $first = 1 ] && echo "(run it again: OVVB_MACHINE=$demo/machine $demo/OvVBiosInstaller ; the VBIOS is now up to date, exit code 1)"
  first=0
done
