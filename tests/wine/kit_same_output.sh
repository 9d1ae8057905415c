#!/usr/bin/env bash
# The kit's Windows console programs print exactly what the linux ones print
# and exit with the same codes: on every example package (with and without
# the stand-in tools), and on a log with two German-culture runs.
# Usage: kit_same_output.sh <windows bin> <linux bin> <source root>
set -uo pipefail
win=$1 linux=$2 root=$3
work=$(mktemp -d /tmp/ovvb-kit-wine-XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0

same() {  # label, linux command..., -- windows command...
  local label=$1
  shift
  local args=() ; while [ "$1" != "--" ]; do args+=("$1"); shift; done; shift
  "${args[@]}" >"$work/linux.txt" 2>&1; local le=$?
  wine "$@" >"$work/windows.txt" 2>/dev/null; local we=$?
  if [ "$le" != "$we" ] || ! cmp -s "$work/linux.txt" "$work/windows.txt"; then
    echo "FAIL $label: exit $le (linux) vs $we (windows)"
    diff "$work/linux.txt" "$work/windows.txt" | head -n 10
    failed=$((failed + 1))
  fi
}

cd "$root" || exit 1
# With the stand-ins named, as the rehearsal plays them; without, a package
# that lacks its tools is the same error on both.
for folder in examples/packages/* examples/broken-packages/*; do
  same "$folder" "$linux/OvVBiosPackageCheck" "$folder" --tools "$linux" -- \
    "$win/OvVBiosPackageCheck.exe" "$folder" --tools "$win"
done
for folder in examples/packages/amd-dock examples/broken-packages/ec-config-amd; do
  same "$folder without tools" "$linux/OvVBiosPackageCheck" "$folder" -- "$win/OvVBiosPackageCheck.exe" "$folder"
done
# A link the checker sees by the platform's own test, as its C++ library on
# Windows sees through links (Wine shows a link to a folder as one, not a
# link to a file).
mkdir -p "$work/linked" && cp -r examples/packages/amd-dock/. "$work/linked/" && ln -s "$root/examples" "$work/linked/more"
same "linked" "$linux/OvVBiosPackageCheck" "$work/linked" -- "$win/OvVBiosPackageCheck.exe" "$work/linked"
# A signed package and the same package changed since: the signature's
# subject and reason as both backends' cryptography words them.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/C=TW/O=Orvo Test/CN=Kit test signer" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" -passout pass:pw \
    >/dev/null 2>&1 || { echo "FAIL test certificate: openssl failed"; failed=$((failed + 1)); }
mkdir -p "$work/signed" && cp -r examples/packages/amd-dock/. "$work/signed/"
OVVB_SIGN_PASSWORD=pw "$linux/OvVBiosPackageSign" "$work/signed" --pkcs12 "$work/cert.p12" >/dev/null
same "signed" "$linux/OvVBiosPackageCheck" "$work/signed" -- "$win/OvVBiosPackageCheck.exe" "$work/signed"
echo changed >>"$work/signed/kestrel_rx6700.rom"
same "signed, then changed" "$linux/OvVBiosPackageCheck" "$work/signed" -- "$win/OvVBiosPackageCheck.exe" "$work/signed"
same "json" "$linux/OvVBiosPackageCheck" examples/broken-packages/typos --json -- \
  "$win/OvVBiosPackageCheck.exe" examples/broken-packages/typos --json

mkdir -p "$work/run/packages" "$work/run/machine"
cp "$linux/OvVBiosInstaller" "$work/run/"
cp -r examples/packages/amd-dock/. "$linux/amdvbflash.exe" "$linux/devcon64.exe" "$work/run/packages/"
sed -e 's/^lcid = .*/lcid = 1031/' -e 's/^scale = .*/scale = 0/' examples/machines/kestrel-amd/machine.ini \
  >"$work/run/machine/machine.ini"
cp examples/machines/kestrel-amd/registry.reg "$work/run/machine/"
for _ in 1 2; do OVVB_MACHINE=$work/run/machine "$work/run/OvVBiosInstaller" </dev/null >/dev/null 2>&1; done
cp "$work/run/machine/drive_c/Windows/Log/OrvoVbInst.txt" "$work/log.txt"
same "log" "$linux/OvVBiosLogExplain" "$work/log.txt" -- "$win/OvVBiosLogExplain.exe" "$work/log.txt"

[ "$failed" -eq 0 ] && echo "kit tools: same output under Wine"
exit "$failed"
