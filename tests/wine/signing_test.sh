#!/usr/bin/env bash
# make dist's signing, with a throwaway self-signed code-signing certificate:
# each exe verifies against it, a signed installer still runs under Wine (no
# package: 104, since a signed program runs only a package signed as it is;
# the log names its publisher), one changed byte breaks the signature, and a wrong password,
# a missing certificate or no osslsigncode leave no zip. Unsigned, the zip is
# the same bytes twice. Prints PASS/FAIL lines; exits non-zero on a failure.
# Usage (WINEPREFIX set): signing_test.sh <source root> <windows bin folder>
set -uo pipefail
root=${1:?source root}
bin=${2:?windows bin folder}
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
mkdir -p "$work/build/windows" "$work/build/dist" "$work/out"
ln -s "$bin" "$work/build/windows/bin"
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

export OVVB_SIGN_PKCS12=$work/cert.p12
if OVVB_SIGN_PASSWORD=right-password dist; then
  mkdir -p "$work/signed" && (cd "$work/signed" && unzip -q -j "$(zip_file)" '*.exe')
  for exe in OvVBiosInstaller OvVBiosPackageCheck OvVBiosLogExplain; do
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

  # A signed installer still runs, and reads its own signature: an empty
  # packages folder is no package its publisher signed. Taken as answered
  # on a station no one sees, so nothing waits for a click.
  mkdir -p "$work/run/packages" && cp "$work/signed/OvVBiosInstaller.exe" "$work/run/"
  WINEDEBUG=-all timeout 120 "$wine" "$bin/unseen_station.exe" "Z:${work//\//\\}\\run\\OvVBiosInstaller.exe" \
    </dev/null >"$work/run.txt" 2>&1
  code=$?
  [ "$code" = 104 ] && grep -q "the program is signed by \"CN=OvVBiosInstaller test signing\"" "$work/run.txt" &&
    pass "signed installer runs under Wine and knows its publisher (exit 104)" ||
    fail "signed installer runs under Wine and knows its publisher" "exit $code: $(tail -n 4 "$work/run.txt")"

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

echo "signing: $failed failed"
[ "$failed" -eq 0 ]
