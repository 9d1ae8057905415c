#!/usr/bin/env bash
# Remakes the signature contract tests' fixtures with throwaway certificates
# (their keys are not kept). The package they sign is the one
# signature_contract_test.cpp writes: configs.txt and roms/a.rom.
# Usage: tests/contract/signatures/make-fixtures.sh
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cert() {  # name, subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "$2" -keyout "$1-key.pem" -out "$1.pem" 2>/dev/null
}
cert publisher "/C=TW/O=Orvo Test/CN=OvVBios test publisher"
cert other "/C=TW/O=Orvo Test/CN=OvVBios test publisher"
mkdir -p package/roms
printf 'ReleaseVersion=V1.2.0\r\n' >package/configs.txt
printf 'stand-in ROM image\n' >package/roms/a.rom
(cd package && find . -type f -print0 | sed -z 's#^\./##' | sort -z | xargs -0 sha256sum >../package.sha256)
sign() {  # output, extra options...
  local name=$1
  shift
  openssl cms -sign -binary -md sha256 -outform DER -in package.sha256 -out "$name" "$@"
}
sign good.p7s -signer publisher.pem -inkey publisher-key.pem
sign no-attributes.p7s -signer publisher.pem -inkey publisher-key.pem -noattr
sign other.p7s -signer other.pem -inkey other-key.pem
sign two-signers.p7s -signer publisher.pem -inkey publisher-key.pem -signer other.pem -inkey other-key.pem
sign chain.p7s -signer publisher.pem -inkey publisher-key.pem -certfile other.pem
sign no-certificate.p7s -signer publisher.pem -inkey publisher-key.pem -nocerts
sign embedded.p7s -signer publisher.pem -inkey publisher-key.pem -nodetach
openssl cms -sign -binary -md sha1 -outform DER -in package.sha256 -out sha1.p7s -signer publisher.pem \
  -inkey publisher-key.pem
openssl crl2pkcs7 -nocrl -certfile publisher.pem -outform DER -out no-signer.p7s
openssl x509 -in publisher.pem -outform DER -out publisher.der
cp publisher.pem other.pem package.sha256 ./*.p7s publisher.der "$out/"
