#!/usr/bin/env bash
# Configures build/ (or $QUIBLINK_BUILD_DIR), builds with two jobs and runs
# every test. Extra arguments go to the configure step, e.g.
#   QUIBLINK_BUILD_DIR=build-asan ./scripts/test.sh -DQUIBLINK_SANITIZE=address,undefined
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${QUIBLINK_NO_DEPS:-}" ] || ./scripts/deps.sh test
build=${QUIBLINK_BUILD_DIR:-build}
# ccache, where installed, lets a second build of the same sources (the Debian
# packages' build in CI, a rebuild after switching branches) reuse objects.
launcher=()
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DQUIBLINK_TESTS=ON "${launcher[@]}" "$@"
cmake --build "$build" -j2
# A test without a time limit of its own gets 300 s, so a hang cannot eat a
# CI run; a build that registers no test at all is a failure.
# QUIBLINK_CTEST_ARGS adds ctest options, e.g. "-LE slow" to skip the cases that
# wait out real reply time-outs.
# shellcheck disable=SC2086
ctest --test-dir "$build" --output-on-failure -j2 ${QUIBLINK_CTEST_ARGS:-} --timeout 300 --no-tests=error
