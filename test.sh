#!/usr/bin/env bash
# Installs what is missing, builds with g++ and with clang, and runs every test: the unit and GL
# tests (each GL test program on an Xvfb of its own), the library's and the loaders' tests under
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer, and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup-debian.sh

parkhaus_ensure_packages "${PARKHAUS_RUN_PACKAGES[@]}" "${PARKHAUS_BUILD_PACKAGES[@]}" "${PARKHAUS_TEST_PACKAGES[@]}"

jobs=$(nproc)
fuzz_seconds=${PARKHAUS_FUZZ_SECONDS:-30}

echo "== Build (g++)"
cmake -S . -B build -G Ninja -DPARKHAUS_WERROR=ON -DBUILD_TESTING=ON -DPARKHAUS_BENCH=ON >/dev/null
cmake --build build -j "$jobs"

echo "== Build (clang, sanitizers, fuzzers)"
cmake -S . -B build-san -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DPARKHAUS_WERROR=ON -DPARKHAUS_SANITIZE=ON -DPARKHAUS_FUZZ=ON -DBUILD_TESTING=ON -DPARKHAUS_BENCH=OFF >/dev/null
cmake --build build-san -j "$jobs"

# No test may make a sound on this machine's speakers.
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

failed=0
total_passed=0
total_failed=0
total_skipped=0
# Runs ctest with the given arguments and adds the counts of its JUnit report to the totals: a
# test that skipped itself (CTest's skip expression matched) counts as skipped, not passed.
run_ctest() {
  local report counts
  report=$(mktemp)
  set +e
  ctest "$@" --output-on-failure --output-junit "$report"
  local rc=$?
  set -e
  counts=$(python3 - "$report" <<'PY'
import sys, xml.etree.ElementTree as ET
try:
    suite = ET.parse(sys.argv[1]).getroot()
except (OSError, ET.ParseError):
    print(0, 0, 0)
    sys.exit()
# A test that could not be run counts as failed, as CTest counts it; a disabled one not at all.
passed = failed = skipped = 0
for case in suite.iter('testcase'):
    status, skip = case.get('status'), case.find('skipped')
    if status == 'run':
        passed += 1
    elif skip is not None and skip.get('message', '').startswith('SKIP_'):
        skipped += 1
    elif status != 'disabled':
        failed += 1
print(passed, failed, skipped)
PY
)
  rm -f "$report"
  read -r p f s <<<"$counts"
  total_passed=$((total_passed + p))
  total_failed=$((total_failed + f))
  total_skipped=$((total_skipped + s))
  [ "$rc" -eq 0 ] || failed=1
}

echo "== Tests (g++ build)"
run_ctest --test-dir build -j "$jobs"

echo "== Tests under ASan, UBSan and LSan (clang build)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_ctest --test-dir build-san -L '^(zare|sanitize)$' -j "$jobs"

echo "== Fuzzers: replay the committed corpora, then fuzz ${fuzz_seconds} s each"
for corpus_file in build-san/fuzz/*.corpus; do
  [ -e "$corpus_file" ] || continue
  name=$(basename "$corpus_file" .corpus)
  bin=build-san/fuzz/$name
  corpus=$(head -n1 "$corpus_file")
  work=build-san/fuzz-work/$name
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  if "$bin" -runs=0 "$corpus"/ >"$work/replay.log" 2>&1; then
    total_passed=$((total_passed + 1))
    echo "$name: corpus replayed ($(ls "$corpus" | wc -l) inputs)"
  else
    total_failed=$((total_failed + 1)); failed=1
    echo "$name: FAILED on the committed corpus"; tail -n 30 "$work/replay.log"
  fi
  if "$bin" -max_total_time="$fuzz_seconds" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
       "$work/corpus" "$corpus" >"$work/fuzz.log" 2>&1; then
    total_passed=$((total_passed + 1))
    echo "$name: $(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$work/fuzz.log" | grep -Eo '[0-9]+$' || echo '?') runs, no fault"
  else
    total_failed=$((total_failed + 1)); failed=1
    echo "$name: FAULT found; input kept in $work/artifacts/"; tail -n 40 "$work/fuzz.log"
  fi
done

echo "parkhaus: $total_passed passed, $total_failed failed, $total_skipped skipped"
exit $failed
