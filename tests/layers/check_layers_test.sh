#!/usr/bin/env bash
# The layer check itself: each case plants one file in a small tree that is
# otherwise clean, and the check must pass or name the wrong include.
# Ends with "check-layers test: N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/scripts/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# file | its one include line | expected: ok, or a piece of the complaint
cases=(
  'package/a.cpp|#include "platform/files.h"|ok'
  'ui/a.cpp|#include "ui/toolkit/form.h"|ok'
  'installer/a.cpp|#include "dock/usb.h"|ok'
  'hardware/sim/a.cpp|#include "simulated/machine.h"|ok'
  'tests/unit/a.cpp|#include "installer/flash_step.h"|ok'
  'package/a.cpp|#include "ui/dialogs.h"|package/a.cpp:2: includes ui/dialogs.h'
  'ui/a.cpp|#include "installer/install_sequence.h"|ui/a.cpp:2: includes installer/install_sequence.h'
  'common/a.h|#include "package/vbios_configs.h"|common/a.h:2: includes package/vbios_configs.h'
  'dock/a.cpp|#include "package/read_configs.h"|dock/a.cpp:2: includes package/read_configs.h'
  'package/a.cpp|#include "platform/posix/native_files.h"|includes platform/posix/native_files.h'
  'platform/win32/a.cpp|#include "hardware/power.h"|includes hardware/power.h'
  'platform/win32/a.cpp|#include "simulated/machine.h"|includes simulated/machine.h'
  'hardware/win32/a.cpp|#include "simulated/machine.h"|includes simulated/machine.h'
  'hardware/win32/a.cpp|#include "platform/posix/native_files.h"|includes platform/posix/native_files.h'
  'ui/toolkit/win32/a.cpp|#include "ui/toolkit/headless/answers.h"|includes ui/toolkit/headless/answers.h'
  'installer/a.cpp|#include "tests/unit/test_machine.h"|includes tests/unit/test_machine.h'
  'package/a.cpp|  #  include <ui/dialogs.h>|includes ui/dialogs.h'
  'newlayer/a.cpp|#include "platform/files.h"|folder newlayer has no layer rule'
)

passed=0
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r file include expect <<<"$c"
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/platform" "$tree/$(dirname "$file")"
  printf '#include "platform/files.h"\n' >"$tree/platform/files.cpp"
  printf '// planted\n%s\n#include <string>\n' "$include" >"$tree/$file"
  out=$(bash "$check" "$tree" 2>&1)
  rc=$?
  if [ "$expect" = ok ]; then
    good=$([ $rc -eq 0 ] && echo 1 || echo 0)
  else
    good=$([ $rc -ne 0 ] && grep -qF -- "$expect" <<<"$out" && echo 1 || echo 0)
  fi
  if [ "$good" = 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $file with '$include' (expected: $expect, exit $rc):"
    echo "$out" | sed 's/^/  /'
  fi
done

echo "check-layers test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
