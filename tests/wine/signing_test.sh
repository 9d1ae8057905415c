#!/usr/bin/env bash
# make dist's signing, with a throwaway self-signed code-signing certificate:
# each exe verifies against it, the example package is signed with it, a
# signed installer still runs under Wine and knows its publisher (an unsigned
# package: 104; the zip's signed one: past the check), one changed byte
# breaks the signature, and a wrong password, a missing certificate or no
# osslsigncode leave no zip. Unsigned, the zip is the same bytes twice. Then
# OvVBiosPackageSign.exe under Wine: what it writes is what openssl, sha256sum,
# the linux signer and the installer's own check read. Prints PASS/FAIL lines;
# exits non-zero on a failure.
# Usage (WINEPREFIX set): signing_test.sh <source root> <windows bin folder> <linux bin folder>
set -uo pipefail
root=${1:?source root}
bin=${2:?windows bin folder}
linux=${3:?linux bin folder}
wine=$(command -v wine64 || command -v wine)
# The interpreter itself, not a wrapper that needs PATH.
py=$(python3 -c 'import sys; print(sys.executable)')
failed=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }
work=$(mktemp -d /tmp/ovvb-sign-XXXXXX)
trap 'rm -rf "$work"' EXIT

# make-dist.py reads <build>/windows/bin, <build>/windows/CMakeCache.txt and
# the two generated sheets; the sheets' content does not matter here.
mkdir -p "$work/build/windows" "$work/build/linux" "$work/build/dist" "$work/out"
ln -s "$bin" "$work/build/windows/bin"
ln -s "$linux" "$work/build/linux/bin"
ln -s "$bin/../CMakeCache.txt" "$work/build/windows/CMakeCache.txt"
echo "authors" >"$work/build/dist/PACKAGE-AUTHORS.md"
echo "deployment" >"$work/build/dist/DEPLOYMENT.md"
dist() { "$py" "$root/scripts/make-dist.py" "$root" "$work/build" "$work/out" >"$work/dist.txt" 2>&1; }
zip_file() { ls "$work"/out/*.zip 2>/dev/null; }

dist && cp "$(zip_file)" "$work/unsigned-1.zip" && dist && cmp -s "$work/unsigned-1.zip" "$(zip_file)" &&
  pass "unsigned zip: same bytes twice" || fail "unsigned zip: same bytes twice" "$(cat "$work/dist.txt")"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=OvVBiosInstaller test signing" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout pass:right-password >/dev/null 2>&1 || { fail "test certificate" "openssl failed"; exit 1; }

# What a signed package must be: a manifest sha256sum checks, a signature
# openssl verifies with exactly the test certificate in it, and the installer's
# own check (the linux and the Windows checker) naming the signer.
signed_package() {  # name, folder
  local name=$1 folder=$2
  openssl x509 -in "$work/cert.pem" -outform DER -out "$work/cert.der"
  if ! (cd "$folder" && sha256sum --strict -c package.sha256 >/dev/null 2>&1); then
    fail "$name: sha256sum -c passes" "$(cd "$folder" && sha256sum -c package.sha256 2>&1 | grep -v ': OK$' | head -n 3)"
  elif ! openssl cms -verify -binary -inform DER -in "$folder/package.sha256.p7s" -content "$folder/package.sha256" \
    -noverify -out /dev/null 2>"$work/cms.txt"; then
    fail "$name: openssl cms -verify" "$(cat "$work/cms.txt")"
  elif ! openssl pkcs7 -inform DER -in "$folder/package.sha256.p7s" -print_certs 2>/dev/null |
    openssl x509 -outform DER 2>/dev/null | cmp -s - "$work/cert.der"; then
    fail "$name: the signature carries the signing certificate" "it does not"
  elif {
    "$linux/OvVBiosPackageCheck" "$folder" >"$work/check.txt" 2>&1  # the zip's example lacks the vendor tools
    ! grep -q "note \[signed\]: signed by CN=OvVBiosInstaller test signing," "$work/check.txt"
  }; then
    fail "$name: the checker finds it signed" "$(grep -i 'sign' "$work/check.txt" | head -n 2)"
  elif {
    (cd "$folder" && "$wine" "$bin/OvVBiosPackageCheck.exe" . </dev/null >"$work/check.txt" 2>/dev/null)
    ! grep -q "note \[signed\]: signed by CN=OvVBiosInstaller test signing," "$work/check.txt"
  }; then
    fail "$name: the Windows checker finds it signed" "$(grep -i 'sign' "$work/check.txt" | head -n 2)"
  else
    pass "$name: sha256sum, openssl and both checkers accept it"
  fi
}

export OVVB_SIGN_PKCS12=$work/cert.p12
if OVVB_SIGN_PASSWORD=right-password dist; then
  mkdir -p "$work/signed" && (cd "$work/signed" && unzip -q -j "$(zip_file)" '*.exe')
  for exe in OvVBiosInstaller OvVBiosPackageCheck OvVBiosPackageSign OvVBiosLogExplain; do
    if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed/$exe.exe" >"$work/verify.txt" 2>&1; then
      pass "$exe.exe verifies against the certificate"
    else
      fail "$exe.exe verifies against the certificate" "$(tail -n 3 "$work/verify.txt" | tr '\n' ' ')"
    fi
  done
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed/OvVBiosInstaller.exe" >"$work/verify.txt" 2>&1
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.txt" &&
    grep -q 'Text description: Orvo VBIOS Installer$' "$work/verify.txt" &&
    grep -q 'URL description: https://' "$work/verify.txt" &&
    pass "SHA-256, product name and support address in the signature" ||
    fail "SHA-256, product name and support address in the signature" "$(grep -i 'digest alg\|description' "$work/verify.txt" | tr '\n' ' ')"

  # The example package, signed with the same certificate.
  mkdir -p "$work/unzipped" && unzip -q "$(zip_file)" -d "$work/unzipped"
  package=$(echo "$work"/unzipped/*/packages)
  signed_package "zip's example package" "$package"

  # A signed installer still runs, taken as answered on a station no one
  # sees so that nothing waits for a click: an empty packages folder is not
  # signed by its publisher (104); the zip's own package is, and the run goes
  # on past the check to the GPU, which Wine has none of (202).
  mkdir -p "$work/run/packages" && cp "$work/signed/OvVBiosInstaller.exe" "$work/run/"
  signed_run() {  # name, expected code, text its output must hold
    WINEDEBUG=-all timeout 120 "$wine" "$bin/unseen_station.exe" "Z:${work//\//\\}\\run\\OvVBiosInstaller.exe" \
      </dev/null >"$work/run.txt" 2>&1
    local code=$?
    [ "$code" = "$2" ] && grep -qF "$3" "$work/run.txt" && pass "signed installer under Wine, $1 (exit $2)" ||
      fail "signed installer under Wine, $1" "exit $code: $(tail -n 4 "$work/run.txt")"
  }
  # It knows its publisher: the log names it.
  signed_run "an unsigned empty package" 104 'the program is signed by "CN=OvVBiosInstaller test signing"'

  cp "$package"/* "$work/run/packages/"
  signed_run "the zip's signed package" 202 "state 202"

  cp "$work/signed/OvVBiosInstaller.exe" "$work/changed.exe"
  # One byte in the middle of the code section.
  offset=$(($(stat -c %s "$work/changed.exe") / 3))
  byte=$(od -An -tu1 -j "$offset" -N 1 "$work/changed.exe" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$work/changed.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1 &&
    fail "one changed byte fails verification" "still verifies" || pass "one changed byte fails verification"
else
  fail "signed zip" "$(cat "$work/dist.txt")"
fi

# A stale zip from the runs above must not survive a failed signing.
expect_stop() {  # name, text the message must hold, env...
  local name=$1 text=$2
  shift 2
  if env "$@" "$py" "$root/scripts/make-dist.py" "$root" "$work/build" "$work/out" >"$work/dist.txt" 2>&1; then
    fail "$name stops make dist" "it went on"
  elif ! grep -q "$text" "$work/dist.txt"; then
    fail "$name stops make dist with a clear message" "$(cat "$work/dist.txt")"
  elif [ -n "$(ls -A "$work/out")" ]; then
    fail "$name leaves no zip" "$(ls "$work/out")"
  else
    pass "$name: stops with '$text', no zip"
  fi
}
expect_stop "a wrong password" "wrong OVVB_SIGN_PASSWORD" OVVB_SIGN_PASSWORD=wrong-password
dist  # a zip again, for the next case to remove
expect_stop "a missing certificate" "does not exist" OVVB_SIGN_PKCS12="$work/none.p12" OVVB_SIGN_PASSWORD=x
mkdir -p "$work/nobin"
dist
expect_stop "no osslsigncode" "osslsigncode is not installed" OVVB_SIGN_PASSWORD=right-password PATH="$work/nobin"

# OvVBiosPackageSign.exe under Wine, in a package with a subfolder: run from
# the work folder with relative paths, as an author types them.
cd "$work" || exit 1
cp -r "$root/examples/packages/amd-dock" winpkg && mkdir -p winpkg/docs && echo notes >"winpkg/docs/read me.txt"
cp -r winpkg linuxpkg
if OVVB_SIGN_PASSWORD=right-password "$wine" "$bin/OvVBiosPackageSign.exe" winpkg --pkcs12 cert.p12 \
  </dev/null >wine-sign.txt 2>/dev/null && grep -q '^package.sha256: 4 files' wine-sign.txt &&
  grep -q '^package.sha256.p7s: signed by CN=OvVBiosInstaller test signing' wine-sign.txt; then
  pass "OvVBiosPackageSign.exe signs under Wine"
  signed_package "OvVBiosPackageSign.exe's package" "$work/winpkg"
  OVVB_SIGN_PASSWORD=right-password "$linux/OvVBiosPackageSign" linuxpkg --pkcs12 cert.p12 >/dev/null 2>&1
  cmp -s winpkg/package.sha256 linuxpkg/package.sha256 && pass "the Windows and linux signers write the same manifest" ||
    fail "the Windows and linux signers write the same manifest" "$(diff winpkg/package.sha256 linuxpkg/package.sha256 | head -n 4)"
else
  fail "OvVBiosPackageSign.exe signs under Wine" "$(tail -n 3 wine-sign.txt)"
fi
# The password from standard input when the variable is not set.
echo x >>winpkg/configs.txt
echo wrong-password | env -u OVVB_SIGN_PASSWORD "$wine" "$bin/OvVBiosPackageSign.exe" winpkg --pkcs12 cert.p12 \
  >wine-sign.txt 2>/dev/null
code=$?
[ "$code" = 2 ] && grep -q 'the password does not open the PKCS#12 file' wine-sign.txt &&
  pass "a wrong password on standard input signs nothing (exit 2)" ||
  fail "a wrong password on standard input signs nothing" "exit $code: $(tail -n 1 wine-sign.txt)"
echo right-password | env -u OVVB_SIGN_PASSWORD "$wine" "$bin/OvVBiosPackageSign.exe" winpkg --pkcs12 cert.p12 \
  >wine-sign.txt 2>/dev/null && signed_package "a package signed again, the password on standard input" "$work/winpkg" ||
  fail "the password on standard input" "$(tail -n 2 wine-sign.txt)"

echo "signing: $failed failed"
[ "$failed" -eq 0 ]
