#!/usr/bin/env bash
# Fails when a source file includes a header of a folder its layer may not use.
# Usage: scripts/check-layers.sh [source root]   (default: this repository)
#
# Layers only look down: nothing includes the installer, the core (common,
# package, dock, ui dialogs) never includes a backend, and a backend sees only
# its own platform backend (win32 with win32). The simulated machine is reached
# by the posix platform and the sim or headless backends, never by the
# Windows platform or hardware backends, so the product build cannot contain it.
# tests/ may include anything and is not checked.
set -uo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# A folder's files may include headers of the folder itself and of these.
declare -A allowed=(
  [platform]=""
  [platform/posix]="platform simulated"
  [platform/win32]="platform"
  [simulated]="platform"
  [simulated/posix]="simulated platform"
  [simulated/win32]="simulated platform platform/win32"
  [hardware]="platform"
  [hardware/sim]="hardware platform simulated"
  [hardware/win32]="hardware platform platform/win32"
  [common]="platform"
  [package]="common hardware platform"
  [dock]="common hardware platform"
  [ui]="ui/toolkit common hardware platform"
  [ui/toolkit]="platform"
  [ui/toolkit/headless]="ui/toolkit platform simulated"
  [ui/toolkit/win32]="ui/toolkit ui/resources platform platform/win32"
  [ui/resources]=""
  [installer]="ui ui/toolkit package dock common hardware platform"
  [installer/posix]="installer simulated platform platform/posix"
  [installer/win32]="installer platform platform/win32"
  [tools]="platform simulated"
  [tools/entry]="platform platform/win32"
  [tools/package_check]="tools/entry package common hardware platform"
  [tools/package_sign]="tools/entry tools/package_check package common hardware platform platform/win32"
  [tools/log_explain]="tools/entry tools/package_check package common hardware platform"
  [tools/dist]="tools/entry tools/package_check package common hardware platform"
  [tools/rehearse]="tools/entry tools/package_check tools/package_sign package common hardware platform simulated"
)
# First path parts that name a folder of this repository; any other include
# (<windows.h>, "gtest/gtest.h") is the toolchain's.
own="common|platform|simulated|hardware|package|dock|ui|installer|tools|tests"

checked=0
wrong=0
while IFS= read -r -d '' file; do
  rel=${file#"$root"/}
  folder=.
  [[ $rel == */* ]] && folder=${rel%/*}
  if [[ ! -v allowed[$folder] ]]; then
    echo "$rel: folder $folder has no layer rule in scripts/check-layers.sh"
    wrong=$((wrong + 1))
    continue
  fi
  checked=$((checked + 1))
  while IFS=: read -r line header; do
    target=${header%/*}
    [ "$target" = "$folder" ] && continue
    ok=0
    for may in ${allowed[$folder]}; do [ "$target" = "$may" ] && ok=1; done
    if [ "$ok" -eq 0 ]; then
      echo "$rel:$line: includes $header, but $folder may include only: $folder ${allowed[$folder]}"
      wrong=$((wrong + 1))
    fi
  done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($own)/" "$file" |
    sed -E 's/^([0-9]+):[^"<]*["<]([^">]*)[">].*/\1:\2/')
done < <(find "$root" \( -path "$root/build*" -o -path "$root/.*" -o -path "$root/tests" \) -prune -o \
  -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0)

echo "layers: $checked files checked, $wrong wrong includes"
[ "$wrong" -eq 0 ]
