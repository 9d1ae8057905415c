#!/usr/bin/env bash
# Installs on Debian whatever the builds and tests need and the machine lacks.
# Quiet and quick when everything is already there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd ninja || need+=(ninja-build)
have_cmd g++ || need+=(g++)
have_cmd clang++ || need+=(clang)
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
have_cmd wine || need+=(wine)
have_pkg wine64 || need+=(wine64)
have_cmd xvfb-run || need+=(xvfb)
have_cmd xdotool || need+=(xdotool)
have_pkg imagemagick || need+=(imagemagick)
have_pkg fonts-noto-cjk || need+=(fonts-noto-cjk)
have_pkg fonts-wqy-microhei || need+=(fonts-wqy-microhei)
have_pkg fonts-dejavu-core || need+=(fonts-dejavu-core)
have_pkg locales || need+=(locales)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_pkg libgmock-dev || need+=(libgmock-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)

if [ ${#need[@]} -gt 0 ]; then
  echo "install-deps: installing ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

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
