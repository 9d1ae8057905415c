#!/usr/bin/env bash
# Runs the linux build of the installer on an example package and simulated
# machine, then shows what it left behind: the log, the registry record and
# the exit code. Usage: scripts/demo.sh <linux build dir> [package] [machine]
set -uo pipefail
build=${1:?linux build dir}
package=${2:-amd-dock}
machine=${3:-kestrel-amd}
root=$(cd "$(dirname "$0")/.." && pwd)
demo=$build/demo

rm -rf "$demo"
mkdir -p "$demo/packages"
cp "$build/bin/OvVBiosInstaller" "$demo/"
cp -r "$root/examples/packages/$package/." "$demo/packages/"
cp "$build/bin/amdvbflash.exe" "$build/bin/devcon64.exe" "$demo/packages/"
# An NVIDIA package carries its own flash program; the stand-in plays it.
grep -q '^VBiosROM_0=vendorflash.exe' "$demo/packages/configs.txt" && cp "$build/bin/vendorflash.exe" "$demo/packages/"
cp -r "$root/examples/machines/$machine" "$demo/machine"

echo "== Running $demo/OvVBiosInstaller with package '$package' on machine '$machine'"
OVVB_MACHINE="$demo/machine" "$demo/OvVBiosInstaller"
code=$?
echo
echo "== Installation log (C:\\Windows\\Log\\OrvoVbInst.txt)"
tr -d '\r' <"$demo/machine/drive_c/Windows/Log/OrvoVbInst.txt"
echo
echo "== Registry record (HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS)"
awk '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvo\\VBIOS\]/{on=1; print; next} /^\[/{on=0} on && NF' "$demo/machine/registry.reg"
echo
echo "== Exit code: $code"
echo "(run it again: OVVB_MACHINE=$demo/machine $demo/OvVBiosInstaller ; the VBIOS is now up to date, exit code 1)"
