#!/usr/bin/env bash
# Stress and fault soak of the shared library against simulator processes on
# pseudo-terminals, in real time (tests/stress). Builds build-stress/ (or
# $QUIBLINK_STRESS_DIR) and runs both programs; each stops by itself.
#
#   scripts/stress.sh           the short forms, as ctest runs them (about 1.5 min)
#   scripts/stress.sh --long    1000 calls per thread at line speed, 60 rounds
#                               per terminal with longer transfers and faults
#                               that wait out the reply time-out three times
#                               (about an hour)
# Further arguments go to the configure step, e.g.
#   QUIBLINK_STRESS_DIR=build-stress-tsan scripts/stress.sh --long -DQUIBLINK_SANITIZE=thread
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUIBLINK_STRESS_DIR:-build-stress}

stress_args=(--ops 20)
soak_args=()
if [[ ${1:-} == --long ]]; then
  shift
  stress_args=(--ops 1000 --pacing)
  soak_args=(--rounds 60 --long)
fi

cmake -S . -B "$build" -DQUIBLINK_BENCH=OFF "$@" >/dev/null
cmake --build "$build" -j2 --target quiblink-stress quiblink-soak
seed=${QUIBLINK_STRESS_SEED:-$RANDOM}
echo "seed $seed (QUIBLINK_STRESS_SEED=$seed repeats this run)"
"$build/tests/stress/quiblink-stress" "${stress_args[@]}" --seed "$seed"
"$build/tests/stress/quiblink-soak" "${soak_args[@]}" --seed "$seed"
