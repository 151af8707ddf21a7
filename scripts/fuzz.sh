#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ (or $QUIBLINK_FUZZ_DIR) and runs
# each for a fixed time, starting from its seed corpus and from what earlier
# runs in the same build folder found.
#
#   scripts/fuzz.sh [seconds per target] [target ...]
#     seconds: default 30 (the CI form); targets: default all of them
#   scripts/fuzz.sh --merge [target ...]
#     folds the inputs found so far into tests/fuzz/corpus/<target>/, keeping
#     only those that add coverage (to commit as regression inputs)
#
# A crash, a leak, a hang (20 s per input) or a broken check stops the run
# with a non-zero exit; the input that did it is kept in
# $build/artifacts/<target>-crash-... and can be replayed with
#   $build/tests/fuzz/fuzz_<target> <file>
# Each target's last line of figures (executions, coverage, corpus) goes to
# $build/figures.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${QUIBLINK_FUZZ_DIR:-build-fuzz}

merge=0
if [[ ${1:-} == --merge ]]; then
  merge=1
  shift
fi
seconds=30
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in tests/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi

# libFuzzer's runtime comes apart from the compiler on Debian.
runtime=$(clang -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a
if [[ ! -f $runtime ]]; then
  package=libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev
  echo "installing $package"
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "$package"
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -DQUIBLINK_FUZZ=ON -DQUIBLINK_TESTS=OFF \
  -DQUIBLINK_TOOLS=OFF -DQUIBLINK_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

mkdir -p "$build/artifacts"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  program=$build/tests/fuzz/fuzz_$target
  work=$build/corpus/$target
  seeds=$root/tests/fuzz/corpus/$target
  mkdir -p "$work"
  if ((merge)); then
    echo "== merging $target into $seeds"
    "$program" -merge=1 "$seeds" "$work" 2>&1 | tail -n 2
    continue
  fi
  echo "== $target: ${seconds}s"
  log=$build/$target.log
  status=0
  "$program" "$work" "$seeds" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
    >"$log" 2>&1 || status=$?
  figures=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  echo "$target: ${runs:-?} executions in ${seconds}s; last: $figures" | tee -a "$build/figures.txt"
  if ((status != 0)); then
    grep -E 'ERROR|SUMMARY|tests/fuzz/.*: ' "$log" | head -n 20 || true
    echo "fuzz target $target failed; see $log and $build/artifacts/" >&2
    exit 1
  fi
done
