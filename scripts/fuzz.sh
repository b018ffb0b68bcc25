#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer in
# build/fuzz and runs each for FUZZ_SECONDS (default 60), one after the other. FUZZ_TARGETS picks
# some of them (names as in fuzz/CMakeLists.txt). New inputs collect in build/fuzz/corpus/<target>,
# crashing ones in build/fuzz/artifacts/<target>; the seed corpus in fuzz/corpus is only read.
# Prints executions, coverage and crashes per target; fails when any target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=build/fuzz
read -r -a targets <<<"${FUZZ_TARGETS:-$(sed -n 's/^orvex_add_fuzzer(\([a-z0-9_]*\) .*/\1/p' fuzz/CMakeLists.txt | tr '\n' ' ')}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVEX_FUZZ=ON -DORVEX_SANITIZE="address;undefined" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

crashed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  log=$build/$target.log
  # libFuzzer writes new inputs into the first folder only.
  status=0
  "$build/fuzz/$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  found=$(find "$artifacts" -type f | wc -l)
  echo "$target: ${executions:-?} executions, ${coverage:-?} edges, $found crashing inputs (exit $status)"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then crashed=1; fi
done
exit $crashed
