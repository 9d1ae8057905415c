#!/usr/bin/env bash
# Installs on Debian whatever the builds and tests need and the machine lacks.
# Quiet and quick when everything is already there.
set -euo pipefail

# Usage: scripts/install-deps.sh [demo|linux|windows|fuzz|all]   (default: all)
#   demo     the linux program and its stand-in tools: cmake, ninja, g++, libssl-dev
#   linux    the linux build with its tests (adds GoogleTest, openssl)
#   windows  the windows and windows-sim builds (mingw-w64, GoogleTest source)
#   fuzz     the libFuzzer build (clang)
#   all      everything make test needs (adds Wine, Xvfb, fonts, locales, osslsigncode)
# Runs apt only when something is missing; without root it names what is
# missing and stops.
group=${1:-all}
case $group in demo | linux | windows | fuzz | all) ;; *)
  echo "install-deps: unknown group '$group' (demo, linux, windows, fuzz or all)" >&2
  exit 2
  ;;
esac
want() { [ "$group" = all ] || [[ " $* " == *" $group "* ]]; }

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
if want demo linux fuzz; then
  have_cmd g++ || need+=(g++)
  # The posix build's SHA-256 and signature checks are OpenSSL's libcrypto.
  have_pkg libssl-dev || need+=(libssl-dev)
fi
if want linux fuzz; then
  have_pkg libgtest-dev || need+=(libgtest-dev)
  have_pkg libgmock-dev || need+=(libgmock-dev)
  # The signing tests make throwaway certificates and signatures.
  have_cmd openssl || need+=(openssl)
fi
if want fuzz; then
  have_cmd clang++ || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi
if want windows; then
  have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
fi
if want; then
  have_cmd wine || need+=(wine)
  have_pkg wine64 || need+=(wine64)
  have_cmd xvfb-run || need+=(xvfb)
  have_cmd xdotool || need+=(xdotool)
  have_pkg imagemagick || need+=(imagemagick)
  have_pkg fonts-noto-cjk || need+=(fonts-noto-cjk)
  have_pkg fonts-wqy-microhei || need+=(fonts-wqy-microhei)
  have_pkg fonts-dejavu-core || need+=(fonts-dejavu-core)
  have_pkg locales || need+=(locales)
  # make dist's signing and its test: a throwaway certificate, sign, verify.
  have_cmd osslsigncode || need+=(osslsigncode)
  have_cmd openssl || need+=(openssl)
  have_cmd unzip || need+=(unzip)
fi

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing ${need[*]}; as root: apt-get install ${need[*]}" >&2
    exit 1
  fi
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

[ "$group" = all ] || exit 0

# The Wine tests follow LANG for the user's culture.
missing_locales=()
for l in en_US de_DE ja_JP ru_RU; do
  locale -a 2>/dev/null | grep -qi "^${l}\.utf-\?8$" || missing_locales+=("$l")
done
if [ ${#missing_locales[@]} -gt 0 ]; then
  for l in "${missing_locales[@]}"; do
    sed -i "s/^# *\(${l}\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${l}\.UTF-8 UTF-8" /etc/locale.gen || echo "${l}.UTF-8 UTF-8" >>/etc/locale.gen
  done
  locale-gen >/dev/null
fi
