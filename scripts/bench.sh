#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: the codec throughput, then
# every transfer against the simulator (several minutes; --quick for a smoke
# run of about a minute). Arguments go to quiblink-bench, e.g.
#   ./scripts/bench.sh --quick
#   ./scripts/bench.sh --mode wake --only graphic,latency
# Build folder: build-bench/ (or $QUIBLINK_BUILD_DIR). See docs/performance.md.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUIBLINK_BUILD_DIR:-build-bench}
# -O2: GCC 12 at -O3 warns falsely (-Wrestrict) about some std::string assignments.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUIBLINK_TESTS=OFF -DQUIBLINK_TOOLS=ON -DQUIBLINK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target quiblink-sim quiblink-bench
if cmake --build "$build" -j2 --target quiblink-codec-bench >/dev/null 2>&1; then
  echo "== codec: frames built and decoded per second"
  "$build/bench/quiblink-codec-bench" --benchmark_min_time=0.2
else
  echo "== codec benchmark skipped: Google Benchmark (libbenchmark-dev) is not installed"
fi
echo "== transfers against the simulator, paced at the line speed"
"$build/bench/quiblink-bench" "$@"
