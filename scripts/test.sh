#!/usr/bin/env bash
# Configures build/ (or $QUIBLINK_BUILD_DIR), builds with two jobs and runs
# every test. Extra arguments go to the configure step, e.g.
#   QUIBLINK_BUILD_DIR=build-asan ./scripts/test.sh -DQUIBLINK_SANITIZE=address,undefined
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${QUIBLINK_NO_DEPS:-}" ] || ./scripts/deps.sh
build=${QUIBLINK_BUILD_DIR:-build}
cmake -S . -B "$build" "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2
