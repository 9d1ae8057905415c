#!/usr/bin/env bash
# Configures a build folder when it has not been configured yet, when the
# options asked for differ from last time, or when a CMakeLists.txt or a
# cmake/*.cmake file changed since. CMake's warnings and errors are shown,
# its progress lines are kept in <build dir>/configure.log.
# Usage: scripts/configure.sh <build dir> <cmake options...>
set -uo pipefail
dir=${1:?build dir}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
stamp=$dir/configure-options.txt
options="$*"

if [ -f "$dir/build.ninja" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$options" ]; then
  changed=$(find "$root" \( -path "$root/build" -o -path "$root/.git" \) -prune -o \
    \( -name CMakeLists.txt -o -name '*.cmake' \) -newer "$stamp" -print -quit)
  [ -z "$changed" ] && exit 0
fi

mkdir -p "$dir"
rm -f "$stamp"
if ! cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
  grep -v '^-- ' "$dir/configure.log" >&2
  echo "configure of $dir failed (whole output: $dir/configure.log)" >&2
  exit 1
fi
grep -v '^-- ' "$dir/configure.log"
echo "$options" >"$stamp"
exit 0
