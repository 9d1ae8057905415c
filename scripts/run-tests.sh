#!/usr/bin/env bash
# Runs every test of every build and ends with one "N passed, N failed" line.
# Usage: scripts/run-tests.sh <build root> [quick]
#   quick: only the layer check and the linux build's unit and end-to-end tests
set -uo pipefail
build=${1:?build root}
quick=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
passed=0
failed=0
log=$build/test-logs
mkdir -p "$log"

count_ctest() {  # name, output file, ctest exit code
  local line total bad
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$2" | tail -n 1)
  if [ -z "$line" ]; then
    echo "$1: no test summary (exit $3)"
    failed=$((failed + 1))
    return
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  echo "$1: $line"
  [ "$bad" -eq 0 ] || grep -E '^\s+[0-9]+ - ' "$2" | head -n 40
}

run_ctest() {  # name, build dir, [env...]
  local name=$1 dir=$2
  shift 2
  env "$@" ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure --timeout 600 >"$log/$name.txt" 2>&1
  count_ctest "$name" "$log/$name.txt" $?
}

echo "== layers: include directions, and the check itself on planted includes"
if bash "$root/scripts/check-layers.sh" >"$log/layers.txt" 2>&1; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi
tail -n 1 "$log/layers.txt"
grep -v '^layers:' "$log/layers.txt" | head -n 20
bash "$root/tests/layers/check_layers_test.sh" >"$log/layers-test.txt" 2>&1
layer_line=$(tail -n 1 "$log/layers-test.txt")
if [[ $layer_line =~ ^check-layers\ test:\ ([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
  echo "$layer_line"
  [ "${BASH_REMATCH[2]}" -eq 0 ] || grep -A3 '^FAIL' "$log/layers-test.txt" | head -n 20
else
  echo "check-layers test: no summary (see $log/layers-test.txt)"
  failed=$((failed + 1))
fi

echo "== linux: unit and end-to-end tests"
run_ctest linux "$build/linux"
if [ "$quick" = quick ]; then
  echo
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
fi

echo "== linux with AddressSanitizer and UBSan"
run_ctest linux-asan "$build/linux-asan" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

echo "== windows: the win32 backends under Wine"
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$build/windows/bin" >"$log/wine-prefix.txt" 2>&1 ||
  { echo "wine prefix: failed (see $log/wine-prefix.txt)"; failed=$((failed + 1)); }
wineserver -p 2>/dev/null
# One X display for every Windows test. Wine's own background programs are
# started first with their output elsewhere: started by a test, they would
# inherit ctest's pipe and keep it open long after the test has ended.
rm -f "$log/wine-drivers.rc" "$log/windows.rc"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  wine "$1/windows/bin/ovvb_drivers.exe" install </dev/null >"$2/wine-drivers.txt" 2>&1 ||
    wine "$1/windows/bin/ovvb_drivers.exe" install </dev/null >"$2/wine-drivers.txt" 2>&1
  echo $? >"$2/wine-drivers.rc"
  ctest --test-dir "$1/windows" -j 1 --output-on-failure --timeout 600 >"$2/windows.txt" 2>&1
  echo $? >"$2/windows.rc"
  bash "$3/tests/e2e/windows_e2e.sh" "$1" >"$2/windows-sim.txt" 2>&1
  OVVB_PRODUCT_SESSION=1 bash "$3/tests/e2e/windows_product_e2e.sh" "$1" >"$2/windows-product.txt" 2>&1' \
  _ "$build" "$log" "$root"
# The kernel-mode stand-ins for the dock controller and \\.\ZELACPI are
# installed once into the prefix inside the display session above (a rebuilt
# driver replaces the installed one): a Wine started before it would start
# Wine's desktop without a display and no test window could be created. Output
# to a file: the driver services this starts would keep a pipe open. A second
# try, because right after a cold start the first one was once seen to end early.
if [ "$(cat "$log/wine-drivers.rc" 2>/dev/null)" = 0 ]; then
  echo "wine test drivers: installed"
  passed=$((passed + 1))
else
  echo "wine test drivers: FAILED to install: $(tail -n 1 "$log/wine-drivers.txt" 2>/dev/null)"
  failed=$((failed + 1))
fi
count_ctest windows "$log/windows.txt" "$(cat "$log/windows.rc" 2>/dev/null)"

count_summary() {  # name, output file: its "<name>: N passed, N failed" line counted
  local line p f
  line=$(grep -E "^$1: [0-9]+ passed, [0-9]+ failed\$" "$2" | tail -n 1)
  if [ -n "$line" ]; then
    p=$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")
    f=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")
    passed=$((passed + p))
    failed=$((failed + f))
    echo "$line"
    [ "$f" -eq 0 ] || grep -E '^FAIL' "$2"
  else
    echo "$1: no summary (see $2)"
    failed=$((failed + 1))
  fi
}

echo "== windows-sim: the Windows program end to end under Wine"
count_summary windows-sim "$log/windows-sim.txt"

echo "== windows product: the shipped program on the linux rows' machines under Wine"
count_summary "windows product" "$log/windows-product.txt"
grep -E '^windows product: the rows took' "$log/windows-product.txt"
wineserver -k 2>/dev/null

echo "== fuzzing the parsers of outside input"
for entry in fuzz_read_configs:20 fuzz_ai_output:20 fuzz_dock_response:10 fuzz_acpi_output:10 fuzz_package_check:10 fuzz_log_explain:10 fuzz_vbios_image:10 fuzz_package_manifest:10; do
  target=${entry%:*}
  corpus=$build/fuzz/corpus-${target#fuzz_}
  mkdir -p "$corpus"
  # Real images to start from: 55 AA and a PCI data structure are not found by chance in 10 s.
  [ "$target" = fuzz_vbios_image ] && cp "$root"/examples/packages/*/*.rom "$corpus/"
  if "$build/fuzz/bin/$target" -max_total_time=${entry#*:} -print_final_stats=0 "$corpus" >"$log/$target.txt" 2>&1; then
    passed=$((passed + 1))
    echo "$target: $(grep -Eo 'Done [0-9]+ runs' "$log/$target.txt" | tail -n 1), no finding"
  else
    failed=$((failed + 1))
    echo "$target: FAILED (see $log/$target.txt)"
  fi
done

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
