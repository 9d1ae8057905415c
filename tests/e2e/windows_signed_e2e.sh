# shellcheck shell=bash disable=SC2154  # the variables and helpers of windows_e2e.sh
# The windows-sim program signed with osslsigncode, as make dist signs the
# product: it reads its own Authenticode signature and runs only a package
# signed with the same certificate. Sourced by windows_e2e.sh, whose helpers
# and counters it uses.

# --- windows-sim signed: its publisher's package flashed, a changed one refused
signed=$work/signed
mkdir -p "$signed/packages" "$signed/machine" "$signed/keys"
keys=$signed/keys
make_signer() {  # name, subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "$2" -keyout "$keys/$1-key.pem" \
    -out "$keys/$1.pem" -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    >/dev/null 2>&1
}
sign_package() {  # signer name: the manifest as sha256sum prints it, signed with openssl cms
  (cd "$signed/packages" && find . -type f ! -name 'package.sha256*' -print0 | sed -z 's#^\./##' |
    xargs -0 sha256sum >package.sha256) &&
    openssl cms -sign -binary -md sha256 -outform DER -in "$signed/packages/package.sha256" \
      -signer "$keys/$1.pem" -inkey "$keys/$1-key.pem" -out "$signed/packages/package.sha256.p7s"
}
signed_run() {  # runs the program in $signed on a fresh trace; sets $code
  rm -f "$logfile" "$signed/machine/trace.jsonl"
  sed -i 's/^version = .*/version = 020.001.000.038.016233/' "$signed/machine/machine.ini"
  set_bios
  run_installer "$signed" LANG=en_US.UTF-8 OVVB_MACHINE="$(winpath "$signed/machine")"
}
log_has() { tr -d '\r' <"$logfile" 2>/dev/null | sed 's/^\[[^]]*\]//' | grep -qxF "$1"; }
started_count() { trace_query "$signed/machine/trace.jsonl" process.start | wc -l; }

if make_signer publisher "/O=Orvo Test/CN=OvVBios test publisher" &&
  make_signer stranger "/CN=OvVBios test stranger" &&
  osslsigncode sign -certs "$keys/publisher.pem" -key "$keys/publisher-key.pem" -h sha256 \
    -in "$build/windows-sim/bin/OvVBiosInstaller.exe" -out "$signed/OvVBiosInstaller.exe" >/dev/null 2>&1; then
  cp -r "$root/examples/packages/amd-dock/." "$signed/packages/"
  cp "$build/windows-sim/bin/"{amdvbflash,devcon64}.exe "$signed/packages/"
  sed -e 's/^scale = .*/scale = 0/' -e 's/^flash_seconds = .*/flash_seconds = 0/' \
    "$root/examples/machines/kestrel-amd/machine.ini" >"$signed/machine/machine.ini"
  publisher='"CN=OvVBios test publisher, O=Orvo Test"'

  sign_package publisher
  signed_run
  check "windows-sim signed: its publisher's package flashed" "$code" 0
  log_has "Package signed by $publisher; every file is as signed" &&
    pass "windows-sim signed: ... the signer logged" ||
    fail "windows-sim signed: ... the signer logged" "$(grep -a 'ackage' "$logfile" | tr -d '\r' | head -n 3)"

  printf 'VBIOS_VERSION=020.001.000.038.099999\n' >>"$signed/packages/kestrel_rx6700.rom"
  signed_run
  check "windows-sim signed: a ROM changed after signing: exit code" "$code" 104
  log_has "ERROR package signature: kestrel_rx6700.rom changed since signing" &&
    pass "windows-sim signed: ... the reason logged" ||
    fail "windows-sim signed: ... the reason logged" "$(grep -a 'ERROR' "$logfile" | tr -d '\r' | head -n 2)"
  check "windows-sim signed: ... nothing started" "$(started_count)" 0

  sign_package stranger
  signed_run
  check "windows-sim signed: signed by another certificate: exit code" "$code" 104
  log_has "ERROR package signature: signed by \"CN=OvVBios test stranger\" and not by the program's publisher $publisher" &&
    pass "windows-sim signed: ... both signers named" ||
    fail "windows-sim signed: ... both signers named" "$(grep -a 'ERROR' "$logfile" | tr -d '\r' | head -n 2)"

  rm -f "$signed/packages/package.sha256" "$signed/packages/package.sha256.p7s"
  signed_run
  check "windows-sim signed: an unsigned package: exit code" "$code" 104
  log_has "ERROR package signature: no signature" && pass "windows-sim signed: ... no signature" ||
    fail "windows-sim signed: ... no signature" "$(grep -a 'ERROR' "$logfile" | tr -d '\r' | head -n 2)"
  check "windows-sim signed: ... nothing started" "$(started_count)" 0
else
  fail "windows-sim signed" "a throwaway certificate or osslsigncode failed"
fi
